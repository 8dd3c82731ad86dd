# Writes OUTPUT: the file NOTICE followed by the file INPUT, so that a
# library embedded in the page carries its licence notice. Run as
#   cmake -DNOTICE=n.js -DINPUT=lib.js -DOUTPUT=out.js -P with_notice.cmake
file(READ "${NOTICE}" notice)
file(READ "${INPUT}" content)
file(WRITE "${OUTPUT}.tmp" "${notice}${content}\n")
file(COPY_FILE "${OUTPUT}.tmp" "${OUTPUT}" ONLY_IF_DIFFERENT)
file(REMOVE "${OUTPUT}.tmp")
