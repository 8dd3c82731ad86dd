#include "sample_lines.h"

#include <cstdint>
#include <map>
#include <utility>

#include "json/value.h"
#include "json/write.h"

namespace varnock::bench {

using json::Value;

// Prose with the characters that cost the writer something: line feeds,
// tabs, quotes, backslashes, and two-, three- and four-byte characters.
const std::string_view kParagraph =
    "fn main() {\n\tprintln!(\"caf\xC3\xA9 \\\\ na\xC3\xAFve \xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E "
    "\xF0\x9F\x98\x80\");\n}\n"
    "The quick brown fox jumps over the lazy dog; the path is src/lib/mod.rs and the "
    "numbers are 1, 2.5 and 1e-6. Plain text runs on for a while without anything that "
    "needs escaping, as most source files do between their line breaks.\n";

std::string sample_content(std::size_t size) {
  std::string content;
  while (content.size() < size) content += kParagraph;
  return content;
}

const std::string& request_line(std::size_t size) {
  static std::map<std::size_t, std::string> lines;
  std::string& line = lines[size];
  if (!line.empty()) return line;
  std::string content = sample_content(size);
  Value::Object arguments{{"path", Value("src/lib.rs")},
                          {"content", Value(std::move(content))},
                          {"explanationInMarkdown", Value("Rewrites **main** to print.")}};
  Value::Object params{{"name", Value("write_file")}, {"arguments", Value(std::move(arguments))}};
  Value::Object request{{"jsonrpc", Value("2.0")},
                        {"id", Value(std::uint64_t{7})},
                        {"method", Value("tools/call")},
                        {"params", Value(std::move(params))}};
  line = write(Value(std::move(request)));
  return line;
}

}  // namespace varnock::bench
