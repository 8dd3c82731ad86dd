// Which words changed inside a pair of changed lines.
#pragma once

#include <cstddef>
#include <string_view>
#include <vector>

namespace varnock::desk {

// A highlighted stretch [begin, end) of a line, in UTF-16 code units (the
// unit the page's JavaScript indexes strings in).
struct Span {
  std::size_t begin = 0;
  std::size_t end = 0;
  friend bool operator==(const Span&, const Span&) = default;
};

struct WordChanges {
  std::vector<Span> old_spans;  // in the old line, ascending, not touching
  std::vector<Span> new_spans;  // in the new line
};

// Word pairs that the comparisons of one whole change may cost together, so
// that a proposal of many long changed lines opens in a fraction of a second.
inline constexpr std::size_t kWordPairBudget = 20'000'000;

// The words of `old_line` and `new_line` (valid UTF-8) that the other line
// lacks. A word is a run of letters, digits, '_' and non-ASCII characters,
// a run of white space, or one other character. Lines sharing a common
// beginning and end are compared word by word in between, up to a bounded
// amount of work per line that is also taken from `budget`; past either the
// whole middle is marked.
WordChanges changed_words(std::string_view old_line, std::string_view new_line,
                          std::size_t& budget);

}  // namespace varnock::desk
