// The unified diff the terminal shows, written in process from the
// changed runs the one comparison found.
#pragma once

#include <cstddef>
#include <span>
#include <string>
#include <string_view>

#include "desk/line_diff.h"

namespace varnock::review {

struct DiffLabels {
  std::string before;  // shown on the "---" line, e.g. "a/notes.txt" or "/dev/null"
  std::string after;   // shown on the "+++" line
};

// What `diff -u -a --label L1 --label L2` prints for `before` and `after`,
// given `runs`, their changed runs: the two label lines, then hunks of
// changes with three lines of context (changes at most six lines apart
// share a hunk), "@@ -l,c +l,c @@" headers, and "\ No newline at end of
// file" after a last line without one. Empty when there are no runs. Once
// it has passed `max_bytes` it ends with kDiffCut instead of the rest; the
// line that would pass it is shown up to the bound.
std::string unified_diff(std::string_view before, std::string_view after,
                         std::span<const desk::ChangedRun> runs, const DiffLabels& labels,
                         std::size_t max_bytes);

// The last line of a diff cut short, without its LF.
inline constexpr std::string_view kDiffCut = "[the rest of the diff is not shown here]";

}  // namespace varnock::review
