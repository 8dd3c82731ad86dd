// The review core: servers and their proposals, the checks made before a
// person is asked, the apply, and the history. It knows nothing of how a
// proposal is shown or how an answer is collected; front ends do that.
//
// Every call is made on the one thread that runs the event loop. A front
// end is told of each change in the order it subscribed, and answers
// through answer(), from any handler of that loop (never from inside a
// notification: post the answer instead).
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "journal.h"
#include "mcp/broker_protocol.h"
#include "target.h"

namespace varnock::review {

// Who sent a proposal. The pid comes from the kernel (SO_PEERCRED); the
// hello's own pid is kept only when it differs from it.
struct ServerInfo {
  int number = 0;         // "server #N", unique while the reviewer runs
  std::string workspace;  // the server's working directory, as the kernel names it
  pid_t pid = 0;
  std::optional<std::uint64_t> hello_pid;  // the hello's claim, when it differs
  std::string thread_id;
};

// "server #N (pid P, thread "T", in /work/dir)", with ", hello said pid H"
// when the hello's pid differs from the kernel's; fields escaped.
std::string describe_server(const ServerInfo& server);

// The notice a waiting proposal gets when its server's host has gone: the
// server's parent process exited after its hello (the server lives on,
// reading nothing while a review waits, but no agent reads its answers).
inline constexpr std::string_view kHostGone = "no agent will hear the answer: its host is gone";

enum class ProposalState { kWaiting, kAccepted, kRejected, kRefused, kWithdrawn };

// Everything a front end shows of one proposal. Texts are as received; a
// front end escapes them (visible_text.h) when it shows them.
struct QueuedProposal {
  std::uint64_t number = 0;  // unique while the reviewer runs
  ServerInfo server;
  std::string id;
  std::string path;    // as the server gave it
  std::string target;  // the file it resolves to, relative to the workspace
  std::string before;
  std::string after;
  std::string explanation;
  bool new_file = false;
  std::vector<std::string> notices;  // "new file", "hidden characters in the path" ...
  std::string refusal;               // why a check refused it without asking; else empty
  ProposalState state = ProposalState::kWaiting;
  std::string answered_by;  // the front end that answered ("terminal", "auto", ...)
  std::string outcome;      // what happened, for the person: "written", a failure ...
};

// A front end shows proposals and collects answers.
class FrontEnd {
 public:
  virtual ~FrontEnd() = default;
  // A proposal was received; a waiting one is already in waiting(). When
  // its `refusal` is set it is already decided (state kRefused) and is not
  // to be asked.
  virtual void proposal_queued(const QueuedProposal& proposal) = 0;
  // A waiting proposal was answered (by any front end) and, when accepted,
  // applied: state kAccepted, or kRejected with `outcome` saying why.
  virtual void proposal_decided(const QueuedProposal& proposal) = 0;
  // A waiting proposal's server went away; nothing was written.
  virtual void proposal_withdrawn(const QueuedProposal& proposal) = 0;
  // A waiting proposal got `notice` (already last in its `notices`), such
  // as kHostGone; it still waits for an answer.
  virtual void proposal_changed(const QueuedProposal& proposal, std::string_view notice) = 0;
  // One line about the servers (connected, refused, a line dropped ...),
  // without its LF; fields in it are already escaped.
  virtual void notice(std::string_view text) = 0;
};

class ReviewCore {
 public:
  // Queues a decision line (without its LF) for a server.
  using DecisionSender = std::function<void(std::string_view line)>;

  // `journal` may be a journal that records nothing; it must outlive the core.
  explicit ReviewCore(Journal& journal);

  void subscribe(FrontEnd& front_end) { front_ends_.push_back(&front_end); }

  // A server said hello; `send` carries its decisions until server_gone.
  void server_ready(const ServerInfo& server, const Workspace& workspace, DecisionSender send);
  // Checks a proposal and queues it, or refuses it at once with its reason.
  void receive(int server, mcp::BrokerProposal proposal);
  // The server has gone: its waiting proposals are withdrawn.
  void server_gone(int server);
  // The server's host has gone (its parent process changed after hello):
  // each of its waiting proposals, and each one it sends later, carries
  // the notice kHostGone. They can still be answered.
  void server_orphaned(int server);
  // The reviewer is stopping: every waiting proposal is withdrawn, with no
  // decision sent (the servers see their connections close).
  void withdraw_all();
  void notice(std::string_view text);

  // The answer to a waiting proposal; the first answer wins. Applies an
  // acceptance, sends the decision, journals it and tells every front end.
  // False when the proposal is not (or no longer) waiting.
  bool answer(std::uint64_t number, bool accept, std::string_view who);

  // Waiting proposals, oldest first.
  std::vector<const QueuedProposal*> waiting() const;
  // Whether any proposal of `server` waits.
  bool has_waiting(int server) const;
  // The last decisions, oldest first (at most kHistoryLength).
  const std::deque<QueuedProposal>& history() const { return history_; }
  // Bytes held by waiting proposals.
  std::size_t held_bytes() const { return held_bytes_; }

  static constexpr std::size_t kHistoryLength = 100;

 private:
  struct Server {
    ServerInfo info;
    const Workspace* workspace;
    DecisionSender send;
    bool orphaned = false;
  };
  void check(QueuedProposal& proposal, const Workspace& workspace);
  // Withdraws the waiting proposals of `server` (all when 0) for `reason`.
  void withdraw(int server, std::string_view reason);
  void finish(QueuedProposal proposal, std::string_view reason);
  void send(int server, std::string_view id, bool accepted);

  Journal& journal_;
  std::vector<FrontEnd*> front_ends_;
  std::map<int, Server> servers_;
  std::map<std::uint64_t, QueuedProposal> waiting_;
  std::deque<QueuedProposal> history_;
  std::uint64_t next_number_ = 1;
  std::size_t held_bytes_ = 0;
};

}  // namespace varnock::review
