// Which lines differ between two texts, as GNU diff finds them: the command
// that asks it, and the reading of its answer. Running it is the caller's.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "base/result.h"

namespace varnock::desk {

// One run of lines that differ: `old_count` lines of the old text from line
// `old_first` were replaced by `new_count` lines of the new text from line
// `new_first`. Lines count from 1; when a count is 0 (a pure insertion or
// deletion), its first is the number of the line after the gap.
struct ChangedRun {
  std::size_t old_first = 0;
  std::size_t old_count = 0;
  std::size_t new_first = 0;
  std::size_t new_count = 0;

  friend bool operator==(const ChangedRun&, const ChangedRun&) = default;
};

// The arguments that make GNU diff compare the old text, read from
// "/dev/fd/3", with the new one from "/dev/fd/4" as text (-a) and print
// each changed run as "f l F L" (first and last line of each side) and
// nothing else. It looks three lines into the texts' common start and end,
// as `diff -u` does, so that the runs are the ones a unified diff shows. A
// last line without a newline differs from the same line with one. Exit
// status 0 or 1 is success.
std::vector<std::string> changed_runs_command();

// The runs in the output of changed_runs_command, in order; fails on
// anything else.
Result<std::vector<ChangedRun>> parse_changed_runs(std::string_view out);

// The change from `before` to `after` as one run replacing every line
// (none when the texts are equal).
std::vector<ChangedRun> whole_replacement(std::string_view before, std::string_view after);

// The number of lines of `text`; a last line without a newline counts.
std::size_t count_lines(std::string_view text);

}  // namespace varnock::desk
