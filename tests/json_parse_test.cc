// Reading JSON text: every record of parse.tsv and parse_rules.tsv (the
// compact text written back for a value, or the failure text with its
// position) goes through both reading paths: the exact one decides, and a
// value the fast one gives must be the same value.
#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>

#include "json/exact_parse.h"
#include "json/fast_parse.h"
#include "json/text.h"
#include "json/write.h"
#include "support/vectors.h"

namespace varnock::json {
namespace {

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

void expect_every_record(const std::string& file) {
  const auto records = test::read_vectors(file);
  ASSERT_GT(records.size(), 100u);
  for (const auto& record : records) {
    const std::string where = file + " line " + std::to_string(record.line);
    ASSERT_EQ(record.columns.size(), 3u) << where;
    const std::string text = test::from_hex(record.columns[0]);
    const std::string& kind = record.columns[1];
    ASSERT_TRUE(kind == "OK" || kind == "ERR") << where;
    EXPECT_TRUE(is_valid_utf8(text)) << where;
    EXPECT_EQ(outcome(text), (kind == "OK" ? "" : "error: ") + record.columns[2]) << where;
  }
}

TEST(ParseVectors, EveryRecordOfParseTsv) { expect_every_record("parse.tsv"); }

TEST(ParseVectors, EveryRecordOfParseRulesTsv) { expect_every_record("parse_rules.tsv"); }

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

}  // namespace
}  // namespace varnock::json
