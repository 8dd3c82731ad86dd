#include "servers/line_limits.h"

namespace varnock::review {

std::size_t count_json_values(std::string_view line, std::size_t limit) {
  std::size_t count = 1;
  bool in_string = false;
  bool escaped = false;
  for (const char c : line) {
    if (in_string) {
      if (escaped) {
        escaped = false;
      } else if (c == '\\') {
        escaped = true;
      } else if (c == '"') {
        in_string = false;
      }
      continue;
    }
    if (c == '"') in_string = true;
    if (c == '[' || c == '{' || c == ',' || c == ':') ++count;
    if (count > limit) break;
  }
  return count;
}

}  // namespace varnock::review
