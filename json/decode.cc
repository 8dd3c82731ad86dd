#include "json/decode.h"

#include <string>

#include "json/write.h"

namespace varnock::json {
namespace {

constexpr std::string_view kInvalidType = "invalid type: ";
constexpr std::string_view kExpected = ", expected ";
constexpr std::string_view kMissingField = "missing field `";
constexpr std::string_view kInvalidLength = "invalid length ";
constexpr std::string_view kHexDigits = "0123456789abcdef";

// The lead byte of the two-byte forms of U+0080-U+00BF.
constexpr unsigned char kLatin1Lead = 0xC2;

// Appends `\u{..}` for a control character, in lowercase hex without
// leading zeros.
void append_code_point_escape(unsigned code_point, std::string& out) {
  out += "\\u{";
  if (code_point >= 0x10) out += kHexDigits[code_point >> 4];
  out += kHexDigits[code_point & 0xF];
  out += '}';
}

// Appends the escape for an ASCII control character, quotation mark or
// backslash; false for any other byte, which stands as itself.
bool append_ascii_escape(unsigned char byte, std::string& out) {
  switch (byte) {
    case '"':
      out += "\\\"";
      return true;
    case '\\':
      out += "\\\\";
      return true;
    case '\n':
      out += "\\n";
      return true;
    case '\r':
      out += "\\r";
      return true;
    case '\t':
      out += "\\t";
      return true;
    case '\0':
      out += "\\0";
      return true;
  }
  if (byte < 0x20 || byte == 0x7F) {
    append_code_point_escape(byte, out);
    return true;
  }
  return false;
}

// `text` in double quotes, with the control characters U+0000-U+001F and
// U+007F-U+009F escaped. `text` is valid UTF-8, so U+0080-U+009F are exactly
// the pairs 0xC2 0x80-0x9F.
std::string quote_for_message(std::string_view text) {
  std::string out = "\"";
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto byte = static_cast<unsigned char>(text[i]);
    if (append_ascii_escape(byte, out)) continue;
    const auto next = i + 1 < text.size() ? static_cast<unsigned char>(text[i + 1]) : 0;
    if (byte == kLatin1Lead && next >= 0x80 && next <= 0x9F) {
      append_code_point_escape(next, out);
      ++i;
      continue;
    }
    out += static_cast<char>(byte);
  }
  out += '"';
  return out;
}

std::string in_backticks(std::string_view kind, std::string_view text) {
  std::string out(kind);
  out += " `";
  out += text;
  out += '`';
  return out;
}

}  // namespace

std::string describe_found(const Value& value) {
  switch (value.kind()) {
    case Value::Kind::kNull:
      return "null";
    case Value::Kind::kBool:
      return value.as_bool() ? "boolean `true`" : "boolean `false`";
    case Value::Kind::kUnsigned:
      return in_backticks("integer", std::to_string(value.as_unsigned()));
    case Value::Kind::kSigned:
      return in_backticks("integer", std::to_string(value.as_signed()));
    case Value::Kind::kFloat: {
      std::string number;
      write_float(value.as_float(), number);
      return in_backticks("floating point", number);
    }
    case Value::Kind::kString:
      return "string " + quote_for_message(value.as_string());
    case Value::Kind::kArray:
      return "sequence";
    case Value::Kind::kObject:
      return "map";
  }
  return {};
}

std::string invalid_type(const Value& found, std::string_view expected) {
  std::string out(kInvalidType);
  out += describe_found(found);
  out += kExpected;
  out += expected;
  return out;
}

std::string missing_field(std::string_view name) {
  std::string out(kMissingField);
  out += name;
  out += '`';
  return out;
}

std::string invalid_length(std::size_t length, std::string_view expected) {
  std::string out(kInvalidLength);
  out += std::to_string(length);
  out += kExpected;
  out += expected;
  return out;
}

}  // namespace varnock::json
