#include "utf8_text.h"

#include "json/text.h"

namespace varnock::desk {

std::string valid_utf8(std::string_view text) {
  if (json::is_valid_utf8(text)) return std::string(text);
  constexpr std::string_view kReplacement = "\xEF\xBF\xBD";
  std::string out;
  out.reserve(text.size());
  while (!text.empty()) {
    const bool ascii = static_cast<unsigned char>(text[0]) < 0x80;
    const std::size_t length = ascii ? 1 : json::utf8_sequence_length(text);
    if (length == 0) {
      out += kReplacement;
      text.remove_prefix(1);
    } else {
      out.append(text.data(), length);
      text.remove_prefix(length);
    }
  }
  return out;
}

std::size_t utf16_length(std::string_view text) {
  std::size_t units = 0;
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if ((byte & 0xC0) != 0x80) units += 1;  // one per character ...
    if (byte >= 0xF0) units += 1;           // ... and a surrogate pair past U+FFFF
  }
  return units;
}

}  // namespace varnock::desk
