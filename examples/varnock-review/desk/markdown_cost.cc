#include "markdown_cost.h"

#include <algorithm>
#include <cstddef>
#include <limits>
#include <string_view>
#include <vector>

namespace varnock::desk {
namespace {

using Count = std::uint64_t;
constexpr Count kMost = std::numeric_limits<Count>::max();

// The estimates saturate rather than wrap, so that no text can bring one
// back under a limit.
void add(Count& total, Count amount) { total = amount > kMost - total ? kMost : total + amount; }
Count times(Count a, Count b) { return a != 0 && b > kMost / a ? kMost : a * b; }

// The link finder stops going over a text after this many `@` signs.
constexpr Count kMaxRescannedAtSigns = 1000;

bool is_space_or_tab(char c) { return c == ' ' || c == '\t'; }
bool is_line_end(char c) { return c == '\n' || c == '\r'; }

bool is_blank(std::string_view line) {
  return std::all_of(line.begin(), line.end(), is_space_or_tab);
}

// `line` after the spaces, tabs and `>` that may open it.
std::size_t quote_prefix_length(std::string_view line) {
  const std::size_t text = line.find_first_not_of(" \t>");
  return text == std::string_view::npos ? line.size() : text;
}

// The length of the list marker (`-`, `+`, `*`, or up to nine digits and
// `.` or `)`) that starts `rest`, if a space, a tab or the end of the line
// follows it; 0 if none does.
std::size_t list_marker_length(std::string_view rest) {
  std::size_t length = 0;
  if (!rest.empty() && (rest[0] == '-' || rest[0] == '+' || rest[0] == '*')) {
    length = 1;
  } else {
    while (length < rest.size() && length < 9 && rest[length] >= '0' && rest[length] <= '9') {
      ++length;
    }
    if (length == 0 || length == rest.size() || (rest[length] != '.' && rest[length] != ')')) {
      return 0;
    }
    ++length;
  }
  return length == rest.size() || is_space_or_tab(rest[length]) ? length : 0;
}

// `line` after its container markers: spaces, tabs, `>` and list markers.
std::string_view container_text(std::string_view line) {
  for (;;) {
    line.remove_prefix(quote_prefix_length(line));
    const std::size_t marker = list_marker_length(line);
    if (marker == 0) return line;
    line.remove_prefix(marker);
  }
}

// A run of non-blank lines: the most a paragraph, a table or an inline
// construct can span.
struct Block {
  std::string_view text;  // from the first line to the end of the last one
  std::vector<std::string_view> lines;
};

template <typename Visit>
void for_each_block(std::string_view text, Visit visit) {
  Block block;
  std::size_t start = 0, end = 0;
  const auto flush = [&] {
    if (block.lines.empty()) return;
    block.text = text.substr(start, end - start);
    visit(block);
    block.lines.clear();
  };
  for (std::size_t at = 0; at < text.size();) {
    const std::size_t stop = std::min(text.find_first_of("\r\n", at), text.size());
    std::size_t next = stop;
    if (next < text.size()) next += text.compare(next, 2, "\r\n") == 0 ? 2 : 1;
    const std::string_view line = text.substr(at, stop - at);
    if (is_blank(line)) {
      flush();
    } else {
      if (block.lines.empty()) start = at;
      block.lines.push_back(line);
      end = next;
    }
    at = next;
  }
  flush();
}

// A line, once its `>` are taken off, of nothing but pipes, colons, dashes
// and white space (vertical tabs and form feeds too), with a dash: it may be
// the delimiter row under a header.
bool could_be_delimiter_row(std::string_view line) {
  line.remove_prefix(quote_prefix_length(line));
  return !line.empty() && line.find_first_not_of("|:- \t\v\f") == std::string_view::npos &&
         line.find('-') != std::string_view::npos;
}

// The cells the table extension could split `line` into: one more than its
// pipes, less a leading and a trailing one (an escaped pipe counts as one).
Count row_cells(std::string_view line) {
  line.remove_prefix(quote_prefix_length(line));
  line = line.substr(0, line.find_last_not_of(" \t") + 1);
  const auto pipes = static_cast<Count>(std::count(line.begin(), line.end(), '|'));
  const Count ends = (line.starts_with('|') ? 1 : 0) + (line.ends_with('|') ? 1 : 0);
  return std::max<Count>(pipes + 1 - std::min(ends, pipes), 1);  // "|" alone: one cell
}

void add_table_cost(const Block& block, MarkdownCost& cost) {
  Count columns = 0, previous_cells = 0, block_bytes = 0, block_squares = 0;
  for (std::size_t i = 0; i < block.lines.size(); ++i) {
    const std::string_view line = block.lines[i];
    const Count cells = row_cells(line);
    const Count bytes = line.size() + 1, squares = times(cells, cells);
    add(block_bytes, bytes);
    add(block_squares, squares);
    if (i > 0 && could_be_delimiter_row(line)) {
      if (columns == 0) add(cost.table_cells, previous_cells);  // the header row
      columns = std::max(columns, cells);
      // The paragraph above is parsed again as a header, in time that grows
      // with the square of its lines.
      add(cost.rescan_steps, block_bytes);
      add(cost.rescan_steps, block_squares);
      add(cost.rescan_steps, times(i, i));
    }
    if (columns > 0) {
      add(cost.table_cells, std::max(cells, columns));
      add(cost.rescan_steps, bytes);
      add(cost.rescan_steps, squares);
    }
    previous_cells = cells;
  }
}

// The list items open across lines, as the columns of their markers.
class Nesting {
 public:
  void line(std::string_view line, bool after_blank) {
    std::size_t column = 0, quotes = 0;
    bool first = true;
    for (std::size_t i = 0; i < line.size();) {
      if (is_space_or_tab(line[i])) {
        column = line[i++] == '\t' ? column / 4 * 4 + 4 : column + 1;
        continue;
      }
      if (line[i] == '>') {
        ++quotes, ++column, ++i;
        continue;
      }
      const std::size_t marker = list_marker_length(line.substr(i));
      if (first && (after_blank || marker > 0)) close_from(column);
      first = false;
      if (marker == 0) break;
      open_.push_back(column);
      column += marker;
      i += marker;
    }
    deepest_ = std::max<Count>(deepest_, quotes + open_.size());
  }
  Count deepest() const { return deepest_; }

 private:
  // A list marker, or text after a blank line, closes the items whose
  // markers stand at or right of it: their text lies further right. (Only
  // a line that reaches the innermost item's text can continue its
  // paragraph, and its marker stands right of all open ones.)
  void close_from(std::size_t column) {
    while (!open_.empty() && open_.back() >= column) open_.pop_back();
  }

  std::vector<std::size_t> open_;
  Count deepest_ = 0;
};

// Openers that raw HTML is scanned from up to their closer: how many are
// waiting, and the sum of their offsets.
struct Unclosed {
  Count count = 0, offsets = 0;

  void open(Count at) {
    ++count;
    add(offsets, at);
  }
  // The bytes from each waiting opener to `at`, where they stop.
  Count close(Count at) {
    const Count scanned = times(count, at) == kMost ? kMost : count * at - offsets;
    count = offsets = 0;
    return scanned;
  }
};

bool starts_with_nocase(std::string_view text, std::size_t at, std::string_view prefix) {
  if (text.size() - at < prefix.size()) return false;
  for (std::size_t i = 0; i < prefix.size(); ++i) {
    if ((text[at + i] | 0x20) != prefix[i]) return false;
  }
  return true;
}

// Whether the autolink extension goes over the bytes from `at` to the next
// space looking for a link.
bool starts_autolink_scan(std::string_view line, std::size_t at) {
  if (starts_with_nocase(line, at, "www.")) {
    return at == 0 || std::string_view(" \t*_~(").find(line[at - 1]) != std::string_view::npos;
  }
  return starts_with_nocase(line, at, "http://") || starts_with_nocase(line, at, "https://") ||
         starts_with_nocase(line, at, "ftp://");
}

// The autolink extension's scans of `line`: each runs to the next space,
// and then, for each `)` it may take off the link's end, over the link again
// to count its parentheses.
Count autolink_steps(std::string_view line) {
  Count steps = 0, parentheses = 0;
  Unclosed scans;
  for (std::size_t i = 0, run = 0; i <= line.size(); ++i) {
    if (i == line.size() || is_space_or_tab(line[i])) {
      add(steps, times(times(scans.count, i - run), parentheses));
      add(steps, scans.close(i));
      parentheses = 0;
      run = i + 1;
    } else if (line[i] == ')') {
      ++parentheses;
    } else if (starts_autolink_scan(line, i)) {
      scans.open(i);
    }
  }
  return steps;
}

// The inline scans of one block, line after line: brackets, raw HTML that
// runs on to its closer, autolinks and `@` signs.
class Inlines {
 public:
  Inlines(std::string_view text, MarkdownCost& cost) : text_(text), cost_(cost) {}

  void block(const Block& block) {
    for (const std::string_view line : block.lines) {
      scan(line, quote_prefix_length(line));
      add(cost_.rescan_steps, autolink_steps(line));
      const auto at_signs = static_cast<Count>(std::count(line.begin(), line.end(), '@'));
      add(cost_.rescan_steps, times(std::min(at_signs, kMaxRescannedAtSigns), line.size() + 1));
    }
    const Count end = offset(block.text, block.text.size());
    for (Unclosed* html : {&instructions_, &sections_, &declarations_}) {
      add(cost_.rescan_steps, html->close(end));
    }
    open_brackets_ = delimiters_ = 0;
  }
  Count reference_uses() const { return uses_; }

 private:
  Count offset(std::string_view line, std::size_t i) const {
    return static_cast<Count>(line.data() - text_.data()) + i;
  }

  void scan(std::string_view line, std::size_t from) {
    for (std::size_t i = from; i < line.size(); ++i) {
      const char c = line[i];
      if (c == '[') {
        ++open_brackets_;
        label_has_text_ = false;
        continue;
      }
      if (c == ']') close_bracket();
      if ((c == '*' || c == '_' || c == '~') && (i == from || line[i - 1] != c)) ++delimiters_;
      if (!is_space_or_tab(c)) label_has_text_ = true;
      i += c == '\\' ? 1 : raw_html(line, i);  // an escaped character is plain text
    }
  }

  // Opens or closes the scans of raw HTML at `line[i]`; gives how many more
  // bytes it took. The scanner takes the longest match, so a processing
  // instruction goes on past `??>` (its body may hold `?` and `>` in
  // pairs) and ends only at an odd run of `?` and a `>`, not counting the
  // opener's own `?`; a CDATA section goes on past `]]]>`.
  std::size_t raw_html(std::string_view line, std::size_t i) {
    const std::string_view rest = line.substr(i);
    const Count at = offset(line, i);
    const char before = i == 0 ? '\n' : line[i - 1];
    if (rest.starts_with("<?")) {
      instructions_.open(at);  // its `?` is looked at next
    } else if (rest.starts_with("<![CDATA[")) {
      sections_.open(at);
      return 8;
    } else if (rest.size() > 2 && rest.starts_with("<!") && (rest[2] | 0x20) >= 'a' &&
               (rest[2] | 0x20) <= 'z') {
      declarations_.open(at);
    } else if (rest[0] == '?') {
      const std::size_t run = std::min(rest.find_first_not_of('?'), rest.size());
      if (run % 2 == 1 && rest.substr(run).starts_with('>') && before != '<') {
        add(cost_.rescan_steps, instructions_.close(at));
      }
      return run - 1;
    } else if (rest.starts_with("]]>") && before != ']') {
      add(cost_.rescan_steps, sections_.close(at));
    } else if (rest[0] == '>') {
      add(cost_.rescan_steps, declarations_.close(at));
    }
    return 0;
  }

  // A `]` walks back over the brackets still open and takes the last; if it
  // ends a link, the emphasis inside is matched after a walk back over all
  // the runs of `*`, `_` and `~` before it.
  void close_bracket() {
    add(cost_.rescan_steps, open_brackets_);
    add(cost_.rescan_steps, delimiters_);
    if (open_brackets_ == 0) return;
    if (label_has_text_) ++uses_;
    --open_brackets_;
  }

  std::string_view text_;
  MarkdownCost& cost_;
  Count open_brackets_ = 0, delimiters_ = 0, uses_ = 0;
  bool label_has_text_ = false;
  Unclosed instructions_, sections_, declarations_;
};

// Where the destination (and title, if one may follow) of a link reference
// definition that continues at `at` ends: at most the end of `block`.
std::size_t definition_end(std::string_view block, std::size_t at) {
  const auto skip_space_and_one_line_end = [&](std::size_t i) {
    while (i < block.size() && is_space_or_tab(block[i])) ++i;
    if (i < block.size() && is_line_end(block[i])) {
      i += block.compare(i, 2, "\r\n") == 0 ? 2 : 1;
      while (i < block.size() && (is_space_or_tab(block[i]) || block[i] == '>')) ++i;
    }
    return i;
  };
  std::size_t i = skip_space_and_one_line_end(at);
  const bool pointy = i < block.size() && block[i] == '<';
  while (i < block.size() && !is_line_end(block[i]) &&
         (pointy ? block[i] != '>' : !is_space_or_tab(block[i]))) {
    ++i;
  }
  const std::size_t title = skip_space_and_one_line_end(i);
  if (title < block.size() &&
      std::string_view("\"'(").find(block[title]) != std::string_view::npos) {
    return block.size();  // a title runs on to its closing quote, at most the paragraph's end
  }
  return i;
}

// The longest text in `block` that could be a link reference definition:
// a line that starts, after its container markers, with `[`, a label and
// `]:`.
Count longest_definition(const Block& block) {
  Count longest = 0;
  for (const std::string_view line : block.lines) {
    const std::string_view text = container_text(line);
    if (text.empty() || text[0] != '[') continue;
    const std::size_t start = static_cast<std::size_t>(text.data() - block.text.data());
    std::size_t close = block.text.find_first_of("[]\\", start + 1);
    while (close != std::string_view::npos && block.text[close] == '\\') {
      close = block.text.find_first_of("[]\\", close + 2);
    }
    if (close == std::string_view::npos || block.text[close] == '[' ||
        block.text.compare(close, 2, "]:") != 0) {
      continue;
    }
    longest = std::max<Count>(longest, definition_end(block.text, close + 2) - start);
  }
  return longest;
}

}  // namespace

MarkdownCost estimate_markdown_cost(std::string_view markdown) {
  MarkdownCost cost;
  Nesting nesting;
  Inlines inlines(markdown, cost);
  Count definition = 0;
  for_each_block(markdown, [&](const Block& block) {
    add_table_cost(block, cost);
    for (std::size_t i = 0; i < block.lines.size(); ++i) nesting.line(block.lines[i], i == 0);
    inlines.block(block);
    definition = std::max(definition, longest_definition(block));
  });
  cost.nesting_depth = nesting.deepest();
  cost.reference_bytes = times(definition, inlines.reference_uses());
  return cost;
}

}  // namespace varnock::desk
