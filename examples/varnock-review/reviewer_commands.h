// "varnock-review status" and "varnock-review open": the commands that talk
// about the reviewer running for this user, found through its file in the
// state directory (running_state.h).
#pragma once

#include <string>

#include "base/result.h"

namespace varnock::review {

struct StatusReport {
  bool running = false;
  std::string text;  // what to print
};

// Whether a reviewer runs, where its socket and desk are (the desk without
// its token) and how many proposals wait. A failure when the state
// directory or its file cannot be read.
Result<StatusReport> reviewer_status();

// Opens the running reviewer's desk in the default browser: its address
// with the kept token goes into a launch page (browser_launch.h), which is
// handed to xdg-open; waits until xdg-open ends. Gives the line to print;
// a failure when no reviewer runs, it has no desk, the token cannot be
// read, or xdg-open fails.
Result<std::string> open_running_desk();

}  // namespace varnock::review
