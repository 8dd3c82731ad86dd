#include "utf8_text.h"

namespace varnock::desk {
namespace {

constexpr std::string_view kReplacement = "\xEF\xBF\xBD";

// The length of the well-formed sequence at the start of `text`, or 0.
std::size_t sequence_length(std::string_view text) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned char lead = byte(0);
  if (lead < 0x80) return 1;
  std::size_t length = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : 2;
  if (lead < 0xC2 || lead > 0xF4 || text.size() < length) return 0;
  // The second byte's range depends on the lead (no overlongs, surrogates
  // or code points past U+10FFFF); the others are plain continuations.
  const unsigned char low = lead == 0xE0 ? 0xA0 : lead == 0xF0 ? 0x90 : 0x80;
  const unsigned char high = lead == 0xED ? 0x9F : lead == 0xF4 ? 0x8F : 0xBF;
  if (byte(1) < low || byte(1) > high) return 0;
  for (std::size_t i = 2; i < length; ++i) {
    if ((byte(i) & 0xC0) != 0x80) return 0;
  }
  return length;
}

}  // namespace

std::string valid_utf8(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  while (!text.empty()) {
    const std::size_t length = sequence_length(text);
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
