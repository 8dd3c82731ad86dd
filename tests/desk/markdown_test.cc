// The explanation's HTML: GitHub's extensions render, nothing an agent
// writes can run a script or fetch anything, and a text past a bound on
// what rendering it would cost is shown as plain text under a note. The
// cases are in tests/vectors/desk/markdown.tsv.
#include "desk/markdown.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <regex>
#include <string>

#include "support/vectors.h"

namespace varnock::desk {
namespace {

std::string lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}

constexpr std::string_view kNoteStart =
    "<p class=\"explanation-note\">This explanation is shown as plain text: ";
constexpr std::string_view kPlainStart = "</p>\n<pre class=\"plain-explanation\">\n";

// `column` with every {PIECE}*N, innermost first, replaced by N copies of
// PIECE, unescaped.
std::string expand(std::string column) {
  static const std::regex kRepeat(R"(\{([^{}]*)\}\*([0-9]+))");
  for (std::smatch repeat; std::regex_search(column, repeat, kRepeat);) {
    std::string copies;
    for (int i = std::stoi(repeat[2].str()); i > 0; --i) copies += repeat[1].str();
    column.replace(static_cast<std::size_t>(repeat.position(0)),
                   static_cast<std::size_t>(repeat.length(0)), copies);
  }
  return test::unescape(column);
}

TEST(Markdown, RendersGithubExtensionsAndNothingThatRunsOrLoads) {
  for (const test::VectorRecord& record : test::read_vectors("desk/markdown.tsv")) {
    const std::string& kind = record.columns.at(0);
    const std::string html = render_markdown(expand(record.columns.at(1)));
    const std::string expected = expand(record.columns.at(2));
    SCOPED_TRACE("markdown.tsv line " + std::to_string(record.line) + "\n" + html.substr(0, 400));
    if (kind == "plain") {
      const std::string opening = std::string(kNoteStart) + expected + std::string(kPlainStart);
      EXPECT_EQ(html.substr(0, opening.size()), opening);
      EXPECT_TRUE(html.ends_with("</pre>\n"));
    } else if (kind == "contains") {
      EXPECT_NE(html.find(expected), std::string::npos);
    } else if (kind == "never") {
      EXPECT_EQ(lower(html).find(expected), std::string::npos);
    } else {
      EXPECT_EQ(kind, "exactly");
      EXPECT_EQ(html, expected);
    }
  }
}

// Past 256 KiB a text shown as it stands is cut, before a character that
// would straddle the cut.
TEST(Markdown, ShowsAtMostTheFirst256KiBOfATextAsItStands) {
  const std::string kept(256 * 1024 - 1, 'a');
  EXPECT_EQ(render_markdown(kept + "\xc3\xa9" + std::string(1000, 'b')),
            std::string(kNoteStart) +
                "it is larger than 64 KiB. Only its first 256 KiB are shown." +
                std::string(kPlainStart) + kept + "</pre>\n");
}

}  // namespace
}  // namespace varnock::desk
