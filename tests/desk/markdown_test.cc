// The explanation's HTML: GitHub's extensions render, nothing an agent
// writes can run a script or fetch anything, and a text past a bound on
// what rendering it would cost is shown as plain text under a note. The
// cases are in tests/vectors/desk/markdown.tsv.
#include "desk/markdown.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
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

TEST(Markdown, RendersGithubExtensionsAndNothingThatRunsOrLoads) {
  for (const test::VectorRecord& record : test::read_vectors("desk/markdown.tsv")) {
    const std::string& kind = record.columns.at(0);
    const std::string html = render_markdown(test::expand(record.columns.at(1)));
    const std::string expected = test::expand(record.columns.at(2));
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

}  // namespace
}  // namespace varnock::desk
