// Asking the person at the controlling terminal for an answer.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "base/result.h"
#include "unique_fd.h"

namespace varnock::review {

enum class Answer { kAccept, kReject, kUnclear };

// "a", "accept", "y", "yes" accept; "r", "reject", "n", "no" reject; case
// and surrounding blanks do not matter; anything else is unclear.
Answer parse_answer(std::string_view line);

// The controlling terminal (/dev/tty), so answers come from the person even
// when standard input and output are redirected.
class Terminal {
 public:
  static Result<Terminal> open();

  int fd() const { return fd_.get(); }

  // Throws away anything typed ahead, so an answer always follows the
  // proposal it answers, then writes `question`.
  void ask(std::string_view question);
  // Writes `text` to the terminal.
  void say(std::string_view text);

  // One read of what the person typed, split into lines. `closed` is set at
  // end of input (Ctrl-D at the start of a line) or when the terminal is gone.
  struct Typed {
    std::vector<std::string> lines;
    bool closed = false;
  };
  Typed read_typed();

 private:
  explicit Terminal(UniqueFd fd) : fd_(std::move(fd)) {}

  UniqueFd fd_;
  std::string pending_;
  std::size_t scanned_ = 0;
};

}  // namespace varnock::review
