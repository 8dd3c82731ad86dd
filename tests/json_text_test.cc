// UTF-8 validation and the White_Space trim.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "json/text.h"

namespace varnock::json {
namespace {

using namespace std::string_literals;

struct Utf8Case {
  const char* name;
  std::string bytes;
};

const std::vector<Utf8Case> kWellFormed = {
    {"empty", ""},
    {"ASCII with NUL and DEL", "a\0b\x7f"s},
    {"U+0080, the first two-byte", "\xC2\x80"},
    {"U+00E9", "\xC3\xA9"},
    {"U+07FF, the last two-byte", "\xDF\xBF"},
    {"U+0800, the first three-byte", "\xE0\xA0\x80"},
    {"U+20AC", "\xE2\x82\xAC"},
    {"U+D7FF, below the surrogates", "\xED\x9F\xBF"},
    {"U+E000, above the surrogates", "\xEE\x80\x80"},
    {"U+FFFF", "\xEF\xBF\xBF"},
    {"U+10000, the first four-byte", "\xF0\x90\x80\x80"},
    {"U+1F600", "\xF0\x9F\x98\x80"},
    {"U+10FFFF, the last code point", "\xF4\x8F\xBF\xBF"},
    {"mixed", "a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80z"},
};

const std::vector<Utf8Case> kIllFormed = {
    {"lone continuation 80", "\x80"},
    {"lone continuation BF", "\xBF"},
    {"overlong two-byte C0", "\xC0\x80"},
    {"overlong two-byte C1", "\xC1\xBF"},
    {"overlong three-byte", "\xE0\x80\x80"},
    {"overlong three-byte U+07FF", "\xE0\x9F\xBF"},
    {"overlong four-byte", "\xF0\x80\x80\x80"},
    {"overlong four-byte U+FFFF", "\xF0\x8F\xBF\xBF"},
    {"surrogate U+D800", "\xED\xA0\x80"},
    {"surrogate U+DBFF", "\xED\xAF\xBF"},
    {"surrogate U+DC00", "\xED\xB0\x80"},
    {"surrogate U+DFFF", "\xED\xBF\xBF"},
    {"encoded surrogate pair", "\xED\xA0\xBD\xED\xB8\x80"},
    {"U+110000", "\xF4\x90\x80\x80"},
    {"lead F5", "\xF5\x80\x80\x80"},
    {"lead F8", "\xF8\x88\x80\x80\x80"},
    {"byte FE", "\xFE"},
    {"byte FF", "\xFF"},
    {"two-byte truncated", "\xC3"},
    {"three-byte truncated after 1", "\xE2"},
    {"three-byte truncated after 2", "\xE2\x82"},
    {"four-byte truncated after 3", "\xF0\x9F\x98"},
    {"two-byte, ASCII second", "\xC3\x41"},
    {"three-byte, ASCII third", "\xE2\x82\x41"},
    {"four-byte, ASCII fourth", "\xF0\x9F\x98\x41"},
    {"four-byte, extra continuation", "\xF0\x9F\x98\x80\x80"},
};

TEST(Utf8, AcceptsWellFormedSequences) {
  for (const auto& c : kWellFormed) EXPECT_TRUE(is_valid_utf8(c.bytes)) << c.name;
}

TEST(Utf8, RefusesIllFormedSequences) {
  for (const auto& c : kIllFormed) EXPECT_FALSE(is_valid_utf8(c.bytes)) << c.name;
}

// The ASCII runs are tested a word at a time: every sequence must be judged
// the same wherever it falls relative to the word boundaries, and whatever
// length of ASCII follows it.
TEST(Utf8, JudgesSequencesAtEveryOffset) {
  for (std::size_t before = 0; before < 40; ++before) {
    for (std::size_t after : {0, 1, 7, 8, 15, 16, 17, 33}) {
      const std::string pad_before(before, 'a');
      const std::string pad_after(after, 'z');
      for (const auto& c : kWellFormed) {
        EXPECT_TRUE(is_valid_utf8(pad_before + c.bytes + pad_after))
            << c.name << " after " << before << " bytes, before " << after;
      }
      for (const auto& c : kIllFormed) {
        EXPECT_FALSE(is_valid_utf8(pad_before + c.bytes + pad_after))
            << c.name << " after " << before << " bytes, before " << after;
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

// The 25 characters with the White_Space property.
const std::vector<std::string> kWhiteSpace = {
    "\t",           "\n",           "\v",           "\f",           "\r",           " ",
    "\xC2\x85",     "\xC2\xA0",     "\xE1\x9A\x80", "\xE2\x80\x80", "\xE2\x80\x81", "\xE2\x80\x82",
    "\xE2\x80\x83", "\xE2\x80\x84", "\xE2\x80\x85", "\xE2\x80\x86", "\xE2\x80\x87", "\xE2\x80\x88",
    "\xE2\x80\x89", "\xE2\x80\x8A", "\xE2\x80\xA8", "\xE2\x80\xA9", "\xE2\x80\xAF", "\xE2\x81\x9F",
    "\xE3\x80\x80",
};

TEST(Trim, RemovesEachWhiteSpaceCharacterAtEitherEnd) {
  ASSERT_EQ(kWhiteSpace.size(), 25u);
  for (const auto& ws : kWhiteSpace) {
    EXPECT_EQ(trim_white_space(ws + "x"), "x") << "leading " << ws;
    EXPECT_EQ(trim_white_space("x" + ws), "x") << "trailing " << ws;
    EXPECT_EQ(trim_white_space(ws + ws + "a b" + ws + ws), "a b") << "repeated " << ws;
    EXPECT_EQ(trim_white_space(ws), "") << "alone " << ws;
  }
}

TEST(Trim, RemovesMixedRunsAndKeepsInnerWhiteSpace) {
  std::string all;
  for (const auto& ws : kWhiteSpace) all += ws;
  EXPECT_EQ(trim_white_space(all + "a" + all + "b" + all), "a" + all + "b");
  EXPECT_EQ(trim_white_space(all), "");
  EXPECT_EQ(trim_white_space(""), "");
}

TEST(Trim, KeepsCharactersThatAreNotWhiteSpace) {
  const std::vector<std::pair<const char*, std::string>> kept = {
      {"U+200B zero width space", "\xE2\x80\x8B"},
      {"U+FEFF byte order mark", "\xEF\xBB\xBF"},
      {"U+180E Mongolian vowel separator", "\xE1\xA0\x8E"},
      {"U+200C zero width non-joiner", "\xE2\x80\x8C"},
      {"U+0000", "\0"s},
      {"U+001F", "\x1F"},
      {"U+0145, whose last byte is 0x85", "\xC5\x85"},
      {"U+0120, whose last byte is 0xA0", "\xC4\xA0"},
      {"U+3080, whose last two bytes are those of U+3000", "\xE3\x82\x80"},
      {"U+1F680, ending in 0x80", "\xF0\x9F\x9A\x80"},
  };
  for (const auto& [name, text] : kept) {
    EXPECT_EQ(trim_white_space(text), text) << name;
    EXPECT_EQ(trim_white_space(" " + text + " "), text) << name;
  }
}

}  // namespace
}  // namespace varnock::json
