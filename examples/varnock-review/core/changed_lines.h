// The one comparison of a proposal's texts, made by GNU diff through the
// child runner and shared by every front end: which runs of lines changed.
#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "system/child_runner.h"
#include "desk/line_diff.h"

namespace varnock::review {

// How far a comparison may go before the change is shown whole instead.
struct DiffBounds {
  std::chrono::milliseconds time_limit{5000};
  // diff's output, a line per run: bounds the runs kept to a fixed size.
  std::size_t output_limit = std::size_t{2} << 20;
};

// Why a change is shown as a whole replacement; the notice the proposal gets.
inline constexpr std::string_view kDiffTookTooLong =
    "the change is shown as a whole replacement: comparing the texts took too long";
inline constexpr std::string_view kDiffTooScattered =
    "the change is shown as a whole replacement: it changes too many separate places";

struct ChangedLines {
  std::vector<desk::ChangedRun> runs;
  std::string notice;  // why the change is the whole replacement, when it is
  // The change is the whole replacement and `runs` is not made yet: its one
  // run needs the lines of both texts counted, which count_whole does off
  // the loop.
  bool whole = false;
};

// Compares `before` with `after` and calls `done` on the loop, never from
// within this call. When one text is empty no child is needed and the
// change is whole; otherwise diff runs with `bounds`, and when it breaks
// one, cannot run or fails, the change is whole with a notice. The texts
// must stay valid until `done` is called or the comparison is cancelled
// through the id given (0 when no child was started).
ChildRunner::Id compare_lines(ChildRunner& runner, std::string_view before, std::string_view after,
                              const DiffBounds& bounds, std::function<void(ChangedLines)> done);

// Makes the run of a whole replacement (`lines.whole`), going over both
// texts: for a worker thread.
void count_whole(ChangedLines& lines, std::string_view before, std::string_view after);

}  // namespace varnock::review
