// The command line of varnock-review.
#pragma once

#include <cstddef>
#include <span>
#include <string>
#include <string_view>

#include "base/result.h"
#include "line_limits.h"

namespace varnock::review {

// How proposals are answered: by the person at the terminal, or at once.
enum class AutoAnswer { kNone, kAccept, kReject };

struct ReviewOptions {
  std::string socket_path;  // empty: the per-user default (socket_place.h)
  std::string workspace;    // empty: servers may work anywhere
  std::string journal;      // empty: the default journal (journal.h)
  bool no_journal = false;
  LineLimits limits;
  AutoAnswer auto_answer = AutoAnswer::kNone;
  bool show_help = false;
  bool show_version = false;
};

// The usage text printed for --help.
extern const std::string_view kUsage;

// Reads the arguments after the program name. Accepts "--name value" and
// "--name=value"; sizes are bytes with an optional K, M or G (binary
// multiples). An unknown option, a missing value, a bad size or a bad
// --auto answer is a failure whose text says which.
Result<ReviewOptions> parse_options(std::span<const std::string_view> args);

// Reads a size such as "4096", "64K", "320M" or "1G"; nullopt-like failure
// for anything else, zero, or more than fits.
Result<std::size_t> parse_size(std::string_view text);

}  // namespace varnock::review
