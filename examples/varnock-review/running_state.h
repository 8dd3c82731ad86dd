// Where a running reviewer is, kept in a file in the state directory so that
// other commands ("status", "open") find it: its pid, its socket, its desk's
// address (never the token, which has its own file) and how many proposals
// wait.
#pragma once

#include <sys/types.h>

#include <boost/asio/io_context.hpp>
#include <boost/asio/steady_timer.hpp>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "base/result.h"
#include "core/review_core.h"
#include "system/state_dir.h"

namespace varnock::review {

inline constexpr const char kRunningFileName[] = "running.json";

struct RunningState {
  pid_t pid = 0;
  std::string socket;  // empty: an unnamed socket
  std::string desk;    // "http://127.0.0.1:PORT/"; empty: no desk
  std::size_t waiting = 0;
};

// {"desk":..., "pid":..., "socket":..., "waiting":...}
std::string running_json(const RunningState& state);
// The state running_json wrote; a failure for anything else.
Result<RunningState> parse_running(std::string_view text);

// Keeps the file up to date while the reviewer runs (mode 0600, replaced
// whole at each change of the waiting count) and removes it when destroyed,
// unless another reviewer has written it since.
class RunningFile : public FrontEnd {
 public:
  // Writes the file for `state` in `directory`; `core` must outlive it.
  // Later counts are written on `io` at most every kPause, the last one
  // always: a burst of proposals costs a few writes, not two apiece.
  static Result<std::unique_ptr<RunningFile>> write(PrivateDirectory directory,
                                                    const ReviewCore& core, RunningState state,
                                                    boost::asio::io_context& io);
  ~RunningFile() override;
  RunningFile(const RunningFile&) = delete;
  RunningFile& operator=(const RunningFile&) = delete;

  void proposal_queued(const QueuedProposal&) override { update(); }
  void proposal_decided(const QueuedProposal&) override { update(); }
  void proposal_withdrawn(const QueuedProposal&) override { update(); }

 private:
  static constexpr auto kPause = std::chrono::milliseconds(200);

  RunningFile(PrivateDirectory directory, const ReviewCore& core, RunningState state,
              boost::asio::io_context& io)
      : directory_(std::move(directory)), core_(core), state_(std::move(state)), timer_(io) {}
  Status save() const;
  void update();
  void write_count();

  PrivateDirectory directory_;
  const ReviewCore& core_;
  RunningState state_;
  boost::asio::steady_timer timer_;
  bool pausing_ = false;  // a write was made less than kPause ago
};

// The reviewer the file in the state directory names, when it still runs
// (its pid is alive and is a varnock-review); nullopt when there is no
// file or it is stale. A failure when the directory or the file cannot be
// read.
Result<std::optional<RunningState>> running_reviewer(const PrivateDirectory& directory);

}  // namespace varnock::review
