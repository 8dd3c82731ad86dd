// Unified diffs made by the system's diff program.
#pragma once

#include <string>
#include <string_view>

#include "base/result.h"

namespace varnock::review {

struct DiffInput {
  std::string_view before;
  std::string_view after;
  std::string before_label;  // shown on the "---" line, e.g. "a/notes.txt" or "/dev/null"
  std::string after_label;   // shown on the "+++" line
};

// The output of `diff -u -a` for the two texts, or the empty text when they
// are equal. The texts go to two files in a fresh private directory (mode
// 0700, under $TMPDIR or /tmp) that is removed afterwards; `diff` is found on
// PATH and run directly, without a shell. Labels must not contain NUL.
Result<std::string> unified_diff(const DiffInput& input);

}  // namespace varnock::review
