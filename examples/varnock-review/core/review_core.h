// The review core: servers and their proposals, the checks made before a
// person is asked, the apply, and the history. It knows nothing of how a
// proposal is shown or how an answer is collected; front ends do that.
//
// Every call is made on the one thread that runs the event loop. A front
// end is told of each change in the order it subscribed, and answers
// through answer(), from any handler of that loop (never from inside a
// notification: post the answer instead).
//
// A proposal received is prepared before any front end hears of it: it is
// checked (its file read), and its explanation rendered when a front end
// shows HTML, on a worker thread; then its lines are compared by one diff
// through the child runner when a front end shows changes. So a large
// proposal holds up neither the loop nor other servers. Proposals are
// numbered as they arrive and shown as they are ready: a small one may be
// shown before a large one received earlier.
#pragma once

#include <sys/types.h>

#include <boost/asio/io_context.hpp>
#include <boost/asio/thread_pool.hpp>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/changed_lines.h"
#include "system/child_runner.h"
#include "desk/line_diff.h"
#include "core/journal.h"
#include "mcp/broker_protocol.h"
#include "system/target.h"

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
  std::string explanation_html;  // rendered when a front end shows HTML
  // The changed runs of lines, when a front end shows changes; the whole
  // replacement, with a notice saying why, when comparing broke a bound.
  std::optional<std::vector<desk::ChangedRun>> runs;
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

  // What the front end shows, so that nothing else is made: the changed
  // lines, the explanation as HTML.
  virtual bool wants_changes() const { return false; }
  virtual bool wants_html() const { return false; }
  // Bytes it keeps of waiting proposals (views it built), for the budget.
  virtual std::size_t held_bytes() const { return 0; }
};

// The bytes a proposal holds: its texts, rendered explanation and runs.
std::size_t proposal_bytes(const QueuedProposal& proposal);

class ReviewCore {
 public:
  // Queues a decision line (without its LF) for a server.
  using DecisionSender = std::function<void(std::string_view line)>;

  // `journal` may be a journal that records nothing. `journal`, `io` (the
  // loop every call is made on) and `runner` must outlive the core.
  ReviewCore(Journal& journal, boost::asio::io_context& io, ChildRunner& runner,
             DiffBounds bounds = {});
  // Waits for the checks under way (their results are dropped).
  ~ReviewCore();
  ReviewCore(const ReviewCore&) = delete;
  ReviewCore& operator=(const ReviewCore&) = delete;

  void subscribe(FrontEnd& front_end) { front_ends_.push_back(&front_end); }

  // A server said hello; `send` carries its decisions until server_gone.
  void server_ready(const ServerInfo& server, std::shared_ptr<const Workspace> workspace,
                    DecisionSender send);
  // Prepares a proposal; then queues it, or refuses it with its reason.
  void receive(int server, mcp::BrokerProposal proposal);
  // The server has gone: its waiting proposals are withdrawn, and those
  // still being prepared are dropped as withdrawn unseen.
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
  // Proposals of `server` waiting or being prepared.
  std::size_t in_flight(int server) const;
  // The last decisions, oldest first (at most kHistoryLength).
  const std::deque<QueuedProposal>& history() const { return history_; }
  // Bytes held by proposals waiting or being prepared, and by front ends.
  std::size_t held_bytes() const;
  // The worker threads, for other slow work of the loop's (reading a long
  // line). What is posted there must not outlive what it uses: the core
  // joins them first when it is destroyed, abandoning work not started.
  boost::asio::thread_pool& workers() { return workers_; }

  static constexpr std::size_t kHistoryLength = 100;

 private:
  struct Server {
    ServerInfo info;
    std::shared_ptr<const Workspace> workspace;  // shared with the checks under way
    DecisionSender send;
    bool orphaned = false;
  };
  // A proposal between receive and the queue. While it is checked the
  // worker has it; while its lines are compared, `proposal` does.
  struct Preparing {
    int server = 0;
    std::size_t counted = 0;  // its bytes in held_bytes_
    std::optional<QueuedProposal> proposal;
    ChildRunner::Id comparison = 0;
    std::string gone;  // set when its server went while it was checked: why
  };
  bool wants_changes() const;
  bool wants_html() const;
  // On the loop, once the worker has checked the proposal.
  void checked(QueuedProposal proposal);
  // On the loop, once its lines are compared.
  void compared(std::uint64_t number, ChangedLines lines);
  void enqueue(QueuedProposal proposal);
  void refuse(QueuedProposal proposal);
  // Withdraws the proposals of `server` (all when 0) for `reason`.
  void withdraw(int server, std::string_view reason);
  void drop_preparing(int server, std::string_view reason);
  void finish(QueuedProposal proposal, std::string_view reason);
  void send(int server, std::string_view id, bool accepted);

  Journal& journal_;
  boost::asio::io_context& io_;
  ChildRunner& runner_;
  DiffBounds bounds_;
  std::vector<FrontEnd*> front_ends_;
  std::map<int, Server> servers_;
  std::map<std::uint64_t, Preparing> preparing_;
  std::map<std::uint64_t, QueuedProposal> waiting_;
  std::deque<QueuedProposal> history_;
  std::uint64_t next_number_ = 1;
  std::size_t held_bytes_ = 0;
  // Last, so that it is joined first: a check under way uses the above.
  boost::asio::thread_pool workers_;
};

}  // namespace varnock::review
