// Which lines differ between two texts, as GNU diff finds them.
#pragma once

#include <cstddef>
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

// The changed runs between `before` and `after`, in order, from `diff -a`
// run without a shell on in-memory copies of the texts (nothing touches the
// disk). A last line without a newline differs from the same line with
// one. Fails when diff cannot run or reports trouble.
Result<std::vector<ChangedRun>> changed_runs(std::string_view before, std::string_view after);

}  // namespace varnock::desk
