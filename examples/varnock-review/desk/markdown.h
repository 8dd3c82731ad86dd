// The agent's Markdown explanation as HTML a page may insert.
#pragma once

#include <string>
#include <string_view>

namespace varnock::desk {

// `markdown` rendered as CommonMark with GitHub's tables, strikethrough,
// autolinks and task lists, by cmark-gfm in its safe mode: raw HTML is
// replaced by a comment and link or image destinations with a javascript:,
// vbscript:, file: or (non-image) data: scheme become empty. Images are
// turned into plain links to their source, so that rendering the HTML never
// fetches anything. Invalid UTF-8 is replaced, never passed on.
std::string render_markdown(std::string_view markdown);

}  // namespace varnock::desk
