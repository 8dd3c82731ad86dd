// How the decoder messages describe the value found.
#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "json/decode.h"

namespace varnock::json {
namespace {

using namespace std::string_literals;

struct FoundCase {
  Value value;
  std::string description;
};

TEST(DescribeFound, EachKindOfValue) {
  const std::vector<FoundCase> cases = {
      {Value(), "null"},
      {Value(true), "boolean `true`"},
      {Value(false), "boolean `false`"},
      {Value(std::uint64_t{5}), "integer `5`"},
      {Value(std::int64_t{-5}), "integer `-5`"},
      {Value(std::numeric_limits<std::uint64_t>::max()), "integer `18446744073709551615`"},
      {Value(std::numeric_limits<std::int64_t>::min()), "integer `-9223372036854775808`"},
      {Value(Value::Array{Value(std::uint64_t{1})}), "sequence"},
      {Value(Value::Array{}), "sequence"},
      {Value(Value::Object{{"a", Value()}}), "map"},
      {Value(Value::Object{}), "map"},
  };
  for (const auto& c : cases) EXPECT_EQ(describe_found(c.value), c.description);
}

TEST(DescribeFound, FloatsAsTheWriterWritesThem) {
  const std::vector<FoundCase> cases = {
      {Value(1.5), "floating point `1.5`"},
      {Value(1.0), "floating point `1.0`"},
      {Value(-0.0), "floating point `-0.0`"},
      {Value(0.0), "floating point `0.0`"},
      {Value(1e20), "floating point `1e+20`"},
      {Value(1e-6), "floating point `1e-6`"},
      {Value(0.00001), "floating point `0.00001`"},
      {Value(5e-324), "floating point `5e-324`"},
      {Value(1e15), "floating point `1000000000000000.0`"},
  };
  for (const auto& c : cases) EXPECT_EQ(describe_found(c.value), c.description);
}

TEST(DescribeFound, StringsQuotedWithTheirEscapes) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"", R"(string "")"},
      {"abc", R"(string "abc")"},
      {"a\"b\\c\n\r\t\0d"s, R"(string "a\"b\\c\n\r\t\0d")"},
      {"\x01", R"(string "\u{1}")"},
      {"\x08", R"(string "\u{8}")"},
      {"\x0B\x0C", R"(string "\u{b}\u{c}")"},
      {"\x1F", R"(string "\u{1f}")"},
      {"\x7F", R"(string "\u{7f}")"},
      {"\xC2\x80", R"(string "\u{80}")"},
      {"\xC2\x85", R"(string "\u{85}")"},
      {"\xC2\x9F", R"(string "\u{9f}")"},
      // Everything else stands as itself: slash, backtick, U+00A0 and later.
      {"/`'", R"(string "/`'")"},
      {"\xC2\xA0\xC3\xA9", "string \"\xC2\xA0\xC3\xA9\""},
      {"\xE2\x80\x8C\xE2\x80\xA8\xE3\x80\x80", "string \"\xE2\x80\x8C\xE2\x80\xA8\xE3\x80\x80\""},
      {"\xEF\xBB\xBF\xEF\xBF\xB9", "string \"\xEF\xBB\xBF\xEF\xBF\xB9\""},
      {"\xF0\x9F\x98\x80\xF4\x8F\xBF\xBD", "string \"\xF0\x9F\x98\x80\xF4\x8F\xBF\xBD\""},
      // The text of an escape in the string is itself escaped.
      {R"(a\u{41}"\0)", R"(string "a\\u{41}\"\\0")"},
  };
  for (const auto& [text, description] : cases) {
    EXPECT_EQ(describe_found(Value(text)), description);
  }
}

}  // namespace
}  // namespace varnock::json
