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
//
// A pure function whose time and output stay small whatever the text's
// shape. One linear pass first estimates what the parser would make of it
// (markdown_cost.h); a text larger than 64 KiB, whose tables would have
// more than 20000 cells, whose block quotes and lists nest more than 32
// deep, whose markup would have the parser go over it again more than four
// million times, or whose HTML would be larger than 1 MiB (estimated
// before rendering and measured after) is given as plain text instead: a
// <p class="explanation-note"> that says which of these it is, then the
// text HTML-escaped in a <pre class="plain-explanation">, at most its first
// 256 KiB (the note then says so).
std::string render_markdown(std::string_view markdown);

// Appends `text` with &, < and > as HTML's entities.
void append_html_escaped(std::string_view text, std::string& out);

}  // namespace varnock::desk
