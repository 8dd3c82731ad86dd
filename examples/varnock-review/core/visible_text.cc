#include "core/visible_text.h"

#include <cstdint>

#include "json/text.h"

namespace varnock::review {
namespace {

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
    const char32_t c = broken ? 0 : json::decode_utf8(sequence);
    const bool escaped = broken || json::is_hidden_character(c);
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

Shown visible_text(std::string_view text) { return shown(text, true); }

Shown visible_name(std::string_view text) { return shown(text, false); }

bool holds_hidden_characters(std::string_view text, bool one_line) {
  return visible(text, !one_line, nullptr);
}

}  // namespace varnock::review
