// The side-by-side view of a proposal's change, as the JSON the page draws.
#pragma once

#include <cstddef>
#include <span>
#include <string>
#include <string_view>

#include "base/result.h"
#include "line_diff.h"

namespace varnock::desk {

// Unchanged lines kept beside each change.
inline constexpr std::size_t kContextLines = 3;

// The difference between `before` and `after` as one compact JSON object:
//
//   {"old_lines":N,"new_lines":M,
//    "old_ends_with_newline":true,"new_ends_with_newline":false,
//    "blocks":[{"fold":{"old":1,"new":1,"count":497}},
//              {"hunk":{"old":498,"new":498,"rows":[ROW,...]}}, ...]}
//
// Blocks cover both texts in order. A fold stands for `count` unchanged
// lines starting at line `old` of the old text and `new` of the new one;
// their text is not included (lines_json gives it on demand), so the model
// stays small whatever the size of the texts. A hunk lists rows from the
// given line numbers on, each row advancing the sides it names:
//   ["=",text]                      an unchanged line (both sides)
//   ["~",old,new,[b,e,...],[b,e,...]]  a changed pair with the changed
//                                   words of each side as [begin, end)
//                                   offsets in UTF-16 code units
//   ["-",old]  ["+",new]            a line only in the old / new text
// Texts are made valid UTF-8 first. A fold hides at least a few lines;
// shorter unchanged runs stay in the hunks.
// `runs` are the changed runs between the texts (line_diff.h).
Result<std::string> diff_model_json(std::string_view before, std::string_view after,
                                    std::span<const ChangedRun> runs);

// Lines [first, first + count) of `text` as a JSON array of strings, cut
// at the text's end; first counts from 1.
std::string lines_json(std::string_view text, std::size_t first, std::size_t count);

}  // namespace varnock::desk
