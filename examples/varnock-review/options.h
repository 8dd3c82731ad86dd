// The command line of varnock-review.
#pragma once

#include <span>
#include <string>
#include <string_view>

#include "base/result.h"

namespace varnock::review {

// How proposals are answered: by the person at the terminal, or at once.
enum class AutoAnswer { kNone, kAccept, kReject };

struct ReviewOptions {
  std::string socket_path;  // empty: the per-user default (socket_path.h)
  std::string workspace;    // empty: the working directory
  AutoAnswer auto_answer = AutoAnswer::kNone;
  bool show_help = false;
};

// The usage text printed for --help and after a usage error.
extern const std::string_view kUsage;

// Reads the arguments after the program name. Accepts "--name value" and
// "--name=value"; an unknown option, a missing value or a bad --auto answer
// is a failure whose text says which.
Result<ReviewOptions> parse_options(std::span<const std::string_view> args);

}  // namespace varnock::review
