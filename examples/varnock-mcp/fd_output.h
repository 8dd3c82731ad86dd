// Unbuffered output on a descriptor: response lines and diagnostics.
#pragma once

#include <string_view>

namespace varnock {

// Writes all of `bytes` to `fd`, repeating partial and interrupted writes.
// Gives false when a write fails; the bytes not yet written are then lost.
bool write_all(int fd, std::string_view bytes);

// Writes "[varnock-mcp] " + `text` + LF to standard error in one write. A
// diagnostic that cannot be written is dropped: there is nowhere to say so.
void write_diagnostic(std::string_view text);

}  // namespace varnock
