// The diff model the page draws: folds, hunks, line numbers and changed
// words, on small texts whose JSON can be read whole.
#include "desk/diff_model.h"

#include <gtest/gtest.h>

#include <string>

#include "desk/word_diff.h"

namespace varnock::desk {
namespace {

std::string lines(int first, int last) {
  std::string text;
  for (int i = first; i <= last; ++i) {
    text += 'l';
    text += std::to_string(i);
    text += '\n';
  }
  return text;
}

std::string model(const std::string& before, const std::string& after) {
  Result<std::string> json = diff_model_json(before, after);
  EXPECT_TRUE(json.ok()) << json.failure();
  return json.ok() ? json.value() : "";
}

struct Case {
  const char* name;
  std::string before;
  std::string after;
  std::string blocks;  // the model's "blocks" member
};

TEST(DiffModel, BlocksAndLineNumbers) {
  const Case cases[] = {
      {"one changed line folds both sides", lines(1, 20), lines(1, 9) + "l10 x\n" + lines(11, 20),
       R"([{"fold":{"old":1,"new":1,"count":6}},{"hunk":{"old":7,"new":7,"rows":[["=","l7"],)"
       R"(["=","l8"],["=","l9"],["~","l10","l10 x",[],[3,5]],["=","l11"],["=","l12"],)"
       R"(["=","l13"]]}},{"fold":{"old":14,"new":14,"count":7}}])"},
      {"insertion and deletion shift the new numbers", lines(1, 4),
       std::string("new\n") + lines(1, 3),
       R"([{"hunk":{"old":1,"new":1,"rows":[["+","new"],["=","l1"],["=","l2"],["=","l3"],)"
       R"(["-","l4"]]}}])"},
      {"a short run between changes stays in one hunk", lines(1, 10),
       std::string("a\n") + lines(2, 9) + "b\n",
       R"([{"hunk":{"old":1,"new":1,"rows":[["~","l1","a",[0,2],[0,1]],["=","l2"],["=","l3"],)"
       R"(["=","l4"],["=","l5"],["=","l6"],["=","l7"],["=","l8"],["=","l9"],)"
       R"(["~","l10","b",[0,3],[0,1]]]}}])"},
      {"a missing last newline is a change", "a\nb", "a\nb\n",
       R"([{"hunk":{"old":1,"new":1,"rows":[["=","a"],["~","b","b",[],[]]]}}])"},
      {"a new file", "", "x\ny\n", R"([{"hunk":{"old":1,"new":1,"rows":[["+","x"],["+","y"]]}}])"},
      {"equal large texts are one fold", lines(1, 50), lines(1, 50),
       R"([{"fold":{"old":1,"new":1,"count":50}}])"},
      {"invalid UTF-8 is replaced", "a\xff\n", "b\n",
       "[{\"hunk\":{\"old\":1,\"new\":1,\"rows\":[[\"~\",\"a\xEF\xBF\xBD\",\"b\",[0,2],[0,1]]]}}]"},
  };
  for (const Case& c : cases) {
    const std::string json = model(c.before, c.after);
    const std::size_t at = json.find("\"blocks\":");
    ASSERT_NE(at, std::string::npos) << c.name;
    EXPECT_EQ(json.substr(at + 9, json.size() - at - 10), c.blocks) << c.name;
  }
}

TEST(DiffModel, HeadCountsLinesAndFinalNewlines) {
  const std::string head = R"({"old_lines":2,"new_lines":3,"old_ends_with_newline":false,)"
                           R"("new_ends_with_newline":true,"blocks":)";
  EXPECT_EQ(model("a\nb", "a\nb\nc\n").substr(0, head.size()), head);
}

struct Words {
  const char* old_line;
  const char* new_line;
  std::vector<Span> old_spans;
  std::vector<Span> new_spans;
};

TEST(WordDiff, MarksChangedWordsInUtf16Units) {
  const Words cases[] = {
      {"int total = 0;", "long total = 0;", {{0, 3}}, {{0, 4}}},
      {"a b c", "a x c", {{2, 3}}, {{2, 3}}},
      {"f(a, b)", "f(a, c, b)", {}, {{5, 8}}},
      // é is one unit, the emoji two: "x" starts at unit 5.
      {"\xC3\xA9 \xF0\x9F\x98\x80 x", "\xC3\xA9 \xF0\x9F\x98\x80 y", {{5, 6}}, {{5, 6}}},
      {"same", "same", {}, {}},
      {"", "added", {}, {{0, 5}}},
  };
  for (const Words& c : cases) {
    const WordChanges changes = changed_words(c.old_line, c.new_line);
    EXPECT_EQ(changes.old_spans, c.old_spans) << c.old_line << " -> " << c.new_line;
    EXPECT_EQ(changes.new_spans, c.new_spans) << c.old_line << " -> " << c.new_line;
  }
}

TEST(DiffModel, LinesOnDemandStopAtTheEnd) {
  const std::string text = lines(1, 5);
  EXPECT_EQ(lines_json(text, 2, 2), R"(["l2","l3"])");
  EXPECT_EQ(lines_json(text, 4, 100), R"(["l4","l5"])");
  EXPECT_EQ(lines_json(text, 9, 1), "[]");
  EXPECT_EQ(lines_json("a\tb\n\"q\"", 1, 5), R"(["a\tb","\"q\""])");
}

}  // namespace
}  // namespace varnock::desk
