#include "visible_text.h"

#include <array>
#include <cstdint>
#include <utility>

#include "json/text.h"

namespace varnock::review {
namespace {

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

char32_t decode(std::string_view sequence) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(sequence[i]); };
  constexpr unsigned char kLeadMask[] = {0, 0x7F, 0x1F, 0x0F, 0x07};
  char32_t c = byte(0) & kLeadMask[sequence.size()];
  for (std::size_t i = 1; i < sequence.size(); ++i) c = (c << 6) | (byte(i) & 0x3Fu);
  return c;
}

void append_hex(std::string& out, std::uint32_t value, int digits) {
  static constexpr char kDigits[] = "0123456789abcdef";
  for (int shift = (digits - 1) * 4; shift >= 0; shift -= 4) out += kDigits[(value >> shift) & 0xF];
}

void append_escape(std::string& out, char32_t c) {
  if (c == '\r' || c == '\n' || c == '\t') {
    out += c == '\r' ? "\\r" : c == '\n' ? "\\n" : "\\t";
  } else if (c < 0x80) {
    out += "\\x";
    append_hex(out, c, 2);
  } else if (c <= 0xFFFF) {
    out += "\\u";
    append_hex(out, c, 4);
  } else {
    out += "\\U";
    append_hex(out, c, 8);
  }
}

// The end of the run from `i` of bytes that are shown as they are without a
// look at their neighbours: printable ASCII, and LF and TAB when lines are
// kept. Most text is such runs, so they are skipped a byte at a time with no
// decoding.
std::size_t plain_run_end(std::string_view text, std::size_t i, bool keep_lines) {
  for (; i < text.size(); ++i) {
    const auto byte = static_cast<unsigned char>(text[i]);
    const bool plain =
        (byte >= 0x20 && byte < 0x7F) || (keep_lines && (byte == '\n' || byte == '\t'));
    if (!plain) break;
  }
  return i;
}

// Walks `text`, escaping into `out` when it is given; without `out`, stops
// at the first character that would be escaped. Gives whether there was one.
bool visible(std::string_view text, bool keep_lines, std::string* out) {
  bool hidden = false;
  for (std::size_t i = 0; i < text.size();) {
    const std::size_t run_end = plain_run_end(text, i, keep_lines);
    if (out != nullptr) out->append(text.substr(i, run_end - i));
    i = run_end;
    if (i == text.size()) break;
    const auto lead = static_cast<unsigned char>(text[i]);
    const std::size_t length = lead < 0x80 ? 1 : json::utf8_sequence_length(text.substr(i));
    const bool broken = length == 0;
    const std::string_view sequence = text.substr(i, broken ? 1 : length);
    const char32_t c = broken ? 0 : decode(sequence);
    const bool escaped = broken || is_hidden_character(c);
    hidden = hidden || escaped;
    i += sequence.size();
    if (out == nullptr) {
      if (hidden) return true;
    } else if (broken) {
      *out += "\\x";
      append_hex(*out, lead, 2);
    } else if (escaped) {
      append_escape(*out, c);
    } else {
      *out += sequence;
    }
  }
  return hidden;
}

Shown shown(std::string_view text, bool keep_lines) {
  Shown result;
  result.text.reserve(text.size());
  result.hidden = visible(text, keep_lines, &result.text);
  return result;
}

}  // namespace

bool is_hidden_character(char32_t c) {
  for (const auto& [first, last] : kHiddenRanges) {
    if (c >= first && c <= last) return true;
  }
  return false;
}

Shown visible_text(std::string_view text) { return shown(text, true); }

Shown visible_name(std::string_view text) { return shown(text, false); }

bool holds_hidden_characters(std::string_view text, bool one_line) {
  return visible(text, !one_line, nullptr);
}

}  // namespace varnock::review
