// The JSON layer: reading (every record of parse.tsv and parse_rules.tsv
// through both paths: the exact one decides, and a value the fast one gives
// must be the same value), UTF-8 validation (utf8.tsv), the White_Space trim
// (white_space.tsv), the descriptions in decoder messages (found.tsv), and
// the properties of the writer no table shows: escapes at every offset of a
// word, and streaming. (Number forms are parse.tsv's; that every value reads
// back is the round-trip fuzzer's.)
#include <gtest/gtest.h>
#include <malloc.h>

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "json/decode.h"
#include "json/exact_parse.h"
#include "json/fast_parse.h"
#include "json/parse.h"
#include "json/text.h"
#include "json/write.h"
#include "support/vectors.h"

namespace varnock::json {
namespace {

using namespace std::string_literals;

std::string written(const Result<Value>& parsed) {
  return parsed.ok() ? write(parsed.value()) : "error: " + parsed.failure();
}

// The text written for the value read, or the failure text; checks on the
// way that the fast path refuses the text or agrees with the exact path,
// and that taking member strings of any length from the text changes
// nothing.
std::string outcome(std::string_view text) {
  Result<Value> exact = exact_parse(text);
  const std::optional<Value> fast = fast_parse(text);
  if (fast) {
    EXPECT_TRUE(exact.ok() && *fast == exact.value()) << "the paths differ on " << text;
  }
  for (const std::size_t long_string : {0, 2, 9}) {
    const Result<Value> taken = parse_taking(std::string(text), long_string);
    EXPECT_EQ(written(taken), written(exact)) << "taking from " << text;
    EXPECT_TRUE(!taken.ok() || taken.value() == exact.value()) << "taking from " << text;
  }
  return written(exact);
}

TEST(ParseVectors, EveryRecordOfParseTsvAndParseRulesTsv) {
  for (const std::string file : {"parse.tsv", "parse_rules.tsv"}) {
    const auto records = test::read_vectors(file);
    ASSERT_GT(records.size(), 100u);
    for (const auto& record : records) {
      const std::string text = test::from_hex(record.columns.at(0));
      const std::string& kind = record.columns.at(1);
      ASSERT_TRUE(kind == "OK" || kind == "ERR") << file << " line " << record.line;
      EXPECT_EQ(outcome(text), (kind == "OK" ? "" : "error: ") + record.columns.at(2))
          << file << " line " << record.line;
    }
  }
}

// Member strings taken from the text: several long ones with every kind of
// escape, in nested objects and arrays, and members given twice.
TEST(ParseTaking, GivesWhatParseGives) {
  for (const char* text : {
           R"({"a":"\"\\\/\b\f\n\r\t end","b":{"c":"\u00e9\u4e2d\ud83d\ude00 x","d":[{"e":"plain text"}]}})",
           R"({"a":"long long string","a":"short"})",
           R"({"a":{"b":"long long string"},"a":"short"})",
           R"([{"a":"long long string"},{"b":"long long string, longer"}])",
           R"({"a":"long long string" , "b" : "bad \x escape"})",
       }) {
    outcome(text);
  }
  EXPECT_EQ(written(parse_taking(R"({"b":"0123456789","a":"x\ny"})", 2)),
            R"({"a":"x\ny","b":"0123456789"})");
}

TEST(ParsePaths, FastPathTakesOnlyWhatItCanRepresent) {
  for (const auto& record : test::read_vectors("fast_path.tsv")) {
    EXPECT_EQ(fast_parse(test::from_hex(record.columns[0])).has_value(),
              record.columns[1] == "FAST")
        << "fast_path.tsv line " << record.line;
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

// The fast path keeps its buffers between texts, but not those a huge text
// needed. (Under a sanitizer the allocator's figures stay flat, which passes.)
TEST(ParsePaths, FastPathGivesBackTheBuffersOfAHugeText) {
  const auto in_use = [] {
    const struct mallinfo2 figures = mallinfo2();
    return figures.uordblks + figures.hblkhd;
  };
  ASSERT_TRUE(fast_parse("[1]").has_value());
  const std::size_t before = in_use();
  constexpr std::size_t kHuge = std::size_t{80} << 20;
  {
    const std::string text = '"' + std::string(kHuge, 'a') + '"';
    ASSERT_TRUE(fast_parse(text).has_value());
  }
  EXPECT_LT(in_use(), before + kHuge / 8);
}

// Plain string bytes are read a word at a time: a byte that ends a run must
// be found at every offset in a word.
TEST(ParseStrings, FindsTheEndOfAPlainRunAtEveryOffset) {
  for (std::size_t at = 0; at < 20; ++at) {
    const auto quoted = [at](std::string_view middle) {
      std::string text = "\"";
      text.append(at, 'a').append(middle).append(20 - at, 'b') += '"';
      return text;
    };
    const std::string column = " at line 1 column " + std::to_string(at + 2);
    EXPECT_EQ(outcome(quoted("\\n")), quoted("\\n")) << at;
    EXPECT_EQ(outcome(quoted("\xC3\xA9")), quoted("\xC3\xA9")) << at;
    EXPECT_EQ(outcome(quoted("\x01")),
              "error: control character (\\u0000-\\u001F) found while parsing a string" + column);
    EXPECT_EQ(outcome(quoted("\xC3(")), "error: invalid unicode code point" + column);
  }
}

// The ASCII runs are checked a word at a time: every sequence must be judged
// the same wherever it falls relative to the word boundaries, and whatever
// length of ASCII follows it.
TEST(Utf8, JudgesEachSequenceAtEveryOffset) {
  const auto records = test::read_vectors("utf8.tsv");
  ASSERT_GT(records.size(), 30u);
  for (const auto& record : records) {
    const std::string bytes = test::from_hex(record.columns[0]);
    const bool valid = record.columns[1] == "VALID";
    for (std::size_t before = 0; before < 40; ++before) {
      for (std::size_t after : {0, 1, 7, 8, 15, 16, 17, 33}) {
        EXPECT_EQ(is_valid_utf8(std::string(before, 'a') + bytes + std::string(after, 'z')), valid)
            << record.columns[2] << " after " << before << " bytes, before " << after;
      }
    }
  }
}

// Each White_Space character goes at either end, alone, repeated and in a
// run of all of them; inner ones and every other character stay.
TEST(Trim, RemovesWhiteSpaceAtEitherEndOnly) {
  std::string all;
  for (const auto& record : test::read_vectors("white_space.tsv")) {
    const std::string c = test::from_hex(record.columns[0]);
    if (record.columns[1] == "KEPT") {
      EXPECT_EQ(trim_white_space(" " + c + c + " "), c + c) << record.columns[2];
      continue;
    }
    all += c;
    EXPECT_EQ(trim_white_space(c + "x" + c + c + "a b" + c), "x" + c + c + "a b")
        << record.columns[2];
  }
  ASSERT_EQ(all.size(), 61u) << "the bytes of the 25 White_Space characters";
  EXPECT_EQ(trim_white_space(all + "a" + all + "b" + all), "a" + all + "b");
  EXPECT_EQ(trim_white_space(all), "");
}

// Cut at every size, a text of one- to four-byte characters keeps the
// longest whole-character prefix that fits.
TEST(Utf8Head, CutsBeforeTheCharacterThatWouldPassTheSize) {
  const std::string text =
      "a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80"
      "b";
  const std::vector<std::size_t> kept = {0, 1, 1, 3, 3, 3, 6, 6, 6, 6, 10, 11, 11};
  for (std::size_t size = 0; size < kept.size(); ++size) {
    EXPECT_EQ(utf8_head(text, size), text.substr(0, kept[size])) << "size " << size;
  }
}

TEST(DescribeFound, EveryRecordOfFoundTsv) {
  const auto records = test::read_vectors("found.tsv");
  ASSERT_GT(records.size(), 30u);
  for (const auto& record : records) {
    Result<Value> value = parse(test::from_hex(record.columns[0]));
    ASSERT_TRUE(value.ok()) << "found.tsv line " << record.line;
    EXPECT_EQ(describe_found(value.value()), record.columns[1]) << "found.tsv line " << record.line;
  }
}

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

// Asked to, the writer escapes each hidden character (json/text.h) as
// \uXXXX, above U+FFFF as a surrogate pair, and the text reads back as it
// was; visible characters and bytes that are not UTF-8 stand as they are.
TEST(WriteString, EscapesHiddenCharactersWhenAsked) {
  const std::pair<std::string, std::string> cases[] = {
      {"a\u202Eb\u2066c", R"("a\u202eb\u2066c")"},
      {"\x7F\u0085\u00AD", R"("\u007f\u0085\u00ad")"},
      {"\u200B\u2028\uFEFF\uFE0F\u3164", R"("\u200b\u2028\ufeff\ufe0f\u3164")"},
      {"\U000E0041\U000E007F", R"("\udb40\udc41\udb40\udc7f")"},
      {"\n\x1B\"\\", R"("\n\u001b\"\\")"},
      {"\u00e9\u20ac\U0001F600 ~", "\"\u00e9\u20ac\U0001F600 ~\""},
      {"\xFF\xC3(\xED\xA0\x80", "\"\xFF\xC3(\xED\xA0\x80\""},
  };
  for (const auto& [text, escaped] : cases) {
    std::string out;
    write_string(text, out, Escapes::kHidden);
    EXPECT_EQ(out, escaped);
    if (!is_valid_utf8(text)) continue;
    Result<Value> back = parse(out);
    EXPECT_TRUE(back.ok() && back.value().as_string() == text) << escaped;
  }
}

// The proposal is streamed to the broker in pieces of any size; a long
// string is cut into pieces, never held whole.
TEST(StreamWriter, GivesTheSameTextAsWriteForAnyPieceSize) {
  std::string long_text;
  for (int i = 0; i < 500; ++i) long_text += "ab\"c\\d\n\x01\xC3\xA9/";
  Value::Object inner;
  inner.emplace("z", Value(long_text));
  inner.emplace("a", Value(Value::Array{Value(1.5), Value(nullptr), Value(long_text)}));
  const Value value(Value::Object{{"payload", Value(std::move(inner))},
                                  {"empty", Value(Value::Object{})},
                                  {"list", Value(Value::Array{})}});
  for (std::size_t chunk : {1u, 2u, 3u, 7u, 64u, 1000u, 100000u}) {
    std::string text;
    std::size_t pieces = 0;
    StreamWriter writer([&](std::string_view piece) { return text.append(piece), ++pieces, true; },
                        chunk);
    EXPECT_TRUE(writer.write(value) && writer.flush());
    EXPECT_EQ(text, write(value)) << "chunk " << chunk;
    EXPECT_GE(pieces, 2 * (long_text.size() / chunk)) << "each long string in pieces";
  }
}

}  // namespace
}  // namespace varnock::json
