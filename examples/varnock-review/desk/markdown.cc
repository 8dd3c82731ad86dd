#include "markdown.h"

#include <cmark-gfm-core-extensions.h>
#include <cmark-gfm.h>

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <optional>
#include <vector>

#include "json/text.h"
#include "markdown_cost.h"
#include "utf8_text.h"

namespace varnock::desk {
namespace {

// The bounds within which cmark-gfm renders an explanation in a few tens of
// milliseconds and the page lays it out at once; past any of them the text
// is shown as it stands. Texts up to the size bound hold ordinary documents
// many times over; the other bounds are met only by shapes made to be slow.
constexpr std::size_t kMaxMarkdownBytes = 64 * 1024;
constexpr std::uint64_t kMaxTableCells = 20000;
constexpr std::uint64_t kMaxNestingDepth = 32;
constexpr std::uint64_t kMaxRescanSteps = 4'000'000;
constexpr std::size_t kMaxHtmlBytes = 1024 * 1024;
// Of a text shown as it stands, the page gets at most this much.
constexpr std::size_t kMaxPlainBytes = 256 * 1024;

// The notes above a text shown as it stands, one for each bound.
constexpr std::string_view kTooLarge =
    "This explanation is shown as plain text: it is larger than 64 KiB.";
constexpr std::string_view kTooManyCells =
    "This explanation is shown as plain text: its tables would have more than 20000 cells.";
constexpr std::string_view kNestedTooDeep =
    "This explanation is shown as plain text: its block quotes and lists are nested more than "
    "32 deep.";
constexpr std::string_view kTooSlow =
    "This explanation is shown as plain text: its markup would take too long to render.";
constexpr std::string_view kHtmlTooLarge =
    "This explanation is shown as plain text: its HTML would be larger than 1 MiB.";
constexpr std::string_view kOnlyFirstPart = "Only its first 256 KiB are shown.";

// CMARK_OPT_UNSAFE is left out on purpose: without it the renderer omits
// raw HTML and empties dangerous link destinations.
constexpr int kOptions = CMARK_OPT_VALIDATE_UTF8;
constexpr const char* kExtensions[] = {"table", "strikethrough", "autolink", "tasklist"};

struct ParserFree {
  void operator()(cmark_parser* parser) const { cmark_parser_free(parser); }
};
struct NodeFree {
  void operator()(cmark_node* node) const { cmark_node_free(node); }
};
using Parser = std::unique_ptr<cmark_parser, ParserFree>;
using Node = std::unique_ptr<cmark_node, NodeFree>;

Parser gfm_parser() {
  // Registering is not safe to run twice at once; a static's first use is.
  [[maybe_unused]] static const bool registered =
      (cmark_gfm_core_extensions_ensure_registered(), true);
  Parser parser(cmark_parser_new(kOptions));
  for (const char* name : kExtensions) {
    if (cmark_syntax_extension* extension = cmark_find_syntax_extension(name)) {
      cmark_parser_attach_syntax_extension(parser.get(), extension);
    }
  }
  return parser;
}

// Replaces the image `image` by a link with the same destination, title and
// children (its alternative text).
void image_to_link(cmark_node* image) {
  cmark_node* link = cmark_node_new(CMARK_NODE_LINK);
  cmark_node_set_url(link, cmark_node_get_url(image));
  cmark_node_set_title(link, cmark_node_get_title(image));
  while (cmark_node* child = cmark_node_first_child(image)) cmark_node_append_child(link, child);
  cmark_node_replace(image, link);
  cmark_node_free(image);
}

void images_to_links(cmark_node* root) {
  std::vector<cmark_node*> images;
  cmark_iter* iter = cmark_iter_new(root);
  for (cmark_event_type event; (event = cmark_iter_next(iter)) != CMARK_EVENT_DONE;) {
    cmark_node* node = cmark_iter_get_node(iter);
    if (event == CMARK_EVENT_EXIT && cmark_node_get_type(node) == CMARK_NODE_IMAGE) {
      images.push_back(node);
    }
  }
  cmark_iter_free(iter);
  for (cmark_node* image : images) image_to_link(image);
}

// The note for the first bound `markdown` would pass, if any.
std::optional<std::string_view> bound_passed(std::string_view markdown) {
  if (markdown.size() > kMaxMarkdownBytes) return kTooLarge;
  const MarkdownCost cost = estimate_markdown_cost(markdown);
  const struct {
    std::uint64_t estimate, bound;
    std::string_view note;
  } bounds[] = {{cost.table_cells, kMaxTableCells, kTooManyCells},
                {cost.nesting_depth, kMaxNestingDepth, kNestedTooDeep},
                {cost.rescan_steps, kMaxRescanSteps, kTooSlow},
                {cost.reference_bytes, kMaxHtmlBytes, kHtmlTooLarge}};
  for (const auto& bound : bounds) {
    if (bound.estimate > bound.bound) return bound.note;
  }
  return std::nullopt;
}

std::string gfm_html(std::string_view markdown) {
  Parser parser = gfm_parser();
  cmark_parser_feed(parser.get(), markdown.data(), markdown.size());
  Node document(cmark_parser_finish(parser.get()));
  images_to_links(document.get());
  char* html =
      cmark_render_html(document.get(), kOptions, cmark_parser_get_syntax_extensions(parser.get()));
  std::string out(html);
  std::free(html);
  return out;
}


// `markdown` as it stands, under `note`. The line feed after <pre> is the
// one the HTML parser drops, so that a first empty line of the text stays.
std::string plain_explanation(std::string_view note, std::string_view markdown) {
  const std::string_view shown = json::utf8_head(markdown, kMaxPlainBytes);
  std::string html = "<p class=\"explanation-note\">";
  html += note;
  if (shown.size() < markdown.size()) (html += ' ') += kOnlyFirstPart;
  html += "</p>\n<pre class=\"plain-explanation\">\n";
  append_html_escaped(valid_utf8(shown), html);
  html += "</pre>\n";
  return html;
}

// The entity a character of text stands for in HTML, or "" for itself.
std::string_view html_entity(char c) {
  if (c == '&') return "&amp;";
  if (c == '<') return "&lt;";
  if (c == '>') return "&gt;";
  return {};
}

}  // namespace

void append_html_escaped(std::string_view text, std::string& out) {
  for (const char c : text) {
    if (const std::string_view escaped = html_entity(c); !escaped.empty()) {
      out += escaped;
    } else {
      out += c;
    }
  }
}

std::string render_markdown(std::string_view markdown) {
  if (const std::optional<std::string_view> note = bound_passed(markdown)) {
    return plain_explanation(*note, markdown);
  }
  std::string html = gfm_html(markdown);
  if (html.size() > kMaxHtmlBytes) return plain_explanation(kHtmlTooLarge, markdown);
  return html;
}

}  // namespace varnock::desk
