// The compact writer. Escapes, number forms and member order are pinned by
// the written texts in parse_rules.tsv; here are the properties no table
// shows: escapes at every offset of a word, floats that read back, appending,
// RecordWriter order, member lookup and the streaming writer.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "json/write.h"

namespace varnock::json {
namespace {

using namespace std::string_literals;

// Runs without escapes are copied a word at a time: an escape must be found
// at every offset from a word boundary, and the bytes next to the escaped
// ones (0x20, '!', '#', '[', ']', DEL, any byte with the high bit set) are
// copied as they are.
TEST(WriteString, FindsEscapesAtEveryOffset) {
  const std::vector<std::pair<std::string, std::string>> bytes = {
      {"\"", "\\\""},   {"\\", "\\\\"},   {"\n", "\\n"},    {"\0"s, "\\u0000"}, {"\x1F", "\\u001f"},
      {" ", " "},       {"!", "!"},       {"#", "#"},       {"[", "["},         {"]", "]"},
      {"\x7F", "\x7F"}, {"\x80", "\x80"}, {"\xDC", "\xDC"}, {"\xFF", "\xFF"}};
  for (std::size_t length = 1; length < 40; ++length) {
    for (std::size_t at = 0; at < length; ++at) {
      for (const auto& [raw, escaped] : bytes) {
        std::string text(length, 'x');
        text.replace(at, 1, raw);
        std::string out = "x:";
        write_string(text, out);
        EXPECT_EQ(
            out, "x:\"" + std::string(at, 'x') + escaped + std::string(length - at - 1, 'x') + "\"")
            << "length " << length << " at " << at;
      }
    }
  }
}

// The exponent of the first digit of a written float.
int exponent_of_first_digit(const std::string& text) {
  std::size_t e = text.find('e');
  if (e != std::string::npos) return std::atoi(text.c_str() + e + 1);
  std::size_t first = text.find_first_not_of("-0.");
  std::size_t point = text.find('.');
  if (first == std::string::npos) return 0;
  return first < point ? static_cast<int>(point - first - 1) : -static_cast<int>(first - point);
}

// Reads back to the same bits, positional (with a point) exactly when the
// first digit's exponent is -5 to 15, else with a signed exponent.
void expect_reads_back_in_its_form(double number) {
  std::string text;
  write_float(number, text);
  const double back = std::strtod(text.c_str(), nullptr);
  EXPECT_EQ(std::memcmp(&back, &number, sizeof back), 0) << text;
  const int exponent = exponent_of_first_digit(text);
  const bool positional = text.find('e') == std::string::npos;
  EXPECT_EQ(positional, exponent >= -5 && exponent <= 15) << text;
  const bool marked =
      positional ? text.find('.') != std::string::npos
                 : text.find("e+") != std::string::npos || text.find("e-") != std::string::npos;
  EXPECT_TRUE(marked) << text;
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

TEST(WriteValue, AppendsWithWriteTo) {
  std::string out = "[";
  write_to(Value(Value::Array{Value(false)}), out);
  EXPECT_EQ(out, "[[false]");
}

TEST(RecordWriter, KeepsTheOrderMembersWereAdded) {
  EXPECT_EQ(RecordWriter().finish(), "{}");
  RecordWriter writer;
  writer.add("received", true).add("path", "src/a\tb.rs").add("message", std::string("done"));
  writer.add("z", false);
  EXPECT_EQ(std::move(writer).finish(),
            R"({"received":true,"path":"src/a\tb.rs","message":"done","z":false})");
}

TEST(Member, FindsOnlyMembersOfObjects) {
  Value object(Value::Object{{"id", Value(std::uint64_t{1})}, {"name", Value("x")}});
  ASSERT_NE(member(object, "id"), nullptr);
  EXPECT_EQ(*member(object, "id"), Value(std::uint64_t{1}));
  for (const char* name : {"missing", "Id"}) EXPECT_EQ(member(object, name), nullptr);
  for (const Value& other : {Value(), Value("id"), Value(Value::Array{Value("id")})}) {
    EXPECT_EQ(member(other, "id"), nullptr);
  }
  *member(object, "name") = Value(false);
  EXPECT_EQ(write(object), R"({"id":1,"name":false})");
}

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
  const Value value(Value::Object{{"payload", Value(std::move(inner))},
                                  {"id", Value("edit-1-0")},
                                  {"empty", Value(Value::Object{})},
                                  {"list", Value(Value::Array{})}});
  for (std::size_t chunk : {1u, 2u, 3u, 7u, 64u, 1000u, 100000u}) {
    EXPECT_EQ(streamed(value, chunk), write(value)) << "chunk " << chunk;
  }
  const Value long_string(std::string(100000, 'x'));
  std::size_t pieces = 0;
  EXPECT_EQ(streamed(long_string, 1000, &pieces), write(long_string));
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
