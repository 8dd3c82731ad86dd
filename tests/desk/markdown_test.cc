// The explanation's HTML: GitHub's extensions render, and nothing an agent
// writes can run a script or fetch anything.
#include "desk/markdown.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <string>

namespace varnock::desk {
namespace {

std::string lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}

struct Rendered {
  const char* markdown;
  const char* contains;
};

TEST(Markdown, RendersGithubExtensions) {
  const Rendered cases[] = {
      {"| a | b |\n|---|---|\n| 1 | 2 |\n", "<td>1</td>"},
      {"~~gone~~", "<del>gone</del>"},
      {"see https://example.org now", "<a href=\"https://example.org\">https://example.org</a>"},
      {"- [x] done\n- [ ] open\n", "type=\"checkbox\" checked=\"\" disabled=\"\""},
      {"*emphasis* and `code`", "<em>emphasis</em> and <code>code</code>"},
      {"1 < 2 & 3", "1 &lt; 2 &amp; 3"},
  };
  for (const Rendered& c : cases) {
    EXPECT_NE(render_markdown(c.markdown).find(c.contains), std::string::npos)
        << c.markdown << "\n"
        << render_markdown(c.markdown);
  }
}

// Each hostile input, and what must not be in its HTML.
struct Hostile {
  const char* markdown;
  const char* forbidden;
};

TEST(Markdown, HostileInputNeitherRunsNorLoads) {
  const Hostile cases[] = {
      {"<script>alert(1)</script>", "<script"},
      {"text <script>alert(1)</script> inline", "<script"},
      {"<iframe src=\"http://203.0.113.7/\"></iframe>", "<iframe"},
      {"<img src=x onerror=alert(1)>", "onerror"},
      {"<div onclick=\"alert(1)\">x</div>", "onclick"},
      {"[x](javascript:alert(1))", "javascript:"},
      {"[x](JaVaScRiPt:alert(1))", "javascript:"},
      {"[x](vbscript:msgbox(1))", "vbscript:"},
      {"[x](data:text/html;base64,PHNjcmlwdD4=)", "data:"},
      {"<a href=\"javascript:alert(1)\">x</a>", "javascript:"},
      {"![x](http://203.0.113.7/pixel.png)", "<img"},
      {"![x](data:image/png;base64,iVBORw0KGgo=)", "<img"},
      {"[x]: javascript:alert(1)\n\n[link][x]", "javascript:"},
      {"<style>body{display:none}</style>", "<style"},
      {"<svg><script>alert(1)</script></svg>", "<svg"},
      {"<object data=\"http://203.0.113.7/x\"></object>", "<object"},
  };
  for (const Hostile& c : cases) {
    const std::string html = render_markdown(c.markdown);
    EXPECT_EQ(lower(html).find(c.forbidden), std::string::npos) << c.markdown << "\n" << html;
  }
}

TEST(Markdown, ImageBecomesLinkToItsSource) {
  EXPECT_EQ(render_markdown("![chart](https://example.org/c.png)"),
            "<p><a href=\"https://example.org/c.png\">chart</a></p>\n");
}

TEST(Markdown, InvalidUtf8IsReplaced) {
  EXPECT_EQ(render_markdown("a\xff"
                            "b"),
            "<p>a\xEF\xBF\xBD"
            "b</p>\n");
}

}  // namespace
}  // namespace varnock::desk
