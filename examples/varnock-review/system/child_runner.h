// Every program the reviewer starts goes through one ChildRunner on the
// event loop: started with posix_spawn (never fork, which copies a large
// process), fed from memory through pipes, its output kept up to a bound,
// killed at a time limit, and reaped through a pidfd, so that no child ever
// holds up the loop.
#pragma once

#include <boost/asio/io_context.hpp>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/result.h"

namespace varnock::review {

struct ChildJob {
  std::vector<std::string> args;  // args[0] is found on PATH; no shell
  // Each is handed to the program as a pipe it reads by the name
  // "/dev/fd/N", N counting from 3 in the order given. The bytes must stay
  // valid and unchanged until the job ends (its handler is called, it is
  // cancelled, or the runner is destroyed).
  std::vector<std::string_view> inputs;
  // Standard output is kept up to `output_limit` bytes; a program that
  // writes more is killed and the job fails with kind kTooLarge. Without
  // `keep_output` it goes to /dev/null.
  bool keep_output = true;
  std::size_t output_limit = 0;
  // A program still running after this is killed and the job fails with
  // kind kTimedOut.
  std::optional<std::chrono::milliseconds> time_limit;
  // Left running, unreaped, when the runner is destroyed (a browser the
  // launcher started may run on); else killed and reaped then.
  bool outlives_runner = false;
};

struct ChildOutput {
  std::string out;  // its standard output, when kept
  int status = 0;   // its exit status; 127 when the program was not found
};

using ChildDone = std::function<void(Result<ChildOutput>)>;

// Children run at once; more wait their turn, in order. Many servers
// proposing at once would otherwise start a program each, and as many
// processes beside the loop slow it on a small machine.
inline constexpr std::size_t kMaxRunningChildren = 4;

class ChildRunner {
 public:
  using Id = std::uint64_t;

  // The runner's handlers run on `io`, which must outlive it.
  explicit ChildRunner(boost::asio::io_context& io) : io_(io) {}
  // Kills and reaps every child that does not outlive the runner; no
  // handler is called.
  ~ChildRunner();
  ChildRunner(const ChildRunner&) = delete;
  ChildRunner& operator=(const ChildRunner&) = delete;

  // Starts `job`, or queues it while kMaxRunningChildren run (its time
  // limit counts from its start). `done` is called once on the loop, never
  // from within run(), with the output and exit status, or a failure: the
  // program could not be started, ended by a signal, broke a bound. Not
  // called after cancel(id) or once the runner is destroyed.
  Id run(ChildJob job, ChildDone done);
  // Kills the child of `id` if it still runs, or drops its queued job, and
  // forgets its handler.
  void cancel(Id id);
  boost::asio::io_context& io() const { return io_; }
  // Children running now, and jobs waiting to start.
  std::size_t running() const { return children_.size(); }
  std::size_t waiting() const { return waiting_.size(); }

  struct Child;

 private:
  struct Waiting {
    Id id;
    ChildJob job;
    ChildDone done;
  };
  void start(Id id, ChildJob job, ChildDone done);
  void start_waiting();
  void finish(Id id, Result<ChildOutput> result);

  boost::asio::io_context& io_;
  std::map<Id, std::shared_ptr<Child>> children_;
  std::deque<Waiting> waiting_;
  Id next_id_ = 1;
};

}  // namespace varnock::review
