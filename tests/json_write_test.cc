// The compact writer: string escapes, number forms, member order, records.
#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "json/write.h"

namespace varnock::json {
namespace {

using namespace std::string_literals;

std::string written_string(std::string_view text) {
  std::string out;
  write_string(text, out);
  return out;
}

std::string written_float(double number) {
  std::string out;
  write_float(number, out);
  return out;
}

TEST(WriteString, EscapesEachControlCharacter) {
  const char* const kExpected[0x20] = {
      "\\u0000", "\\u0001", "\\u0002", "\\u0003", "\\u0004", "\\u0005", "\\u0006", "\\u0007",
      "\\b",     "\\t",     "\\n",     "\\u000b", "\\f",     "\\r",     "\\u000e", "\\u000f",
      "\\u0010", "\\u0011", "\\u0012", "\\u0013", "\\u0014", "\\u0015", "\\u0016", "\\u0017",
      "\\u0018", "\\u0019", "\\u001a", "\\u001b", "\\u001c", "\\u001d", "\\u001e", "\\u001f",
  };
  for (int c = 0; c < 0x20; ++c) {
    EXPECT_EQ(written_string(std::string(1, static_cast<char>(c))), "\""s + kExpected[c] + "\"")
        << "U+00" << std::hex << c;
  }
}

TEST(WriteString, EscapesQuoteAndBackslashOnly) {
  EXPECT_EQ(written_string("\""), R"("\"")");
  EXPECT_EQ(written_string("\\"), R"("\\")");
  EXPECT_EQ(written_string("a/b"), R"("a/b")");
  EXPECT_EQ(written_string("\x7F"), "\"\x7F\"");
  EXPECT_EQ(written_string(""), R"("")");
}

TEST(WriteString, WritesNonAsciiAsItsBytes) {
  for (const char* text : {"\xC3\xA9", "\xC2\x85", "\xE2\x80\xA8", "\xE2\x80\xA9", "\xEF\xBB\xBF",
                           "\xF0\x9F\x98\x80", "\xF4\x8F\xBF\xBF"}) {
    EXPECT_EQ(written_string(text), "\""s + text + "\"");
  }
}

TEST(WriteString, TabUnitSeparatorAndSlash) {
  EXPECT_EQ(written_string("a\tb\x1F/c\xC3\xA9"), "\"a\\tb\\u001f/c\xC3\xA9\"");
}

// Runs without escapes are copied a word at a time: an escape must be found
// at every offset from a word boundary, next to others, and at either end.
TEST(WriteString, FindsEscapesAtEveryOffset) {
  for (std::size_t length = 1; length < 40; ++length) {
    for (std::size_t at = 0; at < length; ++at) {
      for (const auto& [raw, escaped] :
           std::vector<std::pair<std::string, std::string>>{{"\"", "\\\""},
                                                            {"\\", "\\\\"},
                                                            {"\n", "\\n"},
                                                            {"\0"s, "\\u0000"},
                                                            {"\x1F", "\\u001f"}}) {
        std::string text(length, 'x');
        text.replace(at, 1, raw);
        std::string expected = "\"";
        expected.append(at, 'x').append(escaped).append(length - at - 1, 'x').append("\"");
        EXPECT_EQ(written_string(text), expected) << "length " << length << " at " << at;
      }
    }
  }
}

TEST(WriteString, KeepsBytesNearTheEscapeThresholds) {
  // 0x20, '!', '#', '[', ']' and bytes with the high bit set sit next to the
  // escaped bytes; none is escaped.
  const std::string text = " !#[]\x7F\x80\xA2\xDC\xFF"s + std::string(9, ' ');
  std::string out;
  write_string(text, out);
  EXPECT_EQ(out, "\"" + text + "\"");
}

TEST(WriteString, AppendsToWhatIsThere) {
  std::string out = "x:";
  write_string("y", out);
  EXPECT_EQ(out, "x:\"y\"");
}

struct FloatCase {
  double number;
  const char* text;
};

TEST(WriteFloat, PositionalAndExponentForms) {
  const std::vector<FloatCase> cases = {
      {0.0, "0.0"},
      {-0.0, "-0.0"},
      {1.0, "1.0"},
      {-1.0, "-1.0"},
      {0.5, "0.5"},
      {1.5, "1.5"},
      {-1.5, "-1.5"},
      {100.0, "100.0"},
      {123.456, "123.456"},
      {0.1, "0.1"},
      {0.1 + 0.2, "0.30000000000000004"},
      {123456789.125, "123456789.125"},
      {1234567890123456.8, "1234567890123456.8"},
      {9007199254740992.0, "9007199254740992.0"},
      {-9007199254740992.0, "-9007199254740992.0"},
      {9999999999999998.0, "9999999999999998.0"},
      {1.2345678901234568e16, "1.2345678901234568e+16"},
      {1.8446744073709552e19, "1.8446744073709552e+19"},
      {1e20, "1e+20"},
      {1e21, "1e+21"},
      {1e22, "1e+22"},
      {1e23, "1e+23"},
      {1e100, "1e+100"},
      {-1.23456e80, "-1.23456e+80"},
      {6.02214076e23, "6.02214076e+23"},
      {1.5e-5, "0.000015"},
      {0.0000123, "0.0000123"},
      {0.000012345678901234568, "0.000012345678901234568"},
      {-0.00001, "-0.00001"},
      {1.5e-7, "1.5e-7"},
      {6.62607015e-34, "6.62607015e-34"},
      {1e-22, "1e-22"},
      {1e-307, "1e-307"},
      {1e-308, "1e-308"},
      {DBL_MIN, "2.2250738585072014e-308"},
      {std::nextafter(DBL_MIN, 0.0), "2.225073858507201e-308"},
      {1e-320, "1e-320"},
      {1e-323, "1e-323"},
      {1.5e-323, "1.5e-323"},
      {std::numeric_limits<double>::denorm_min(), "5e-324"},
      {-std::numeric_limits<double>::denorm_min(), "-5e-324"},
      {DBL_MAX, "1.7976931348623157e+308"},
      {-DBL_MAX, "-1.7976931348623157e+308"},
  };
  for (const auto& c : cases) EXPECT_EQ(written_float(c.number), c.text);
}

// The switch between the forms: the exponent of the first digit, -5 to 15
// positional.
TEST(WriteFloat, PowersOfTenAroundTheThresholds) {
  const std::vector<FloatCase> cases = {
      {1e-8, "1e-8"},
      {1e-7, "1e-7"},
      {1e-6, "1e-6"},
      {9.99e-6, "9.99e-6"},
      {1e-5, "0.00001"},
      {1.25e-5, "0.0000125"},
      {1e-4, "0.0001"},
      {1e-1, "0.1"},
      {1e0, "1.0"},
      {1e1, "10.0"},
      {1e14, "100000000000000.0"},
      {1e15, "1000000000000000.0"},
      {9.5e15, "9500000000000000.0"},
      {1e16, "1e+16"},
      {1.5e16, "1.5e+16"},
      {1e17, "1e+17"},
      {-1e15, "-1000000000000000.0"},
      {-1e16, "-1e+16"},
      {-1e-5, "-0.00001"},
      {-1e-6, "-1e-6"},
  };
  for (const auto& c : cases) EXPECT_EQ(written_float(c.number), c.text);
}

// Digits and exponent of a written float, for the property below.
int exponent_of_first_digit(const std::string& text) {
  std::size_t e = text.find('e');
  if (e != std::string::npos) return std::atoi(text.c_str() + e + 1);
  std::size_t first = text.find_first_not_of("-0.");
  std::size_t point = text.find('.');
  if (first == std::string::npos) return 0;
  return first < point ? static_cast<int>(point - first - 1) : -static_cast<int>(first - point);
}

void expect_reads_back_in_its_form(double number) {
  const std::string text = written_float(number);
  const double back = std::strtod(text.c_str(), nullptr);
  EXPECT_EQ(std::memcmp(&back, &number, sizeof back), 0) << text;
  const int exponent = exponent_of_first_digit(text);
  const bool positional = text.find('e') == std::string::npos;
  EXPECT_EQ(positional, exponent >= -5 && exponent <= 15) << text;
  if (positional) {
    EXPECT_NE(text.find('.'), std::string::npos) << text;
  } else {
    EXPECT_TRUE(text.find("e+") != std::string::npos || text.find("e-") != std::string::npos)
        << text;
  }
}

TEST(WriteFloat, AnyBitPatternReadsBackExactly) {
  std::mt19937_64 random(20240611);
  for (int i = 0; i < 20000; ++i) {
    const std::uint64_t bits = random();
    double number;
    std::memcpy(&number, &bits, sizeof number);
    if (std::isfinite(number)) expect_reads_back_in_its_form(number);
  }
}

TEST(WriteFloat, NumbersNearTheThresholdsReadBackExactly) {
  std::mt19937_64 random(7);
  std::uniform_real_distribution<double> mantissa(1.0, 10.0);
  for (int exponent = -8; exponent <= 18; ++exponent) {
    for (int i = 0; i < 300; ++i) {
      const double number = mantissa(random) * std::pow(10.0, exponent);
      expect_reads_back_in_its_form(number);
      expect_reads_back_in_its_form(-number);
    }
  }
}

TEST(WriteValue, Literals) {
  EXPECT_EQ(write(Value()), "null");
  EXPECT_EQ(write(Value(true)), "true");
  EXPECT_EQ(write(Value(false)), "false");
}

TEST(WriteValue, IntegersInPlainDecimal) {
  EXPECT_EQ(write(Value(std::uint64_t{0})), "0");
  EXPECT_EQ(write(Value(std::uint64_t{10})), "10");
  EXPECT_EQ(write(Value(std::numeric_limits<std::uint64_t>::max())), "18446744073709551615");
  EXPECT_EQ(write(Value(std::int64_t{-1})), "-1");
  EXPECT_EQ(write(Value(std::numeric_limits<std::int64_t>::max())), "9223372036854775807");
  EXPECT_EQ(write(Value(std::numeric_limits<std::int64_t>::min())), "-9223372036854775808");
  EXPECT_EQ(write(Value(2.0)), "2.0");
}

TEST(WriteValue, CompactArraysAndObjects) {
  EXPECT_EQ(write(Value(Value::Array{})), "[]");
  EXPECT_EQ(write(Value(Value::Object{})), "{}");
  Value::Object inner{{"k", Value(Value::Array{Value(), Value(true), Value("s")})}};
  Value::Array outer{Value(std::uint64_t{1}), Value(inner), Value(Value::Array{})};
  EXPECT_EQ(write(Value(outer)), R"([1,{"k":[null,true,"s"]},[]])");
}

TEST(WriteValue, ObjectMembersInByteOrderOfKeys) {
  Value::Object response;
  response["result"] = Value(Value::Object{});
  response["jsonrpc"] = Value("2.0");
  response["id"] = Value(std::uint64_t{7});
  response["error"] = Value();
  EXPECT_EQ(write(Value(response)), R"({"error":null,"id":7,"jsonrpc":"2.0","result":{}})");

  Value::Object keys;
  keys["\xC3\xA9"] = Value(std::uint64_t{4});
  keys["a"] = Value(std::uint64_t{3});
  keys["Z"] = Value(std::uint64_t{2});
  keys[""] = Value(std::uint64_t{1});
  keys["ab"] = Value(std::uint64_t{5});
  EXPECT_EQ(write(Value(keys)), "{\"\":1,\"Z\":2,\"a\":3,\"ab\":5,\"\xC3\xA9\":4}");
}

TEST(WriteValue, EscapesKeys) {
  Value::Object object{{"a\"b\n", Value()}};
  EXPECT_EQ(write(Value(object)), R"({"a\"b\n":null})");
}

TEST(WriteValue, AppendsWithWriteTo) {
  std::string out = "[";
  write_to(Value(Value::Array{Value(false)}), out);
  EXPECT_EQ(out, "[[false]");
}

TEST(RecordWriter, KeepsTheOrderMembersWereAdded) {
  RecordWriter writer;
  writer.add("received", true).add("path", "src/a\tb.rs").add("message", std::string("done"));
  EXPECT_EQ(std::move(writer).finish(),
            R"({"received":true,"path":"src/a\tb.rs","message":"done"})");
}

TEST(RecordWriter, EmptyAndSingleMember) {
  EXPECT_EQ(RecordWriter().finish(), "{}");
  RecordWriter writer;
  writer.add("z", false);
  EXPECT_EQ(std::move(writer).finish(), R"({"z":false})");
}

TEST(Member, FindsOnlyMembersOfObjects) {
  Value object(Value::Object{{"id", Value(std::uint64_t{1})}, {"name", Value("x")}});
  ASSERT_NE(member(object, "id"), nullptr);
  EXPECT_EQ(*member(object, "id"), Value(std::uint64_t{1}));
  EXPECT_EQ(member(object, "missing"), nullptr);
  EXPECT_EQ(member(object, "Id"), nullptr);
  EXPECT_EQ(member(Value(), "id"), nullptr);
  EXPECT_EQ(member(Value("id"), "id"), nullptr);
  EXPECT_EQ(member(Value(Value::Array{Value("id")}), "id"), nullptr);

  *member(object, "name") = Value(false);
  EXPECT_EQ(write(object), R"({"id":1,"name":false})");
}

}  // namespace
}  // namespace varnock::json

namespace varnock::json {
namespace {

// Concatenates the pieces a StreamWriter hands to its sink.
std::string streamed(const Value& value, std::size_t chunk_size, std::size_t* pieces = nullptr) {
  std::string text;
  std::size_t count = 0;
  StreamWriter writer(
      [&](std::string_view piece) {
        text.append(piece);
        ++count;
        return true;
      },
      chunk_size);
  EXPECT_TRUE(writer.write(value));
  EXPECT_TRUE(writer.flush());
  if (pieces != nullptr) *pieces = count;
  return text;
}

TEST(StreamWriter, GivesTheSameTextAsWriteForAnyPieceSize) {
  std::string long_text;
  for (int i = 0; i < 500; ++i) long_text += "ab\"c\\d\n\x01\xC3\xA9/";
  Value::Object inner;
  inner.emplace("z", Value(long_text));
  inner.emplace("a", Value(Value::Array{Value(1.5), Value(nullptr), Value(long_text)}));
  Value::Object outer;
  outer.emplace("payload", Value(std::move(inner)));
  outer.emplace("id", Value("edit-1-0"));
  outer.emplace("empty", Value(Value::Object{}));
  outer.emplace("list", Value(Value::Array{}));
  const Value value(std::move(outer));
  for (std::size_t chunk : {1u, 2u, 3u, 7u, 64u, 1000u, 100000u}) {
    EXPECT_EQ(streamed(value, chunk), write(value)) << "chunk " << chunk;
  }
}

TEST(StreamWriter, KeepsPiecesNearTheChunkSize) {
  const Value value(std::string(100000, 'x'));
  std::size_t pieces = 0;
  EXPECT_EQ(streamed(value, 1000, &pieces), write(value));
  EXPECT_GE(pieces, 100u);
}

TEST(StreamWriter, StopsWhenTheSinkRefuses) {
  const Value value(Value::Array{Value(std::string(5000, 'x')), Value(std::string(5000, 'y'))});
  int calls = 0;
  StreamWriter writer(
      [&](std::string_view) {
        ++calls;
        return false;
      },
      100);
  EXPECT_FALSE(writer.write(value));
  EXPECT_FALSE(writer.write_raw("\n"));
  EXPECT_FALSE(writer.flush());
  EXPECT_EQ(calls, 1);
}

}  // namespace
}  // namespace varnock::json
