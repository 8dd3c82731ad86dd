// UTF-8 validation (utf8.tsv) and the White_Space trim (white_space.tsv).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "json/text.h"
#include "support/vectors.h"

namespace varnock::json {
namespace {

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

TEST(Utf8, RefusesABadByteAfterLongValidText) {
  std::string text;
  for (int i = 0; i < 1000; ++i) text += "abc \xC3\xA9 \xE2\x82\xAC ";
  ASSERT_TRUE(is_valid_utf8(text));
  EXPECT_FALSE(is_valid_utf8(text + "\xFF"));
  EXPECT_FALSE(is_valid_utf8(text + "\xE2\x82"));
}

// Each White_Space character goes at either end, alone, repeated and in a
// run of all of them; inner ones and every other character stay.
TEST(Trim, RemovesWhiteSpaceAtEitherEndOnly) {
  std::string all;
  int spaces = 0;
  for (const auto& record : test::read_vectors("white_space.tsv")) {
    const std::string c = test::from_hex(record.columns[0]);
    const std::string& name = record.columns[2];
    if (record.columns[1] == "KEPT") {
      EXPECT_EQ(trim_white_space(c), c) << name;
      EXPECT_EQ(trim_white_space(" " + c + " "), c) << name;
      continue;
    }
    all += c;
    ++spaces;
    EXPECT_EQ(trim_white_space(c + "x"), "x") << name;
    EXPECT_EQ(trim_white_space("x" + c), "x") << name;
    EXPECT_EQ(trim_white_space(c + c + "a b" + c + c), "a b") << name;
    EXPECT_EQ(trim_white_space(c), "") << name;
  }
  ASSERT_EQ(spaces, 25) << "the White_Space characters";
  EXPECT_EQ(trim_white_space(all + "a" + all + "b" + all), "a" + all + "b");
  EXPECT_EQ(trim_white_space(all), "");
  EXPECT_EQ(trim_white_space(""), "");
}

}  // namespace
}  // namespace varnock::json
