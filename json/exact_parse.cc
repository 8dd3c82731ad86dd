#include "json/exact_parse.h"

#include <algorithm>
#include <bit>
#include <charconv>
#include <cstdint>
#include <cstring>
#include <limits>
#include <new>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

#include "json/parse.h"
#include "json/text.h"

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
constexpr const char* kOutOfMemory = "out of memory while parsing at line 1 column 0";

bool is_digit(char c) { return c >= '0' && c <= '9'; }

bool is_hex_digit(char c) {
  return is_digit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

int hex_value(char c) {
  if (is_digit(c)) return c - '0';
  return (c | 0x20) - 'a' + 10;
}

// The bytes of `word` that end a run of plain string bytes, as
// escape_mask() marks them: those that need an escape, and non-ASCII ones.
std::uint64_t plain_run_ends(std::uint64_t word) {
  return (word & 0x8080808080808080u) | escape_mask(word);
}

// The byte that the escape of one letter after a backslash stands for, or
// 0 when there is no such escape.
char escaped_byte(char letter) {
  switch (letter) {
    case '"':
    case '\\':
    case '/':
      return letter;
    case 'b':
      return '\b';
    case 'f':
      return '\f';
    case 'n':
      return '\n';
    case 'r':
      return '\r';
    case 't':
      return '\t';
    default:
      return 0;
  }
}

bool is_plain_ascii(char c) {
  const auto byte = static_cast<unsigned char>(c);
  return byte >= 0x20 && byte < 0x80 && c != '"' && c != '\\';
}

// Appends the code point `c`, which is not a surrogate, as UTF-8.
template <class Out>
void append_utf8(std::uint32_t c, Out& out) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

// Where a string's bytes go when it is only checked, not kept.
struct Discard {
  void append(const char*, std::size_t) {}
  void operator+=(char) {}
};

// Writes bytes one after another from `at` on.
struct InPlace {
  char* at;
  void operator+=(char c) { *at++ = c; }
};

// An integer text in the 64-bit ranges: unsigned without a sign, signed
// with one, and "-0" as the float negative zero. False when out of range.
bool read_integer(std::string_view number, Value& out) {
  const char* first = number.data();
  const char* last = first + number.size();
  if (number[0] != '-') {
    std::uint64_t n = 0;
    if (std::from_chars(first, last, n).ec != std::errc()) return false;
    out = Value(n);
    return true;
  }
  std::int64_t n = 0;
  if (std::from_chars(first, last, n).ec != std::errc()) return false;
  out = n == 0 ? Value(-0.0) : Value(n);
  return true;
}

// The decimal order of magnitude of an unsigned mantissa with a non-zero
// digit: the count of its integer digits, or minus the count of zeros that
// open its fraction when its integer part is zero.
std::int64_t mantissa_order(std::string_view mantissa) {
  if (mantissa.starts_with("0."))
    return -static_cast<std::int64_t>(mantissa.find_first_not_of('0', 2) - 2);
  return static_cast<std::int64_t>(std::min(mantissa.find('.'), mantissa.size()));
}

// The decimal order of magnitude of a number text with a non-zero digit:
// its mantissa's plus its exponent, which must fit in 32 bits.
std::int64_t decimal_order(std::string_view number) {
  if (number.starts_with('-')) number.remove_prefix(1);
  const std::size_t e = number.find_first_of("eE");
  const std::int64_t order = mantissa_order(number.substr(0, e));
  if (e == std::string_view::npos) return order;
  std::string_view digits = number.substr(e + 1);
  if (digits.starts_with('+')) digits.remove_prefix(1);
  std::int64_t exponent = 0;
  std::from_chars(digits.data(), digits.data() + digits.size(), exponent);
  return order + exponent;
}

// A string member's value that the reader only checked: its body is
// text[start, end), still to be decoded into `*into`.
struct LongString {
  std::string* into;
  std::size_t start;
  std::size_t end;
};

// What a reader in taking mode notes: the member strings whose bodies span
// at least `threshold` bytes, and whether any member was given twice (a
// later one replaces an earlier one, which may be among those noted).
struct LongStrings {
  std::size_t threshold;
  std::vector<LongString> found;
  bool duplicate = false;
};

// A strict recursive-descent reader that builds the value as it goes.
// Positions follow one rule: an error found on a byte already consumed is
// reported at the count of consumed bytes; an error found by looking at the
// next byte is reported at that byte (or at the end of the text when there
// is none).
class Reader {
 public:
  explicit Reader(std::string_view text, LongStrings* long_strings = nullptr)
      : text_(text), long_strings_(long_strings) {}

  Result<Value> run() {
    Value root;
    if (value(root) && !trailing_characters()) return root;
    return fail(error_text());
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

  // True (and an error recorded) when more than white space follows.
  bool trailing_characters() {
    skip_white_space();
    return !at_end() && !peek_error(kTrailingCharacters);
  }

  bool value(Value& out) {
    skip_white_space();
    if (at_end()) return peek_error(kEofValue);
    switch (peek()) {
      case 'n':
        ++index_;
        out = Value(nullptr);
        return ident("ull");
      case 't':
        ++index_;
        out = Value(true);
        return ident("rue");
      case 'f':
        ++index_;
        out = Value(false);
        return ident("alse");
      case '-':
        ++index_;
        return number(index_ - 1, out);
      case '"':
        ++index_;
        out = Value(std::string());
        return string(out.as_string());
      case '[':
        return nested(&Reader::array_members, out);
      case '{':
        return nested(&Reader::object_members, out);
      default:
        if (is_digit(peek())) return number(index_, out);
        return peek_error(kExpectedValue);
    }
  }

  bool nested(bool (Reader::*members)(Value&), Value& out) {
    if (++depth_ > kMaxDepth) return peek_error(kRecursionLimit);
    ++index_;
    bool ok = (this->*members)(out);
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

  // At the first byte after the "[".
  bool array_members(Value& out) {
    Value::Array items;
    for (bool first = true;; first = false) {
      skip_white_space();
      if (at_end()) return peek_error(kEofList);
      if (peek() == ']') {
        ++index_;
        out = Value(std::move(items));
        return true;
      }
      if (!first && !next_member(',', ']', kExpectedListCommaOrEnd)) return false;
      if (!value(items.emplace_back())) return false;
    }
  }

  // At the first byte after the "{". Later members with the same name
  // replace earlier ones.
  bool object_members(Value& out) {
    Value::Object members;
    for (bool first = true;; first = false) {
      skip_white_space();
      if (at_end()) return peek_error(kEofObject);
      if (peek() == '}') {
        ++index_;
        out = Value(std::move(members));
        return true;
      }
      if (!first && !next_member(',', '}', kExpectedObjectCommaOrEnd)) return false;
      if (peek() != '"') return peek_error(kKeyMustBeString);
      ++index_;
      std::string name;
      if (!string(name) || !colon()) return false;
      const auto [slot, fresh] = members.try_emplace(std::move(name));
      if (!fresh && long_strings_ != nullptr) long_strings_->duplicate = true;
      if (!member_value(slot->second)) return false;
    }
  }

  // A member's value. Its value stays in the member's node, whose address
  // the object keeps however it is moved, so a long string is only checked
  // here and noted, to be decoded once the whole text has read well.
  bool member_value(Value& out) {
    if (long_strings_ == nullptr) return value(out);
    skip_white_space();
    if (at_end() || peek() != '"') return value(out);
    const std::size_t start = ++index_;
    Discard checked;
    if (!string(checked)) return false;
    out = Value(std::string());
    const std::size_t end = index_ - 1;  // at the closing quote
    if (end - start >= long_strings_->threshold) {
      long_strings_->found.push_back({&out.as_string(), start, end});
      return true;
    }
    index_ = start;
    return string(out.as_string());
  }

  // At the separator before a member that is not the first, which must be
  // followed by something other than the closing bracket.
  bool next_member(char separator, char close, const char* expected) {
    if (peek() != separator) return peek_error(expected);
    ++index_;
    skip_white_space();
    if (at_end()) return peek_error(kEofValue);
    if (peek() == close) return peek_error(kTrailingComma);
    return true;
  }

  bool colon() {
    skip_white_space();
    if (at_end()) return peek_error(kEofObject);
    if (peek() != ':') return peek_error(kExpectedColon);
    ++index_;
    return true;
  }

  // After the opening quote; appends the decoded string to `out`.
  template <class Out>
  bool string(Out& out) {
    for (;;) {
      const std::size_t start = index_;
      skip_plain_bytes();
      out.append(text_.data() + start, index_ - start);
      if (at_end()) return error(kEofString);
      const auto c = static_cast<unsigned char>(text_[index_++]);
      if (c == '"') return true;
      if (c == '\\') {
        if (!escape(out)) return false;
      } else if (c < 0x20) {
        return error(kControlCharacter);
      } else {
        return error(kInvalidUnicode);
      }
    }
  }

  // Moves past the bytes a string holds as they are: printable ASCII other
  // than the quote and backslash, and well-formed UTF-8 sequences. Long
  // runs of them are the bulk of large texts, so ASCII is taken a word at a
  // time.
  void skip_plain_bytes() {
    for (;;) {
      while (text_.size() - index_ >= 8) {
        std::uint64_t word;
        std::memcpy(&word, text_.data() + index_, sizeof word);
        const std::uint64_t ends = plain_run_ends(word);
        if (ends != 0) {
          // The lowest marked byte is the first in memory.
          if constexpr (std::endian::native == std::endian::little) {
            index_ += static_cast<std::size_t>(std::countr_zero(ends)) / 8;
          }
          break;
        }
        index_ += 8;
      }
      while (!at_end() && is_plain_ascii(peek())) ++index_;
      if (at_end()) return;
      const std::size_t length = utf8_sequence_length(text_.substr(index_));
      if (length == 0) return;
      index_ += length;
    }
  }

  // After the backslash.
  template <class Out>
  bool escape(Out& out) {
    if (at_end()) return error(kEofString);
    const char letter = text_[index_++];
    if (letter == 'u') return unicode_escape(out);
    const char byte = escaped_byte(letter);
    if (byte == 0) return error(kInvalidEscape);
    out += byte;
    return true;
  }

  // After "\u": a code unit, and for a leading surrogate its trailing pair.
  template <class Out>
  bool unicode_escape(Out& out) {
    std::uint32_t unit = 0;
    if (!hex_escape(unit)) return false;
    if (unit >= 0xDC00 && unit <= 0xDFFF) return error(kLoneLeadingSurrogate);
    if (unit < 0xD800 || unit > 0xDBFF) {
      append_utf8(unit, out);
      return true;
    }
    for (char expected : {'\\', 'u'}) {
      if (at_end()) return error(kEofString);
      if (text_[index_++] != expected) return error(kUnexpectedEndOfHexEscape);
    }
    std::uint32_t trailing = 0;
    if (!hex_escape(trailing)) return false;
    if (trailing < 0xDC00 || trailing > 0xDFFF) return error(kLoneLeadingSurrogate);
    append_utf8(0x10000 + ((unit - 0xD800) << 10) + (trailing - 0xDC00), out);
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

  // At the first digit; the number's text starts at `start` (its "-", if
  // any).
  bool number(std::size_t start, Value& out) {
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
      if (zero) {
        out = Value(text_[start] == '-' ? -0.0 : 0.0);
        return true;
      }
    }
    const std::string_view text = text_.substr(start, index_ - start);
    if (!is_float && read_integer(text, out)) return true;
    return read_float(text, out);
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

  // The nearest double; too large a magnitude is an error, too small a
  // magnitude reads as zero of the number's sign.
  bool read_float(std::string_view number, Value& out) {
    double d = 0;
    if (std::from_chars(number.data(), number.data() + number.size(), d).ec == std::errc()) {
      out = Value(d);
      return true;
    }
    if (decimal_order(number) > 0) return error(kNumberOutOfRange);
    out = Value(number[0] == '-' ? -0.0 : 0.0);
    return true;
  }

  std::string_view text_;
  LongStrings* long_strings_;
  std::size_t index_ = 0;
  int depth_ = 0;
  bool significant_ = false;  // the current number has a non-zero digit
  const char* message_ = "";
  std::size_t error_index_ = 0;
};

// The four hex digits at `at`, which the reader has checked.
std::uint32_t hex_unit(const char* at) {
  std::uint32_t unit = 0;
  for (int i = 0; i < 4; ++i) unit = unit * 16 + static_cast<std::uint32_t>(hex_value(at[i]));
  return unit;
}

// Decodes the body of a string the reader has checked, text[start, end),
// over its own bytes from `start` on (a decoded string is never longer);
// gives the decoded length.
std::size_t decode_in_place(std::string& text, std::size_t start, std::size_t end) {
  char* const base = text.data();
  InPlace out{base + start};
  for (std::size_t read = start; read < end;) {
    const void* slash = std::memchr(base + read, '\\', end - read);
    const std::size_t run = (slash ? static_cast<const char*>(slash) - base : end) - read;
    if (out.at != base + read) std::memmove(out.at, base + read, run);
    out.at += run;
    read += run;
    if (read == end) break;
    const char letter = base[read + 1];
    read += 2;
    if (letter != 'u') {
      out += escaped_byte(letter);
      continue;
    }
    std::uint32_t unit = hex_unit(base + read);
    read += 4;
    if (unit >= 0xD800 && unit <= 0xDBFF) {  // "\\u" and the trailing unit follow
      unit = 0x10000 + ((unit - 0xD800) << 10) + (hex_unit(base + read + 2) - 0xDC00);
      read += 6;
    }
    append_utf8(unit, out);
  }
  return static_cast<std::size_t>(out.at - (base + start));
}

// Decodes the noted strings in place; the longest becomes the text's own
// buffer, the others are copied out of it first.
void take_long_strings(std::string&& text, const std::vector<LongString>& found) {
  std::vector<std::size_t> sizes;
  for (const LongString& noted : found)
    sizes.push_back(decode_in_place(text, noted.start, noted.end));
  const auto longest =
      static_cast<std::size_t>(std::max_element(sizes.begin(), sizes.end()) - sizes.begin());
  for (std::size_t i = 0; i < found.size(); ++i) {
    if (i != longest) found[i].into->assign(text, found[i].start, sizes[i]);
  }
  std::memmove(text.data(), text.data() + found[longest].start, sizes[longest]);
  text.resize(sizes[longest]);
  *found[longest].into = std::move(text);
}

}  // namespace

Result<Value> parse_taking(std::string&& text, std::size_t long_string) {
  try {
    LongStrings long_strings{long_string, {}};
    Result<Value> parsed = Reader(text, &long_strings).run();
    if (!parsed.ok() || long_strings.found.empty()) return parsed;
    if (long_strings.duplicate) return Reader(text).run();  // its text is still whole
    take_long_strings(std::move(text), long_strings.found);
    return parsed;
  } catch (const std::bad_alloc&) {
    return fail(kOutOfMemory);
  }
}

Result<Value> exact_parse(std::string_view text) {
  try {
    return Reader(text).run();
  } catch (const std::bad_alloc&) {
    return fail(kOutOfMemory);
  }
}

}  // namespace varnock::json
