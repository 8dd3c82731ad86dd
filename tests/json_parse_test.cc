// Reading JSON text: the vectors, then the rules one by one. Most cases are
// (text, expected) pairs: the compact text written back for a value, or the
// failure text with its position. Every case goes through both reading
// paths: the exact one decides, and a value the fast one gives must be the
// same value.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "json/exact_parse.h"
#include "json/fast_parse.h"
#include "json/parse.h"
#include "json/text.h"
#include "json/write.h"
#include "support/vectors.h"

namespace varnock::json {
namespace {

using namespace std::string_literals;

struct Case {
  std::string text;
  std::string expected;
};

// The text written for the value read, or the failure text; checks on the
// way that the fast path refuses the text or agrees with the exact path.
std::string outcome(std::string_view text) {
  Result<Value> exact = exact_parse(text);
  const std::optional<Value> fast = fast_parse(text);
  if (fast) {
    EXPECT_TRUE(exact.ok() && *fast == exact.value()) << "the paths differ on " << text;
  }
  return exact.ok() ? write(exact.value()) : "error: " + exact.failure();
}

// `head`, then `count` zeros, then `tail`: numbers too long to spell out.
std::string with_zeros(std::string_view head, std::size_t count, std::string_view tail) {
  std::string text(head);
  text.append(count, '0');
  text.append(tail);
  return text;
}

void expect_outcomes(const std::vector<Case>& cases, const char* what) {
  for (const auto& c : cases) {
    EXPECT_EQ(outcome(c.text), c.expected) << what << ": " << c.text;
  }
}

TEST(ParseVectors, EveryRecordOfParseTsv) {
  const auto records = test::read_vectors("parse.tsv");
  ASSERT_GT(records.size(), 100u);
  for (const auto& record : records) {
    ASSERT_EQ(record.columns.size(), 3u) << "parse.tsv line " << record.line;
    const std::string text = test::from_hex(record.columns[0]);
    const std::string& kind = record.columns[1];
    const std::string& expected = record.columns[2];
    ASSERT_TRUE(kind == "OK" || kind == "ERR") << "parse.tsv line " << record.line;
    EXPECT_TRUE(is_valid_utf8(text)) << "parse.tsv line " << record.line;
    EXPECT_EQ(outcome(text), kind == "OK" ? expected : "error: " + expected)
        << "parse.tsv line " << record.line << ": " << record.columns[0];
  }
}

TEST(ParsePaths, FastPathTakesPlainRequests) {
  for (const char* text : {R"({"id":1,"method":"tools/list"})", R"([0,1.5,"x",null,true])",
                           R"({"a":0,"b":-1})", "18446744073709551615"}) {
    EXPECT_TRUE(fast_parse(text).has_value()) << text;
  }
}

// What the fast parser cannot represent exactly goes to the exact path.
TEST(ParsePaths, FastPathRefusesWhatItCannotRepresent) {
  const std::string deep = std::string(128, '[') + std::string(128, ']');
  for (const std::string& text : {"-0"s, "[-0]"s, R"({"a":0,"b":"-0"})"s, "18446744073709551616"s,
                                  "-9223372036854775809"s, deep,
                                  "\xEF\xBB\xBF"
                                  "1"s,
                                  "1\0"s, "1e400"s}) {
    EXPECT_FALSE(fast_parse(text).has_value()) << text;
  }
}

// The fast path reads a text in place unless it ends near the end of a
// page; either way what follows the text does not change its value.
TEST(ParsePaths, FastPathReadsOnlyTheText) {
  std::string bytes(3 * 4096, 'x');
  const auto address = reinterpret_cast<std::uintptr_t>(bytes.data());
  const std::size_t page_end = 2 * 4096 - address % 4096;
  const std::string text = R"({"a":[1,"b"]})";
  for (std::size_t end = page_end - 80; end <= page_end + 8; ++end) {
    bytes.replace(end - text.size(), text.size(), text);
    const std::optional<Value> value =
        fast_parse(std::string_view(bytes).substr(end - text.size(), text.size()));
    ASSERT_TRUE(value.has_value()) << end;
    EXPECT_EQ(write(*value), text) << end;
  }
}

TEST(ParseErrors, Structure) {
  expect_outcomes(
      {
          {R"({"a" 1})", "error: expected `:` at line 1 column 6"},
          {"[1 2]", "error: expected `,` or `]` at line 1 column 4"},
          {R"({"a":1 "b":2})", "error: expected `,` or `}` at line 1 column 8"},
          {R"({"a":})", "error: expected value at line 1 column 6"},
          {"[1,]", "error: trailing comma at line 1 column 4"},
          {R"({"a":1,})", "error: trailing comma at line 1 column 8"},
          {R"({"a":1} x)", "error: trailing characters at line 1 column 9"},
          {"{1:2}", "error: key must be a string at line 1 column 2"},
          {"[,1]", "error: expected value at line 1 column 2"},
      },
      "structure");
}

TEST(ParseErrors, EndOfText) {
  expect_outcomes(
      {
          {"", "error: EOF while parsing a value at line 1 column 0"},
          {"   ", "error: EOF while parsing a value at line 1 column 3"},
          {R"({"a":1)", "error: EOF while parsing an object at line 1 column 6"},
          {R"("ab)", "error: EOF while parsing a string at line 1 column 3"},
          {"[1", "error: EOF while parsing a list at line 1 column 2"},
          {R"({"a":)", "error: EOF while parsing a value at line 1 column 5"},
          {"nul", "error: EOF while parsing a value at line 1 column 3"},
          {"-", "error: EOF while parsing a value at line 1 column 1"},
          {"1.", "error: EOF while parsing a value at line 1 column 2"},
          {"1e", "error: EOF while parsing a value at line 1 column 2"},
      },
      "end of text");
}

TEST(ParseErrors, LiteralsAndNumbers) {
  expect_outcomes(
      {
          {"nulx", "error: expected ident at line 1 column 4"},
          {"True", "error: expected value at line 1 column 1"},
          {"[01]", "error: invalid number at line 1 column 3"},
          {"+1", "error: expected value at line 1 column 1"},
          {".5", "error: expected value at line 1 column 1"},
          {"NaN", "error: expected value at line 1 column 1"},
          {"Infinity", "error: expected value at line 1 column 1"},
          {"-Infinity", "error: invalid number at line 1 column 2"},
          {"1.e5", "error: invalid number at line 1 column 3"},
          {"1e400", "error: number out of range at line 1 column 5"},
          {"-1e400", "error: number out of range at line 1 column 6"},
          // Out of range by the digits before the exponent, not by the exponent.
          {with_zeros("1", 400, ""), "error: number out of range at line 1 column 401"},
          {with_zeros("1", 400, "e-50"), "error: number out of range at line 1 column 405"},
      },
      "literals and numbers");
}

TEST(ParseErrors, Strings) {
  expect_outcomes(
      {
          {"\"a\x01\"",
           "error: control character (\\u0000-\\u001F) found while parsing a string "
           "at line 1 column 3"},
          {"\"\t\"",
           "error: control character (\\u0000-\\u001F) found while parsing a string "
           "at line 1 column 2"},
          {R"("\x")", "error: invalid escape at line 1 column 3"},
          {R"("\U0041")", "error: invalid escape at line 1 column 3"},
      },
      "strings");
}

// A \u escape takes the four bytes after it together; a surrogate pair must
// follow at once.
TEST(ParseErrors, HexEscapes) {
  expect_outcomes(
      {
          {R"("\uzz00")", "error: invalid escape at line 1 column 7"},
          {R"("\u1x")", "error: EOF while parsing a string at line 1 column 6"},
          {R"("\u12)", "error: EOF while parsing a string at line 1 column 5"},
          {R"("\u00g0")", "error: invalid escape at line 1 column 7"},
          {R"("\uD800x")", "error: unexpected end of hex escape at line 1 column 8"},
          {R"("\uD800\x")", "error: unexpected end of hex escape at line 1 column 9"},
          {R"("\uD800")", "error: unexpected end of hex escape at line 1 column 8"},
          {R"("\uD800)", "error: EOF while parsing a string at line 1 column 7"},
          {R"("\uD800\)", "error: EOF while parsing a string at line 1 column 8"},
          {R"("\uDC00")", "error: lone leading surrogate in hex escape at line 1 column 7"},
          {R"("\uDFFF")", "error: lone leading surrogate in hex escape at line 1 column 7"},
          {R"("\uD800\u0041")", "error: lone leading surrogate in hex escape at line 1 column 13"},
          {R"("\uDBFF\uD800")", "error: lone leading surrogate in hex escape at line 1 column 13"},
          {R"("\uD800\uzz00")", "error: invalid escape at line 1 column 13"},
      },
      "hex escapes");
}

TEST(ParseErrors, BytesThatCannotStartAValue) {
  expect_outcomes(
      {
          {"\xEF\xBB\xBF"
           "1",
           "error: expected value at line 1 column 1"},
          {"1\0"s, "error: trailing characters at line 1 column 2"},
          {"\0"s, "error: expected value at line 1 column 1"},
          {"\xC2\xA0"
           "1",
           "error: expected value at line 1 column 1"},
          {"1\f", "error: trailing characters at line 1 column 2"},
          {"\v1", "error: expected value at line 1 column 1"},
      },
      "bytes");
}

// Columns count bytes; lines count line feeds; when the text ends early the
// column is the length of the last line.
TEST(ParseErrors, Positions) {
  expect_outcomes(
      {
          {"\"\xC3\xA9\" x", "error: trailing characters at line 1 column 6"},
          {"[\"\xF0\x9F\x98\x80\" 1]", "error: expected `,` or `]` at line 1 column 9"},
          {"[1,\n2 x]", "error: expected `,` or `]` at line 2 column 3"},
          {"{\n\"a\" 1}", "error: expected `:` at line 2 column 5"},
          {"[\n", "error: EOF while parsing a list at line 2 column 0"},
          {"[1,\n\n  ", "error: EOF while parsing a value at line 3 column 2"},
          {"1\r\n2", "error: trailing characters at line 2 column 1"},
      },
      "positions");
}

// Plain string bytes are read a word at a time: a byte that ends a run must
// be found at every offset in a word.
TEST(ParseStrings, FindsTheEndOfAPlainRunAtEveryOffset) {
  for (std::size_t at = 0; at < 20; ++at) {
    const auto quoted = [at](std::string_view middle) {
      std::string text = "\"";
      text.append(at, 'a');
      text.append(middle);
      text.append(20 - at, 'b');
      text += '"';
      return text;
    };
    const std::string column = std::to_string(at + 2);
    EXPECT_EQ(outcome(quoted("\\n")), quoted("\\n")) << at;
    EXPECT_EQ(outcome(quoted("\xC3\xA9")), quoted("\xC3\xA9")) << at;
    EXPECT_EQ(outcome(quoted("\x01")),
              "error: control character (\\u0000-\\u001F) found while parsing a string at line 1 "
              "column " +
                  column)
        << at;
    EXPECT_EQ(outcome(quoted("\xC3(")),
              "error: invalid unicode code point at line 1 column " + column)
        << at;
  }
}

TEST(ParseNesting, ArraysAndObjectsNestAtMost127Deep) {
  const auto nested = [](int depth, const std::string& open, const std::string& close) {
    std::string text;
    for (int i = 0; i < depth; ++i) text += open;
    text += "1";
    for (int i = 0; i < depth; ++i) text += close;
    return text;
  };
  EXPECT_EQ(outcome(nested(127, "[", "]")), nested(127, "[", "]"));
  EXPECT_EQ(outcome(std::string(127, '[') + std::string(127, ']')),
            std::string(126, '[') + "[]" + std::string(126, ']'));
  EXPECT_EQ(outcome(std::string(128, '[')), "error: recursion limit exceeded at line 1 column 128");
  EXPECT_EQ(outcome(nested(128, "[", "]")), "error: recursion limit exceeded at line 1 column 128");
  EXPECT_EQ(outcome(nested(127, R"({"a":)", "}")), nested(127, R"({"a":)", "}"));
  // The 128th "{" is the first byte of the 128th repetition of `{"a":`.
  EXPECT_EQ(outcome(nested(128, R"({"a":)", "}")),
            "error: recursion limit exceeded at line 1 column 636");
  EXPECT_EQ(outcome(nested(64, R"([{"a":)", "}]")),
            "error: recursion limit exceeded at line 1 column 380");
}

TEST(ParseValues, WrittenBackAsRead) {
  expect_outcomes(
      {
          {R"({"b":1,"a":2,"b":3})", R"({"a":2,"b":3})"},
          {R"({"result":1,"jsonrpc":"2.0","id":0})", R"({"id":0,"jsonrpc":"2.0","result":1})"},
          {" \t\r\n[ true , false , null ] \r\n", "[true,false,null]"},
          {R"({"a" : { } , "b" : [ ]})", R"({"a":{},"b":[]})"},
          {R"(["\"\\\/\b\f\n\r\t"])", R"(["\"\\/\b\f\n\r\t"])"},
          {R"("\u00e9\u00E9\u000b\u001F\u007f")", "\"\xC3\xA9\xC3\xA9\\u000b\\u001f\x7F\""},
          {R"("\ud83d\ude00\uD83D\uDE00")", "\"\xF0\x9F\x98\x80\xF0\x9F\x98\x80\""},
          {R"("a\u0000b")", R"("a\u0000b")"},
          {"\"\xE2\x80\xA8\"", "\"\xE2\x80\xA8\""},
      },
      "values");
}

TEST(ParseNumbers, WrittenBackInTheirForms) {
  expect_outcomes(
      {
          {"10", "10"},
          {"1.50", "1.5"},
          {"1e2", "100.0"},
          {"1E+2", "100.0"},
          {"-0", "-0.0"},
          {"-0.0", "-0.0"},
          {"0", "0"},
          {"18446744073709551615", "18446744073709551615"},
          {"18446744073709551616", "1.8446744073709552e+19"},
          {"-9223372036854775808", "-9223372036854775808"},
          {"-9223372036854775809", "-9.223372036854776e+18"},
          {"0.000001", "1e-6"},
          {"1e-400", "0.0"},
          {"-1e-400", "-0.0"},
          {"1.7976931348623157e308", "1.7976931348623157e+308"},
          {"4.9e-324", "5e-324"},
          {with_zeros("1", 400, "e-100"), "1e+300"},
          {with_zeros("0.", 330, "1e5"), "0.0"},
          {with_zeros("-0.", 330, "1"), "-0.0"},
      },
      "numbers");
}

TEST(ParseNumbers, IntegersKeepTheirKind) {
  const auto kind_of = [](std::string_view text) {
    Result<Value> value = parse(text);
    EXPECT_TRUE(value.ok()) << text;
    return value.ok() ? value.value().kind() : Value::Kind::kNull;
  };
  EXPECT_EQ(kind_of("0"), Value::Kind::kUnsigned);
  EXPECT_EQ(kind_of("18446744073709551615"), Value::Kind::kUnsigned);
  EXPECT_EQ(kind_of("-1"), Value::Kind::kSigned);
  EXPECT_EQ(kind_of("-9223372036854775808"), Value::Kind::kSigned);
  EXPECT_EQ(kind_of("-9223372036854775809"), Value::Kind::kFloat);
  EXPECT_EQ(kind_of("18446744073709551616"), Value::Kind::kFloat);
  EXPECT_EQ(kind_of("1.0"), Value::Kind::kFloat);
  EXPECT_EQ(kind_of("1e0"), Value::Kind::kFloat);
  EXPECT_EQ(kind_of("-0"), Value::Kind::kFloat);

  Result<Value> negative_zero = parse("-0");
  ASSERT_TRUE(negative_zero.ok());
  EXPECT_TRUE(std::signbit(negative_zero.value().as_float()));
}

}  // namespace
}  // namespace varnock::json
