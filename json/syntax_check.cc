#include "json/syntax_check.h"

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <limits>

#include "json/parse.h"

namespace varnock::json {
namespace {

constexpr const char* kEofList = "EOF while parsing a list";
constexpr const char* kEofObject = "EOF while parsing an object";
constexpr const char* kEofString = "EOF while parsing a string";
constexpr const char* kEofValue = "EOF while parsing a value";
constexpr const char* kExpectedColon = "expected `:`";
constexpr const char* kExpectedListCommaOrEnd = "expected `,` or `]`";
constexpr const char* kExpectedObjectCommaOrEnd = "expected `,` or `}`";
constexpr const char* kExpectedIdent = "expected ident";
constexpr const char* kExpectedValue = "expected value";
constexpr const char* kInvalidEscape = "invalid escape";
constexpr const char* kInvalidNumber = "invalid number";
constexpr const char* kNumberOutOfRange = "number out of range";
constexpr const char* kInvalidUnicode = "invalid unicode code point";
constexpr const char* kControlCharacter =
    "control character (\\u0000-\\u001F) found while parsing a string";
constexpr const char* kKeyMustBeString = "key must be a string";
constexpr const char* kLoneLeadingSurrogate = "lone leading surrogate in hex escape";
constexpr const char* kUnexpectedEndOfHexEscape = "unexpected end of hex escape";
constexpr const char* kTrailingComma = "trailing comma";
constexpr const char* kTrailingCharacters = "trailing characters";
constexpr const char* kRecursionLimit = "recursion limit exceeded";

bool is_digit(char c) { return c >= '0' && c <= '9'; }

bool is_hex_digit(char c) {
  return is_digit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

int hex_value(char c) {
  if (is_digit(c)) return c - '0';
  return (c | 0x20) - 'a' + 10;
}

// Length of the well-formed UTF-8 sequence at the start of `s`, or 0.
std::size_t utf8_sequence_length(std::string_view s) {
  auto byte = [&](std::size_t i) { return static_cast<unsigned char>(s[i]); };
  const unsigned char lead = byte(0);
  std::size_t length = 0;
  unsigned char low = 0x80, high = 0xBF;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
  } else {
    return 0;
  }
  if (s.size() < length || byte(1) < low || byte(1) > high) return 0;
  for (std::size_t i = 2; i < length; ++i) {
    if (byte(i) < 0x80 || byte(i) > 0xBF) return 0;
  }
  return length;
}

// A strict recursive-descent scanner. Positions follow one rule: an error
// found on a byte already consumed is reported at the count of consumed
// bytes; an error found by looking at the next byte is reported at that
// byte (or at the end of the text when there is none).
class Scanner {
 public:
  explicit Scanner(std::string_view text) : text_(text) {}

  std::optional<std::string> run() {
    if (value() && !trailing()) return std::nullopt;
    return error_text();
  }

 private:
  bool at_end() const { return index_ >= text_.size(); }
  char peek() const { return text_[index_]; }

  // Records an error at the consumed-byte count; always false.
  bool error(const char* message) {
    message_ = message;
    error_index_ = index_;
    return false;
  }
  // Records an error at the next byte; always false.
  bool peek_error(const char* message) {
    message_ = message;
    error_index_ = std::min(text_.size(), index_ + 1);
    return false;
  }

  std::string error_text() const {
    std::size_t line = 1, line_start = 0;
    for (std::size_t i = 0; i < error_index_; ++i) {
      if (text_[i] == '\n') {
        ++line;
        line_start = i + 1;
      }
    }
    return std::string(message_) + " at line " + std::to_string(line) + " column " +
           std::to_string(error_index_ - line_start);
  }

  void skip_white_space() {
    while (!at_end()) {
      char c = peek();
      if (c != ' ' && c != '\n' && c != '\t' && c != '\r') return;
      ++index_;
    }
  }

  bool trailing() {
    skip_white_space();
    return !at_end() && !peek_error(kTrailingCharacters);
  }

  bool value() {
    skip_white_space();
    if (at_end()) return peek_error(kEofValue);
    switch (peek()) {
      case 'n':
        ++index_;
        return ident("ull");
      case 't':
        ++index_;
        return ident("rue");
      case 'f':
        ++index_;
        return ident("alse");
      case '-':
        ++index_;
        return number();
      case '"':
        ++index_;
        return string();
      case '[':
        return nested(&Scanner::array_members);
      case '{':
        return nested(&Scanner::object_members);
      default:
        if (is_digit(peek())) return number();
        return peek_error(kExpectedValue);
    }
  }

  bool nested(bool (Scanner::*members)()) {
    if (++depth_ > kMaxDepth) return peek_error(kRecursionLimit);
    ++index_;
    bool ok = (this->*members)();
    --depth_;
    return ok;
  }

  bool ident(std::string_view rest) {
    for (char expected : rest) {
      if (at_end()) return error(kEofValue);
      if (text_[index_++] != expected) return error(kExpectedIdent);
    }
    return true;
  }

  bool array_members() {
    for (bool first = true;; first = false) {
      skip_white_space();
      if (at_end()) return peek_error(kEofList);
      if (peek() == ']') {
        ++index_;
        return true;
      }
      if (!first) {
        if (peek() != ',') return peek_error(kExpectedListCommaOrEnd);
        ++index_;
        skip_white_space();
        if (at_end()) return peek_error(kEofValue);
        if (peek() == ']') return peek_error(kTrailingComma);
      }
      if (!value()) return false;
    }
  }

  bool object_members() {
    for (bool first = true;; first = false) {
      skip_white_space();
      if (at_end()) return peek_error(kEofObject);
      if (peek() == '}') {
        ++index_;
        return true;
      }
      if (!first) {
        if (peek() != ',') return peek_error(kExpectedObjectCommaOrEnd);
        ++index_;
        skip_white_space();
        if (at_end()) return peek_error(kEofValue);
        if (peek() == '}') return peek_error(kTrailingComma);
      }
      if (peek() != '"') return peek_error(kKeyMustBeString);
      ++index_;
      if (!string() || !colon() || !value()) return false;
    }
  }

  bool colon() {
    skip_white_space();
    if (at_end()) return peek_error(kEofObject);
    if (peek() != ':') return peek_error(kExpectedColon);
    ++index_;
    return true;
  }

  // After the opening quote.
  bool string() {
    for (;;) {
      if (at_end()) return error(kEofString);
      const auto c = static_cast<unsigned char>(text_[index_]);
      if (c == '"') {
        ++index_;
        return true;
      }
      if (c == '\\') {
        ++index_;
        if (!escape()) return false;
      } else if (c < 0x20) {
        ++index_;
        return error(kControlCharacter);
      } else if (c < 0x80) {
        ++index_;
      } else {
        std::size_t length = utf8_sequence_length(text_.substr(index_));
        if (length == 0) {
          ++index_;
          return error(kInvalidUnicode);
        }
        index_ += length;
      }
    }
  }

  // After the backslash.
  bool escape() {
    if (at_end()) return error(kEofString);
    switch (text_[index_++]) {
      case '"':
      case '\\':
      case '/':
      case 'b':
      case 'f':
      case 'n':
      case 'r':
      case 't':
        return true;
      case 'u':
        return unicode_escape();
      default:
        return error(kInvalidEscape);
    }
  }

  // After "\u": a code unit, and for a leading surrogate its trailing pair.
  bool unicode_escape() {
    std::uint32_t unit = 0;
    if (!hex_escape(unit)) return false;
    if (unit >= 0xDC00 && unit <= 0xDFFF) return error(kLoneLeadingSurrogate);
    if (unit < 0xD800 || unit > 0xDBFF) return true;
    for (char expected : {'\\', 'u'}) {
      if (at_end()) return error(kEofString);
      if (text_[index_++] != expected) return error(kUnexpectedEndOfHexEscape);
    }
    if (!hex_escape(unit)) return false;
    if (unit < 0xDC00 || unit > 0xDFFF) return error(kLoneLeadingSurrogate);
    return true;
  }

  // Four hex digits, taken together.
  bool hex_escape(std::uint32_t& unit) {
    if (text_.size() - index_ < 4) {
      index_ = text_.size();
      return error(kEofString);
    }
    unit = 0;
    bool valid = true;
    for (int i = 0; i < 4; ++i) {
      char c = text_[index_++];
      valid = valid && is_hex_digit(c);
      if (valid) unit = unit * 16 + static_cast<std::uint32_t>(hex_value(c));
    }
    return valid || error(kInvalidEscape);
  }

  // At the first digit, after any "-".
  bool number() {
    const std::size_t start = index_ > 0 && text_[index_ - 1] == '-' ? index_ - 1 : index_;
    if (at_end()) return error(kEofValue);
    char first = text_[index_++];
    if (!is_digit(first)) return error(kInvalidNumber);
    if (first == '0' && !at_end() && is_digit(peek())) return peek_error(kInvalidNumber);
    significant_ = first != '0';
    bool is_float = false;
    while (!at_end() && is_digit(peek())) ++index_;
    if (!at_end() && peek() == '.') {
      is_float = true;
      if (!fraction()) return false;
    }
    if (!at_end() && (peek() == 'e' || peek() == 'E')) {
      is_float = true;
      bool zero = false;
      if (!exponent(zero)) return false;
      if (zero) return true;
    }
    return in_range(text_.substr(start, index_ - start), is_float);
  }

  // At the ".".
  bool fraction() {
    ++index_;
    const std::size_t digits = index_;
    for (; !at_end() && is_digit(peek()); ++index_) significant_ |= peek() != '0';
    if (index_ > digits) return true;
    return peek_error(at_end() ? kEofValue : kInvalidNumber);
  }

  // At the "e". An exponent too large for 32 bits ends the number: with a
  // non-zero significand and a positive sign it is out of range right at
  // that digit; otherwise the value is zero and `zero` is set.
  bool exponent(bool& zero) {
    ++index_;
    bool positive = true;
    if (!at_end() && (peek() == '+' || peek() == '-')) positive = text_[index_++] == '+';
    if (at_end()) return error(kEofValue);
    char c = text_[index_++];
    if (!is_digit(c)) return error(kInvalidNumber);
    std::int32_t exponent = c - '0';
    constexpr std::int32_t kMax = std::numeric_limits<std::int32_t>::max();
    while (!at_end() && is_digit(peek())) {
      std::int32_t digit = text_[index_++] - '0';
      if (exponent > (kMax - digit) / 10) {
        if (significant_ && positive) return error(kNumberOutOfRange);
        while (!at_end() && is_digit(peek())) ++index_;
        zero = true;
        return true;
      }
      exponent = exponent * 10 + digit;
    }
    return true;
  }

  // Integers in the 64-bit ranges are exact; every other number is read as
  // a double, which must be finite.
  bool in_range(std::string_view number, bool is_float) {
    if (!is_float && number.size() < 19) return true;
    std::string copy(number);
    if (std::isinf(std::strtod(copy.c_str(), nullptr))) return error(kNumberOutOfRange);
    return true;
  }

  std::string_view text_;
  std::size_t index_ = 0;
  int depth_ = 0;
  bool significant_ = false;  // the current number has a non-zero digit
  const char* message_ = "";
  std::size_t error_index_ = 0;
};

}  // namespace

std::optional<std::string> find_syntax_error(std::string_view text) { return Scanner(text).run(); }

}  // namespace varnock::json
