#include "json/write.h"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "json/text.h"

namespace varnock::json {
namespace {

constexpr std::string_view kNull = "null";
constexpr std::string_view kTrue = "true";
constexpr std::string_view kFalse = "false";
constexpr std::string_view kHexDigits = "0123456789abcdef";

// Floats whose first significant digit has a decimal exponent in this range
// are written positionally; the others in exponent notation.
constexpr int kMinPositionalExponent = -5;
constexpr int kMaxPositionalExponent = 15;

bool needs_escape(unsigned char byte) { return byte < 0x20 || byte == '"' || byte == '\\'; }

// The length of the run at the start of `text` that is written as it
// stands. Strings can be megabytes long, so whole words are tested first.
std::size_t plain_run(std::string_view text) {
  const auto* p = reinterpret_cast<const unsigned char*>(text.data());
  const std::size_t n = text.size();
  std::size_t i = 0;
  for (; i + 8 <= n; i += 8) {
    std::uint64_t word;
    std::memcpy(&word, p + i, sizeof word);
    if (escape_mask(word) != 0) break;
  }
  while (i < n && !needs_escape(p[i])) ++i;
  return i;
}

void append_escape(unsigned char byte, std::string& out) {
  switch (byte) {
    case '"':
      out += "\\\"";
      return;
    case '\\':
      out += "\\\\";
      return;
    case '\b':
      out += "\\b";
      return;
    case '\t':
      out += "\\t";
      return;
    case '\n':
      out += "\\n";
      return;
    case '\f':
      out += "\\f";
      return;
    case '\r':
      out += "\\r";
      return;
    default:
      out += "\\u00";
      out += kHexDigits[byte >> 4];
      out += kHexDigits[byte & 0xF];
  }
}

template <class Integer>
void append_integer(Integer number, std::string& out) {
  char buffer[24];
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, number);
  out.append(buffer, result.ptr);
}

// A non-negative number as its significant digits and the decimal exponent
// of the first one: 1500.0 is {"15", 3}, zero is {"0", 0}.
struct Decimal {
  std::string digits;
  int exponent = 0;
};

// The fewest digits that read back as `magnitude`, a finite number >= 0.
Decimal shortest_decimal(double magnitude) {
  // The shortest round-trip form of to_chars, as "d.ddde+XX".
  char buffer[32];
  const auto result =
      std::to_chars(buffer, buffer + sizeof buffer, magnitude, std::chars_format::scientific);
  const std::string_view text(buffer, static_cast<std::size_t>(result.ptr - buffer));
  const std::size_t e = text.find('e');
  Decimal decimal;
  decimal.digits = text.substr(0, 1);
  if (e > 1) decimal.digits += text.substr(2, e - 2);
  const char* exponent = text.data() + e + 1;
  if (*exponent == '+') ++exponent;
  std::from_chars(exponent, text.data() + text.size(), decimal.exponent);
  return decimal;
}

// `digits` (no leading zero unless it is "0") times ten to the power
// `exponent`, the exponent of the first digit, written as "123.45",
// "0.00012" or "100.0".
void append_positional(std::string_view digits, int exponent, std::string& out) {
  if (exponent < 0) {
    out += "0.";
    out.append(static_cast<std::size_t>(-exponent - 1), '0');
    out += digits;
    return;
  }
  const auto integer_length = static_cast<std::size_t>(exponent) + 1;
  if (digits.size() <= integer_length) {
    out += digits;
    out.append(integer_length - digits.size(), '0');
    out += ".0";
    return;
  }
  out += digits.substr(0, integer_length);
  out += '.';
  out += digits.substr(integer_length);
}

// The same number written as "1.2345e+20" or "5e-324".
void append_exponential(std::string_view digits, int exponent, std::string& out) {
  out += digits[0];
  if (digits.size() > 1) {
    out += '.';
    out += digits.substr(1);
  }
  out += 'e';
  out += exponent < 0 ? '-' : '+';
  append_integer(std::abs(exponent), out);
}

// A hidden character as one "\uXXXX" escape, or two for a surrogate pair.
void append_code_point_escape(char32_t c, std::string& out) {
  if (c > 0xFFFF) {
    append_code_point_escape(0xD800 + ((c - 0x10000) >> 10), out);
    c = 0xDC00 + ((c - 0x10000) & 0x3FF);
  }
  out += "\\u";
  for (int shift = 12; shift >= 0; shift -= 4) out += kHexDigits[(c >> shift) & 0xF];
}

// Writes the character that starts `text` (DEL or a byte above it) as an
// escape when it is hidden, else as it stands; a byte that starts no UTF-8
// sequence is copied alone. Gives the bytes taken.
std::size_t append_wide(std::string_view text, std::string& out) {
  const std::size_t length = text[0] == '\x7F' ? 1 : utf8_sequence_length(text);
  if (length == 0) {
    out += text[0];
    return 1;
  }
  const char32_t c = decode_utf8(text.substr(0, length));
  if (is_hidden_character(c)) {
    append_code_point_escape(c, out);
  } else {
    out.append(text.substr(0, length));
  }
  return length;
}

// As append_escaped, and the hidden characters escaped too.
void append_escaped_hidden(std::string_view text, std::string& out) {
  out.reserve(out.size() + text.size());
  while (!text.empty()) {
    const auto byte = static_cast<unsigned char>(text[0]);
    if (byte >= 0x7F) {
      text.remove_prefix(append_wide(text, out));
      continue;
    }
    if (needs_escape(byte))
      append_escape(byte, out);
    else
      out += text[0];
    text.remove_prefix(1);
  }
}

void write_array(const Value::Array& array, std::string& out, Escapes escapes) {
  out += '[';
  for (std::size_t i = 0; i < array.size(); ++i) {
    if (i > 0) out += ',';
    write_to(array[i], out, escapes);
  }
  out += ']';
}

void write_object(const Value::Object& object, std::string& out, Escapes escapes) {
  out += '{';
  bool first = true;
  for (const auto& [key, value] : object) {
    if (!first) out += ',';
    first = false;
    write_string(key, out, escapes);
    out += ':';
    write_to(value, out, escapes);
  }
  out += '}';
}

}  // namespace

// The string's characters with the system's escapes, without the quotes.
// Escapes concern single ASCII bytes only, so `text` may be cut anywhere.
void append_escaped(std::string_view text, std::string& out) {
  out.reserve(out.size() + text.size());
  for (;;) {
    const std::size_t run = plain_run(text);
    out.append(text.data(), run);
    if (run == text.size()) return;
    append_escape(static_cast<unsigned char>(text[run]), out);
    text.remove_prefix(run + 1);
  }
}

void write_string(std::string_view text, std::string& out, Escapes escapes) {
  out.reserve(out.size() + text.size() + 2);
  out += '"';
  if (escapes == Escapes::kHidden) {
    append_escaped_hidden(text, out);
  } else {
    append_escaped(text, out);
  }
  out += '"';
}

// A Value's float is always finite; anything else is written as null so
// that the text stays JSON.
void write_float(double number, std::string& out) {
  if (!std::isfinite(number)) {
    out += kNull;
    return;
  }
  if (std::signbit(number)) out += '-';
  const Decimal decimal = shortest_decimal(std::fabs(number));
  if (decimal.exponent >= kMinPositionalExponent && decimal.exponent <= kMaxPositionalExponent) {
    append_positional(decimal.digits, decimal.exponent, out);
  } else {
    append_exponential(decimal.digits, decimal.exponent, out);
  }
}

void write_to(const Value& value, std::string& out, Escapes escapes) {
  switch (value.kind()) {
    case Value::Kind::kNull:
      out += kNull;
      return;
    case Value::Kind::kBool:
      out += value.as_bool() ? kTrue : kFalse;
      return;
    case Value::Kind::kUnsigned:
      append_integer(value.as_unsigned(), out);
      return;
    case Value::Kind::kSigned:
      append_integer(value.as_signed(), out);
      return;
    case Value::Kind::kFloat:
      write_float(value.as_float(), out);
      return;
    case Value::Kind::kString:
      write_string(value.as_string(), out, escapes);
      return;
    case Value::Kind::kArray:
      write_array(value.as_array(), out, escapes);
      return;
    case Value::Kind::kObject:
      write_object(value.as_object(), out, escapes);
      return;
  }
}

std::string write(const Value& value, Escapes escapes) {
  std::string out;
  write_to(value, out, escapes);
  return out;
}

StreamWriter::StreamWriter(Sink sink, std::size_t chunk_size)
    : sink_(std::move(sink)), chunk_size_(chunk_size) {
  buffer_.reserve(chunk_size_ + chunk_size_ / 4);
}

bool StreamWriter::write(const Value& value) {
  stream(value);
  return ok_;
}

bool StreamWriter::write_raw(std::string_view bytes) {
  buffer_.append(bytes);
  flush_if_full();
  return ok_;
}

bool StreamWriter::flush() {
  if (ok_ && !buffer_.empty()) ok_ = sink_(buffer_);
  buffer_.clear();
  return ok_;
}

void StreamWriter::flush_if_full() {
  if (buffer_.size() >= chunk_size_) flush();
}

// Containers and long strings are taken apart so the buffer stays near one
// chunk; every other value is small and goes to the buffer whole.
void StreamWriter::stream(const Value& value) {
  if (!ok_) return;
  switch (value.kind()) {
    case Value::Kind::kString:
      stream_string(value.as_string());
      return;
    case Value::Kind::kArray:
      buffer_ += '[';
      for (std::size_t i = 0; i < value.as_array().size() && ok_; ++i) {
        if (i > 0) buffer_ += ',';
        stream(value.as_array()[i]);
      }
      buffer_ += ']';
      return;
    case Value::Kind::kObject:
      buffer_ += '{';
      for (bool first = true; const auto& [key, member] : value.as_object()) {
        if (!first) buffer_ += ',';
        first = false;
        stream_string(key);
        buffer_ += ':';
        stream(member);
        if (!ok_) return;
      }
      buffer_ += '}';
      return;
    default:
      write_to(value, buffer_);
      flush_if_full();
  }
}

void StreamWriter::stream_string(std::string_view text) {
  buffer_ += '"';
  while (ok_ && !text.empty()) {
    const std::string_view piece = text.substr(0, chunk_size_);
    append_escaped(piece, buffer_);
    text.remove_prefix(piece.size());
    flush_if_full();
  }
  buffer_ += '"';
}

RecordWriter& RecordWriter::add(std::string_view name, bool flag) {
  add_name(name);
  out_ += flag ? kTrue : kFalse;
  return *this;
}

RecordWriter& RecordWriter::add(std::string_view name, std::string_view text) {
  add_name(name);
  write_string(text, out_);
  return *this;
}

std::string RecordWriter::finish() {
  out_ += '}';
  return std::move(out_);
}

void RecordWriter::add_name(std::string_view name) {
  if (out_.size() > 1) out_ += ',';
  write_string(name, out_);
  out_ += ':';
}

}  // namespace varnock::json
