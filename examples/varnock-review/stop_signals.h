// Turning the stop signals into something the poll loop can wait on.
#pragma once

#include "base/result.h"
#include "unique_fd.h"

namespace varnock::review {

// While installed, SIGINT, SIGTERM and SIGHUP make fd() readable instead of
// ending the process, so the loop can stop in order and remove its socket.
// SIGPIPE is ignored: a server that went away shows up as a failed write.
// One instance per process.
class StopSignals {
 public:
  static Result<StopSignals> install();
  StopSignals(StopSignals&&) = default;
  StopSignals& operator=(StopSignals&&) = default;

  int fd() const { return read_end_.get(); }
  // The number of a signal that has arrived, or 0 when none has.
  int take_signal();

 private:
  StopSignals(UniqueFd read_end, UniqueFd write_end)
      : read_end_(std::move(read_end)), write_end_(std::move(write_end)) {}

  UniqueFd read_end_;
  UniqueFd write_end_;
};

}  // namespace varnock::review
