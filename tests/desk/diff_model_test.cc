// The diff model the page draws: folds, hunks, line numbers and changed
// words, a page at a time, on small texts whose JSON can be read whole.
#include "desk/diff_model.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "changed_runs_now.h"
#include "desk/text_lines.h"
#include "desk/word_diff.h"
#include "support/vectors.h"

namespace varnock::desk {
namespace {

std::string model(const std::string& before, const std::string& after, std::size_t from = 0,
                  PageBounds bounds = {}) {
  return diff_model_page(before, after, test::changed_lines_now(before, after).runs, from, bounds);
}

// The texts, pages and their blocks are in tests/vectors/desk/diff_model.tsv.
TEST(DiffModel, PagesOfBlocksAndLineNumbers) {
  for (const test::VectorRecord& record : test::read_vectors("desk/diff_model.tsv")) {
    const std::vector<std::string>& c = record.columns;
    PageBounds bounds{.items = std::stoul(c.at(4))};
    if (c.size() > 6) bounds.bytes = std::stoul(c[6]);
    const std::string json =
        model(test::expand(c.at(1)), test::expand(c.at(2)), std::stoul(c.at(3)), bounds);
    const std::size_t at = json.find("\"total\":");
    ASSERT_NE(at, std::string::npos) << c[0];
    EXPECT_EQ(json.substr(at, json.size() - at - 1), test::expand(c.at(5))) << c[0];
  }
}

// Each line found by number from the marks of its index: past many short
// lines, past lines longer than the bytes between marks, and without a
// final newline.
TEST(TextLines, FindsEachLineByNumber) {
  const std::string wide(70'000, 'x');
  for (const std::string& text : {test::expand("{a\\n}*200b"), test::expand("{\\n}*150"),
                                  wide + "\n" + wide + "\nshort\n" + test::expand("{\\n}*70") + wide}) {
    const LineIndex index(text);
    const TextLines lines(text, index);
    std::istringstream split(text);
    std::size_t number = 0;
    for (std::string line; std::getline(split, line);) {
      ASSERT_LT(number, lines.count());
      EXPECT_EQ(lines.line(++number), line) << number;
    }
    EXPECT_EQ(number, lines.count());
  }
}

TEST(DiffModel, HeadCountsLinesAndFinalNewlines) {
  const std::string head = R"({"old_lines":2,"new_lines":3,"old_ends_with_newline":false,)"
                           R"("new_ends_with_newline":true,"total":)";
  EXPECT_EQ(model("a\nb", "a\nb\nc\n").substr(0, head.size()), head);
}

// One page of many long changed lines: they are compared word by word
// while the budget lasts (each middle here is 397 x 397 words), and past it
// each line's middle is marked whole.
TEST(DiffModel, WordComparisonsStopAtTheBudget) {
  std::string before, after;
  for (std::size_t i = 0; i < kWordPairBudget / (397 * 397) + 4; ++i) {
    for (int word = 0; word < 100; ++word) before += "a x ", after += "a y ";
    before += '\n';
    after += '\n';
  }
  const std::string json = model(before, after);
  const std::string first_row = "[\"~\",\"a x a x";
  const std::size_t first = json.find(first_row), last = json.rfind(first_row);
  ASSERT_NE(first, last);
  const auto old_spans = [&](std::size_t row) {
    const std::size_t spans = json.find("\",[", row) + 2;
    return json.substr(spans, json.find(']', spans) - spans + 1);
  };
  EXPECT_TRUE(old_spans(first).starts_with("[2,3,6,7,")) << old_spans(first).substr(0, 40);
  EXPECT_EQ(old_spans(last), "[2,399]");
}

// "0-3 5-8" as spans.
std::vector<Span> spans(const std::string& text) {
  std::vector<Span> out;
  std::istringstream words(text);
  for (Span span; words >> span.begin && words.ignore(1) >> span.end;) out.push_back(span);
  return out;
}

// The lines and their changed words are in tests/vectors/desk/word_diff.tsv.
TEST(WordDiff, MarksChangedWordsInUtf16Units) {
  for (const test::VectorRecord& record : test::read_vectors("desk/word_diff.tsv")) {
    const std::string old_line = test::unescape(record.columns.at(0));
    const std::string new_line = test::unescape(record.columns.at(1));
    std::size_t budget = kWordPairBudget;
    const WordChanges changes = changed_words(old_line, new_line, budget);
    EXPECT_EQ(changes.old_spans, spans(record.columns.at(2))) << old_line << " -> " << new_line;
    EXPECT_EQ(changes.new_spans, spans(record.columns.at(3))) << old_line << " -> " << new_line;
  }
}

}  // namespace
}  // namespace varnock::desk
