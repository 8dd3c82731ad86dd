#include "markdown.h"

#include <cmark-gfm-core-extensions.h>
#include <cmark-gfm.h>

#include <cstdlib>
#include <memory>
#include <vector>

namespace varnock::desk {
namespace {

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

}  // namespace

std::string render_markdown(std::string_view markdown) {
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

}  // namespace varnock::desk
