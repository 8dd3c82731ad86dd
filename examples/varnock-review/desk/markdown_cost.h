// What rendering a Markdown text with cmark-gfm would cost, told by one
// linear pass over its bytes before any of it reaches the parser.
#pragma once

#include <cstdint>
#include <string_view>

namespace varnock::desk {

// Upper estimates of the ways in which the work of cmark-gfm 0.29 (with the
// table and autolink extensions) grows faster than the text. Each errs on
// the high side: the scan knows lines, blank lines, container markers and a
// few characters, not the parse. Lines end at "\n", "\r" or "\r\n", as the
// parser's do; a blank line holds only spaces and tabs, and no inline
// construct or table crosses one.
struct MarkdownCost {
  // The cells tables would have. The table extension pads every row to the
  // width of its header, so from the first line that could be a delimiter
  // row to the next blank line, each line counts as wide as the widest such
  // delimiter row before it, or as its own pipes make it if wider.
  std::uint64_t table_cells = 0;
  // The deepest any line could be in block quotes and list items: the `>`
  // and list markers before its text, and the list items that earlier
  // lines opened further left, unless a line could have closed them. The
  // parser walks every open container again for each line, blank or lazy.
  std::uint64_t nesting_depth = 0;
  // Bytes and list cells that the parser would walk again and again:
  //  - every table row is parsed into a list that is walked to its end for
  //    each cell it gains (its cells squared), and a paragraph is parsed
  //    again whole, in time growing with the square of its lines, for each
  //    line under it that could be a delimiter row;
  //  - a `<?`, `<![CDATA[` or `<!` and a letter is scanned up to its
  //    closing `?>`, `]]>` or `>`, or to the end of the paragraph (a `??>`
  //    or `]]]>` does not close it);
  //  - each `]` walks the brackets still open before it, and the runs of
  //    `*`, `_` and `~` before it in its paragraph;
  //  - a `www.` after a space, `*`, `_`, `~` or `(`, and an `http://`,
  //    `https://` or `ftp://`, is scanned up to the next space, whether or
  //    not it turns out to be a link, and again for each `)` that may be
  //    taken off its end;
  //  - the link finder goes over a line again for each of its first 1000
  //    `@` signs.
  std::uint64_t rescan_steps = 0;
  // Bytes of link destinations and titles that reference links could copy:
  // the longest text that could be a link reference definition (from its
  // `[` to the end of its destination, or of its paragraph where a title
  // may follow) times the `]` that could end a reference to it.
  std::uint64_t reference_bytes = 0;
};

MarkdownCost estimate_markdown_cost(std::string_view markdown);

}  // namespace varnock::desk
