// The side-by-side view of a proposal's change, as the JSON the page draws,
// a page at a time.
#pragma once

#include <cstddef>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "line_diff.h"
#include "text_lines.h"

namespace varnock::desk {

// Unchanged lines kept beside each change.
inline constexpr std::size_t kContextLines = 3;
// A line longer than this many bytes is cut (at a character boundary).
inline constexpr std::size_t kMaxLineBytes = 10'000;

// What one page of the model may hold: items (rows and folds) and bytes of
// JSON blocks. The item that crosses the byte bound is the page's last, so a
// page stays within `bytes` plus one row of two cut lines.
struct PageBounds {
  std::size_t items = 2000;
  std::size_t bytes = std::size_t{1} << 20;
};

// The difference between `before` and `after`, whose changed runs are
// `runs` (changed_runs of the two), is a sequence of items; this gives the
// page of it that starts at item `from`, as one compact JSON object:
//
//   {"old_lines":N,"new_lines":M,
//    "old_ends_with_newline":true,"new_ends_with_newline":false,
//    "total":T,"next":K,
//    "blocks":[{"fold":{"old":1,"new":1,"count":497}},
//              {"hunk":{"old":498,"new":498,"rows":[ROW,...]}}, ...]}
//
// `total` counts the items of the whole model; `next` is the item the next
// page starts at, or null after the last page (and for any `from` at or
// past the end, whose page has no blocks).
//
// The items cover both texts in order. A fold stands for `count` unchanged
// lines starting at line `old` of the old text and `new` of the new one;
// their text is not included (lines_json gives it on demand). A hunk lists
// rows from the given line numbers on, each row advancing the sides it
// names:
//   ["=",text]                      an unchanged line (both sides)
//   ["~",old,new,[b,e,...],[b,e,...]]  a changed pair with the changed
//                                   words of each side as [begin, end)
//                                   offsets in UTF-16 code units
//   ["-",old]  ["+",new]            a line only in the old / new text
// A row with a line longer than kMaxLineBytes carries, after those members,
// for each of its lines ("=", "-", "+": one; "~": two) the line's length in
// bytes when it was cut, else null. A hunk that goes on from the previous page has
// "continues":true after its line numbers. Texts are made valid UTF-8
// first. A fold hides at least a few lines; shorter unchanged runs stay in
// the hunks. The changed words are found for the rows of this page alone,
// within kWordPairBudget.
// With the texts' lines indexed beforehand, a page costs a walk over `runs`
// and its own rows, whatever the size of the texts.
std::string diff_model_page(const TextLines& before, const TextLines& after,
                            std::span<const ChangedRun> runs, std::size_t from,
                            PageBounds bounds = {});
// The same, indexing both texts first.
std::string diff_model_page(std::string_view before, std::string_view after,
                            std::span<const ChangedRun> runs, std::size_t from,
                            PageBounds bounds = {});

// Lines [first, first + count) of `text` as a JSON array of strings, cut
// at the text's end; first counts from 1.
std::string lines_json(const TextLines& text, std::size_t first, std::size_t count);

}  // namespace varnock::desk
