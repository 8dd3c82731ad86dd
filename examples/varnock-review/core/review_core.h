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
// shows HTML, on a worker thread; then its lines are compared once when a
// front end shows changes. An accepted one is written on a worker thread
// too. So a large proposal holds up neither the loop nor other servers.
// Proposals are numbered as they arrive and shown as they are ready: a
// small one may be shown before a large one received earlier.
//
// A proposal that passes the checks may meet one of the person's rules
// (rules.h): one that accepts or rejects decides it without asking, as an
// answer "rule ..." would; no front end is asked, or hears of it before it
// is decided.
//
// What the core touches outside itself (files, the diff, the journal, the
// clock) is its ReviewEnv; what it shows, its front ends.
#pragma once

#include <sys/types.h>

#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/thread_pool.hpp>
#include <cstdint>
#include <deque>
#include <functional>
#include <future>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/proposal.h"
#include "core/review_env.h"
#include "core/rules.h"
#include "mcp/broker_protocol.h"
#include "system/target.h"

namespace varnock::review {

// A front end shows proposals and collects answers. It hears of what it
// overrides; the rest it lets pass.
class FrontEnd {
 public:
  virtual ~FrontEnd() = default;
  // A proposal was received; a waiting one is already in waiting(). When
  // its `refusal` is set it is already decided (state kRefused) and is not
  // to be asked.
  virtual void proposal_queued(const QueuedProposal& proposal) = 0;
  // A waiting proposal was answered (by any front end) and, when accepted,
  // applied: state kAccepted, kRejected, or kNotApplied with `outcome`
  // saying why. A proposal a rule answered (its `rule` set) comes here
  // without having been queued.
  virtual void proposal_decided(const QueuedProposal& proposal) { (void)proposal; }
  // A waiting proposal's server went away; nothing was written.
  virtual void proposal_withdrawn(const QueuedProposal& proposal) { (void)proposal; }
  // A waiting proposal got `notice` (already last in its `notices`), such
  // as kHostGone; it still waits for an answer.
  virtual void proposal_changed(const QueuedProposal& proposal, std::string_view notice) {
    (void)proposal, (void)notice;
  }
  // An accepted edit was reverted, or could not be (`outcome` says why),
  // at the person's request through `who`.
  virtual void reverted(const PastDecision& decision, const Status& outcome,
                        std::string_view who) {
    (void)decision, (void)outcome, (void)who;
  }
  // One line about the servers (connected, refused, a line dropped ...),
  // without its LF; fields in it are already escaped.
  virtual void notice(std::string_view text) { (void)text; }

  // On a worker, once the changed lines are in `proposal.runs`: what the
  // front end would otherwise build from them on the loop when it shows
  // the proposal (shown_changes). Reads only what does not change.
  virtual void prepare_changes(QueuedProposal& proposal) const { (void)proposal; }

  // What the front end shows, so that nothing else is made: the changed
  // lines, the explanation as HTML.
  virtual bool wants_changes() const { return false; }
  virtual bool wants_html() const { return false; }
  // Bytes it keeps of waiting proposals (views it built), for the budget.
  virtual std::size_t held_bytes() const { return 0; }
};

// A past decision ready to be shown: its texts and their changed lines.
struct PastChange {
  PastTexts texts;
  ChangedLines lines;
};

// A server's answer to its proposal `id`, for the broker protocol to write.
struct Decision {
  std::string_view id;
  bool accepted = false;
};

class ReviewCore {
 public:
  // Sends a decision to a server.
  using DecisionSender = std::function<void(const Decision& decision)>;

  // `env` and `io` (the loop every call is made on) must outlive the core;
  // `rules` answer what they meet.
  ReviewCore(ReviewEnv& env, boost::asio::io_context& io, Rules rules = {});
  // Waits for the work under way on the workers (its results are dropped).
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
  // The reviewer is stopping: an answered proposal still on a worker is
  // waited for and decided; every waiting proposal is withdrawn, with no decision
  // sent (the servers see their connections close); the workers finish what
  // they run and take nothing more.
  void withdraw_all();
  void notice(std::string_view text);

  // The answer to a waiting proposal; the first answer wins. It is decided
  // once a worker has kept its texts and, when accepted, written it.
  // Deciding sends the decision, journals it and tells every front end.
  // False when the proposal is not (or no longer) waiting.
  bool answer(std::uint64_t number, bool accept, std::string_view who);

  // Reverts the accepted edit journalled at `entry` on a worker, only when
  // the file still holds what was written; then journals the revert and
  // tells every front end either way. Only a person asks for this: nothing
  // a server sends leads here.
  void revert(std::uint64_t entry, std::string_view who);

  // The journalled decisions, newest first, at most `limit`, those whose
  // path or workspace holds `search`: read on a worker, handed to `done` on
  // the loop.
  using PastList = std::function<void(Result<std::vector<PastDecision>>)>;
  void past(std::string search, std::size_t limit, PastList done);
  // The decision journalled at `entry`, its kept texts and their changed
  // lines, compared as a proposal's are: read on a worker, compared, and
  // handed to `done` on the loop.
  using PastShown = std::function<void(Result<PastChange>)>;
  void past_change(std::uint64_t entry, PastShown done);

  // Waiting proposals, oldest first.
  std::vector<const QueuedProposal*> waiting() const;
  // Proposals of `server` waiting, being prepared or being written.
  std::size_t in_flight(int server) const;
  // The last decisions, oldest first (at most kHistoryLength).
  const std::deque<QueuedProposal>& history() const { return history_; }
  // Bytes held by proposals not yet decided, and by front ends.
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
    std::string gone;  // set when its server went while a worker had it: why
  };
  // An answered proposal while a worker keeps its texts and, when it was
  // accepted, writes it. `written` is ready once the worker is done; the
  // loop hears of it then.
  struct Settling {
    QueuedProposal proposal;
    std::future<Result<std::string>> written;
    std::string unkept;  // why its texts could not be kept
  };
  using LoopBusy = boost::asio::executor_work_guard<boost::asio::io_context::executor_type>;
  LoopBusy loop_busy();
  bool wants_changes() const;
  bool wants_html() const;
  // On the loop, once the worker has checked the proposal.
  void checked(QueuedProposal proposal);
  // On the loop, once its lines are compared.
  void compared(std::uint64_t number, ChangedLines lines);
  // On the loop, once its changed lines are made.
  void counted(QueuedProposal proposal);
  // Lets go of a proposal back from a worker; true when it was withdrawn
  // meanwhile, and is finished as such.
  bool withdrawn_meanwhile(std::map<std::uint64_t, Preparing>::iterator entry,
                           QueuedProposal& proposal);
  void enqueue(QueuedProposal proposal);
  // Decides a proposal the rules answer.
  void answer_by_rule(QueuedProposal proposal);
  void settle(QueuedProposal proposal);
  // On a worker: keeps the texts, naming them in the proposal; else why not.
  std::string keep_texts(QueuedProposal& proposal);
  // On the loop, once the worker is done with an answered proposal.
  void settled(std::uint64_t number);
  void decide(QueuedProposal proposal);
  // Compares a past decision's texts for `done`.
  void compare_past(std::shared_ptr<PastChange> change, PastShown done);
  void finish_revert(std::uint64_t entry, Result<Reverted> reverted, std::string_view who);
  void refuse(QueuedProposal proposal);
  // Withdraws the proposals of `server` (all when 0) for `reason`.
  void withdraw(int server, std::string_view reason);
  void drop_preparing(int server, std::string_view reason);
  void finish(QueuedProposal proposal, std::string_view reason);
  void send(int server, std::string_view id, bool accepted);

  ReviewEnv& env_;
  boost::asio::io_context& io_;
  const Rules rules_;  // read by the workers
  std::vector<FrontEnd*> front_ends_;
  std::map<int, Server> servers_;
  std::map<std::uint64_t, Preparing> preparing_;
  std::map<std::uint64_t, QueuedProposal> waiting_;
  std::map<std::uint64_t, Settling> settling_;
  std::deque<QueuedProposal> history_;
  std::uint64_t next_number_ = 1;
  std::size_t held_bytes_ = 0;
  std::string told_unkept_;  // why texts could not be kept, as last told
  // Last, so that it is joined first: a check under way uses the above.
  boost::asio::thread_pool workers_;
};

}  // namespace varnock::review
