#include "json/text.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <utility>

namespace varnock::json {
namespace {

constexpr std::uint64_t kHighBits = 0x8080808080808080u;

// Code points that show nothing, or act on the display, by range.
constexpr std::array<std::pair<char32_t, char32_t>, 31> kHiddenRanges{{
    {0x0000, 0x001F},   {0x007F, 0x009F},   {0x00AD, 0x00AD},   {0x034F, 0x034F},
    {0x061C, 0x061C},   {0x0600, 0x0605},   {0x06DD, 0x06DD},   {0x070F, 0x070F},
    {0x0890, 0x0891},   {0x08E2, 0x08E2},   {0x115F, 0x1160},   {0x180B, 0x180F},
    {0x200B, 0x200F},   {0x2028, 0x202E},   {0x2060, 0x206F},   {0x3164, 0x3164},
    {0xFE00, 0xFE0F},   {0xFEFF, 0xFEFF},   {0xFFA0, 0xFFA0},   {0xFFF9, 0xFFFB},
    {0x110BD, 0x110BD}, {0x110CD, 0x110CD}, {0x13430, 0x1343F}, {0x1BCA0, 0x1BCA3},
    {0x1D173, 0x1D17A}, {0xE0000, 0xE0FFF}, {0x17B4, 0x17B5},   {0x2800, 0x2800},
    {0x1D159, 0x1D159}, {0x1160, 0x1160},   {0xFFFC, 0xFFFC},
}};

std::uint64_t load_word(const unsigned char* p) {
  std::uint64_t word;
  std::memcpy(&word, p, sizeof word);
  return word;
}

// The length of the run of ASCII bytes that starts `p[0, n)`. Lines are
// mostly ASCII, so whole words are tested before single bytes.
std::size_t ascii_run(const unsigned char* p, std::size_t n) {
  std::size_t i = 0;
  while (i + 16 <= n && ((load_word(p + i) | load_word(p + i + 8)) & kHighBits) == 0) i += 16;
  while (i + 8 <= n && (load_word(p + i) & kHighBits) == 0) i += 8;
  while (i < n && p[i] < 0x80) ++i;
  return i;
}

bool is_continuation(unsigned char byte) { return (byte & 0xC0) == 0x80; }

// The byte length of the well-formed multi-byte sequence that starts
// `p[0, n)`, or 0 when it is ill-formed. `p[0]` is not ASCII. The bounds on
// the second byte are what exclude overlong forms, surrogates and code
// points above U+10FFFF.
std::size_t sequence_length(const unsigned char* p, std::size_t n) {
  const unsigned char lead = p[0];
  std::size_t length = 0;
  unsigned char low = 0x80;
  unsigned char high = 0xBF;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) low = 0xA0;   // overlong below U+0800
    if (lead == 0xED) high = 0x9F;  // surrogates U+D800-U+DFFF
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) low = 0x90;   // overlong below U+10000
    if (lead == 0xF4) high = 0x8F;  // above U+10FFFF
  } else {
    return 0;
  }
  if (n < length || p[1] < low || p[1] > high) return 0;
  for (std::size_t i = 2; i < length; ++i) {
    if (!is_continuation(p[i])) return 0;
  }
  return length;
}

bool is_white_space(char32_t c) {
  return (c >= 0x09 && c <= 0x0D) || c == 0x20 || c == 0x85 || c == 0xA0 || c == 0x1680 ||
         (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 || c == 0x202F || c == 0x205F ||
         c == 0x3000;
}

// The code point encoded by the well-formed sequence `p[0, length)`.
char32_t decode(const unsigned char* p, std::size_t length) {
  if (length == 1) return p[0];
  char32_t c = p[0] & (0xFF >> (length + 1));
  for (std::size_t i = 1; i < length; ++i) c = (c << 6) | (p[i] & 0x3F);
  return c;
}

std::size_t leading_length(unsigned char lead) {
  if (lead < 0x80) return 1;
  if (lead < 0xE0) return 2;
  if (lead < 0xF0) return 3;
  return 4;
}

// The byte length of the White_Space character that starts `text`, or 0.
std::size_t white_space_at_start(std::string_view text) {
  const auto* p = reinterpret_cast<const unsigned char*>(text.data());
  const std::size_t length = leading_length(p[0]);
  if (length > text.size()) return 0;
  return is_white_space(decode(p, length)) ? length : 0;
}

// The byte length of the White_Space character that ends `text`, or 0.
std::size_t white_space_at_end(std::string_view text) {
  std::size_t start = text.size() - 1;
  while (start > 0 && text.size() - start < 4 &&
         is_continuation(static_cast<unsigned char>(text[start]))) {
    --start;
  }
  return white_space_at_start(text.substr(start)) == text.size() - start ? text.size() - start : 0;
}

}  // namespace

bool is_valid_utf8(std::string_view bytes) {
  const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
  std::size_t n = bytes.size();
  for (;;) {
    const std::size_t ascii = ascii_run(p, n);
    p += ascii;
    n -= ascii;
    if (n == 0) return true;
    const std::size_t length = sequence_length(p, n);
    if (length == 0) return false;
    p += length;
    n -= length;
  }
}

std::size_t utf8_sequence_length(std::string_view bytes) {
  return sequence_length(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
}

char32_t decode_utf8(std::string_view sequence) {
  return decode(reinterpret_cast<const unsigned char*>(sequence.data()), sequence.size());
}

bool is_hidden_character(char32_t c) {
  for (const auto& [first, last] : kHiddenRanges) {
    if (c >= first && c <= last) return true;
  }
  return false;
}

std::string_view utf8_head(std::string_view text, std::size_t size) {
  if (text.size() <= size) return text;
  std::size_t cut = size;
  for (int back = 0; back < 3 && cut > 0 && is_continuation(text[cut]); ++back) --cut;
  return text.substr(0, cut);
}

std::string_view trim_white_space(std::string_view text) {
  while (!text.empty()) {
    const std::size_t length = white_space_at_start(text);
    if (length == 0) break;
    text.remove_prefix(length);
  }
  while (!text.empty()) {
    const std::size_t length = white_space_at_end(text);
    if (length == 0) break;
    text.remove_suffix(length);
  }
  return text;
}

}  // namespace varnock::json
