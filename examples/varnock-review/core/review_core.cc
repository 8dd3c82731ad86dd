#include "core/review_core.h"

#include <malloc.h>

#include <boost/asio/post.hpp>

#include "core/visible_text.h"

namespace varnock::review {
namespace {

constexpr std::string_view kWithdrawn = "the server went away before an answer";
constexpr std::string_view kStopped = "the reviewer stopped before an answer";
constexpr std::string_view kRejectedByPerson = "rejected by the person";

std::string_view decision_word(ProposalState state) {
  switch (state) {
    case ProposalState::kAccepted:
      return "accepted";
    case ProposalState::kRejected:
    case ProposalState::kNotApplied:
      return "rejected";
    case ProposalState::kRefused:
      return "refused";
    case ProposalState::kWithdrawn:
      return "withdrawn";
    case ProposalState::kWaiting:
      break;
  }
  return "waiting";
}

// Checks run on this many threads, so that one slow check does not hold
// up every other server's.
constexpr std::size_t kWorkerThreads = 2;

// A proposal holding this much leaves memory behind that the allocator
// would keep for itself.
constexpr std::size_t kTrimAfter = std::size_t{1} << 20;

constexpr std::string_view kRejectedByRule = "rejected by rule ";

// Notes the rule that answers a checked proposal, if any. Matching is
// bounded by the lengths of the path and the patterns (path_pattern.h), but
// runs on a worker all the same: there may be many rules.
void apply_rules(const Rules& rules, QueuedProposal& proposal) {
  const Rule* rule = rules.find(proposal.server.workspace, proposal.target);
  if (rule == nullptr || rule->action == RuleAction::kAsk) return;
  proposal.rule = describe_rule(*rule);
  proposal.rule_accepts = rule->action == RuleAction::kAccept;
}

// Lets go of a string's bytes; clear() would keep them.
void release(std::string& text) { std::string().swap(text); }

}  // namespace

// Work on a worker counts as the loop's: the loop does not run out of work
// before it hears back.
ReviewCore::LoopBusy ReviewCore::loop_busy() { return boost::asio::make_work_guard(io_); }

ReviewCore::ReviewCore(ReviewEnv& env, boost::asio::io_context& io, Rules rules)
    : env_(env), io_(io), rules_(std::move(rules)), workers_(kWorkerThreads) {}

ReviewCore::~ReviewCore() {
  workers_.stop();
  workers_.join();
  for (const auto& [number, entry] : preparing_) env_.cancel(entry.comparison);
}

void ReviewCore::server_ready(const ServerInfo& server, std::shared_ptr<const Workspace> workspace,
                              DecisionSender send) {
  servers_[server.number] = Server{server, std::move(workspace), std::move(send)};
}

// The proposal is counted at once; a worker checks it (and renders its
// explanation) and hands it back to the loop.
void ReviewCore::receive(int server, mcp::BrokerProposal message) {
  auto found = servers_.find(server);
  if (found == servers_.end()) return;
  QueuedProposal proposal;
  proposal.number = next_number_++;
  proposal.server = found->second.info;
  proposal.id = std::move(message.id);
  proposal.path = std::move(message.edit.path);
  proposal.before = std::move(message.edit.before);
  proposal.after = std::move(message.edit.after);
  proposal.explanation = std::move(message.edit.explanation_in_markdown);
  const std::size_t counted = proposal_bytes(proposal);
  held_bytes_ += counted;
  preparing_.emplace(proposal.number, Preparing{server, counted, std::nullopt, 0, ""});
  boost::asio::post(workers_, [this, proposal = std::move(proposal), busy = loop_busy(),
                               workspace = found->second.workspace, html = wants_html()]() mutable {
    env_.prepare(proposal, *workspace, html);
    if (proposal.refusal.empty()) {
      apply_rules(rules_, proposal);
    } else {
      keep_texts(proposal);
    }
    boost::asio::post(
        io_, [this, proposal = std::move(proposal)]() mutable { checked(std::move(proposal)); });
  });
}

void ReviewCore::checked(QueuedProposal proposal) {
  auto entry = preparing_.find(proposal.number);
  if (entry == preparing_.end()) return;
  Preparing& preparing = entry->second;
  const bool compare = proposal.refusal.empty() && proposal.rule.empty() &&
                       preparing.gone.empty() && wants_changes();
  if (!compare) {
    if (withdrawn_meanwhile(entry, proposal)) return;
    if (!proposal.refusal.empty()) return refuse(std::move(proposal));
    return proposal.rule.empty() ? enqueue(std::move(proposal))
                                 : answer_by_rule(std::move(proposal));
  }
  held_bytes_ += proposal_bytes(proposal) - preparing.counted;
  preparing.counted = proposal_bytes(proposal);
  const QueuedProposal& held = preparing.proposal.emplace(std::move(proposal));
  preparing.comparison = env_.compare(
      held.before, held.after,
      [this, number = held.number](ChangedLines lines) { compared(number, std::move(lines)); });
}

// What is made of the changed lines is made on a worker, as it would hold
// the loop for a large text: the lines of a whole replacement counted, and
// what each front end prints of them; the proposal goes there with them.
void ReviewCore::compared(std::uint64_t number, ChangedLines lines) {
  auto entry = preparing_.find(number);
  if (entry == preparing_.end() || !entry->second.proposal) return;
  QueuedProposal proposal = std::move(*entry->second.proposal);
  entry->second.proposal.reset();
  entry->second.comparison = 0;
  boost::asio::post(workers_, [this, proposal = std::move(proposal), lines = std::move(lines),
                               busy = loop_busy()]() mutable {
    if (lines.whole) count_whole(lines, proposal.before, proposal.after);
    proposal.runs = std::move(lines.runs);
    if (!lines.notice.empty()) proposal.notices.push_back(std::move(lines.notice));
    for (const FrontEnd* front_end : front_ends_) front_end->prepare_changes(proposal);
    boost::asio::post(
        io_, [this, proposal = std::move(proposal)]() mutable { counted(std::move(proposal)); });
  });
}

void ReviewCore::counted(QueuedProposal proposal) {
  auto entry = preparing_.find(proposal.number);
  if (entry == preparing_.end() || withdrawn_meanwhile(entry, proposal)) return;
  enqueue(std::move(proposal));
}

bool ReviewCore::withdrawn_meanwhile(std::map<std::uint64_t, Preparing>::iterator entry,
                                     QueuedProposal& proposal) {
  const std::string gone = std::move(entry->second.gone);
  held_bytes_ -= entry->second.counted;
  preparing_.erase(entry);
  if (gone.empty()) return false;
  proposal.state = ProposalState::kWithdrawn;
  proposal.outcome = gone;
  finish(std::move(proposal), gone);
  return true;
}

void ReviewCore::enqueue(QueuedProposal proposal) {
  if (servers_.at(proposal.server.number).orphaned) proposal.notices.emplace_back(kHostGone);
  held_bytes_ += proposal_bytes(proposal);
  const std::uint64_t number = proposal.number;
  const QueuedProposal& queued = waiting_.emplace(number, std::move(proposal)).first->second;
  for (FrontEnd* front_end : front_ends_) front_end->proposal_queued(queued);
}

// Settled as an answer is; it stays counted until then.
void ReviewCore::answer_by_rule(QueuedProposal proposal) {
  proposal.answered_by = "rule " + proposal.rule;
  if (!proposal.rule_accepts) {
    proposal.state = ProposalState::kRejected;
    proposal.outcome = std::string(kRejectedByRule) + proposal.rule;
  }
  held_bytes_ += proposal_bytes(proposal);
  settle(std::move(proposal));
}

void ReviewCore::refuse(QueuedProposal proposal) {
  if (servers_.at(proposal.server.number).orphaned) proposal.notices.emplace_back(kHostGone);
  proposal.decided_at = env_.now();
  for (FrontEnd* front_end : front_ends_) front_end->proposal_queued(proposal);
  send(proposal.server.number, proposal.id, false);
  const std::string reason = proposal.refusal;
  finish(std::move(proposal), reason);
}

bool ReviewCore::wants_changes() const {
  for (const FrontEnd* front_end : front_ends_) {
    if (front_end->wants_changes()) return true;
  }
  return false;
}

bool ReviewCore::wants_html() const {
  for (const FrontEnd* front_end : front_ends_) {
    if (front_end->wants_html()) return true;
  }
  return false;
}

void ReviewCore::server_gone(int server) {
  servers_.erase(server);
  withdraw(server, kWithdrawn);
}

void ReviewCore::server_orphaned(int server) {
  auto found = servers_.find(server);
  if (found == servers_.end() || found->second.orphaned) return;
  found->second.orphaned = true;
  for (auto& [number, proposal] : waiting_) {
    if (proposal.server.number != server) continue;
    proposal.notices.emplace_back(kHostGone);
    for (FrontEnd* front_end : front_ends_) front_end->proposal_changed(proposal, kHostGone);
  }
}

void ReviewCore::withdraw_all() {
  while (!settling_.empty()) {
    settling_.begin()->second.written.wait();
    settled(settling_.begin()->first);
  }
  withdraw(0, kStopped);
  // A worker may call on the front ends (prepare_changes), which go before
  // the core does: what a worker runs is finished now, and nothing starts.
  workers_.stop();
  workers_.join();
}

// Takes every withdrawn proposal out of the queue before telling anyone, so
// no front end puts one of them to the person meanwhile.
void ReviewCore::withdraw(int server, std::string_view reason) {
  drop_preparing(server, reason);
  std::vector<QueuedProposal> withdrawn;
  for (auto it = waiting_.begin(); it != waiting_.end();) {
    if (server != 0 && it->second.server.number != server) {
      ++it;
      continue;
    }
    withdrawn.push_back(std::move(it->second));
    it = waiting_.erase(it);
    held_bytes_ -= proposal_bytes(withdrawn.back());
  }
  for (QueuedProposal& proposal : withdrawn) {
    proposal.state = ProposalState::kWithdrawn;
    proposal.outcome = std::string(reason);
    proposal.decided_at = env_.now();
    for (FrontEnd* front_end : front_ends_) front_end->proposal_withdrawn(proposal);
    finish(std::move(proposal), reason);
  }
}

// No front end has seen these: they are journalled as withdrawn and go
// to the history. One that a worker has is dropped when it comes back.
void ReviewCore::drop_preparing(int server, std::string_view reason) {
  for (auto it = preparing_.begin(); it != preparing_.end();) {
    Preparing& entry = it->second;
    if ((server != 0 && entry.server != server) || !entry.gone.empty()) {
      ++it;
    } else if (!entry.proposal) {
      entry.gone = std::string(reason);
      ++it;
    } else {
      env_.cancel(entry.comparison);  // before the texts it reads go
      QueuedProposal proposal = std::move(*entry.proposal);
      held_bytes_ -= entry.counted;
      it = preparing_.erase(it);
      proposal.state = ProposalState::kWithdrawn;
      proposal.outcome = std::string(reason);
      finish(std::move(proposal), reason);
    }
  }
}

void ReviewCore::notice(std::string_view text) {
  for (FrontEnd* front_end : front_ends_) front_end->notice(text);
}

bool ReviewCore::answer(std::uint64_t number, bool accept, std::string_view who) {
  auto found = waiting_.find(number);
  if (found == waiting_.end()) return false;
  QueuedProposal proposal = std::move(found->second);
  waiting_.erase(found);
  proposal.answered_by = std::string(who);
  if (!accept) {
    proposal.state = ProposalState::kRejected;
    proposal.outcome = std::string(kRejectedByPerson);
  }
  settle(std::move(proposal));
  return true;
}

// A worker keeps the texts of an answered proposal and writes it when it
// was accepted; it stays counted meanwhile. Its server may go meanwhile,
// and is then told nothing. (A server that goes withdraws its waiting
// proposals, so the server of one answered is there.)
void ReviewCore::settle(QueuedProposal proposal) {
  const Server& server = servers_.at(proposal.server.number);
  std::promise<Result<std::string>> written;
  const std::uint64_t number = proposal.number;
  Settling& entry =
      settling_.emplace(number, Settling{std::move(proposal), written.get_future(), {}}).first->second;
  boost::asio::post(workers_, [this, &held = entry.proposal, &unkept = entry.unkept,
                               written = std::move(written), busy = loop_busy(),
                               workspace = server.workspace, number]() mutable {
    unkept = keep_texts(held);
    const bool accepted = held.state == ProposalState::kWaiting;
    written.set_value(accepted ? env_.apply(held, *workspace) : std::string());
    boost::asio::post(io_, [this, number] { settled(number); });
  });
}

std::string ReviewCore::keep_texts(QueuedProposal& proposal) {
  Result<std::string> before = env_.keep(proposal.before);
  Result<std::string> after = before.ok() ? env_.keep(proposal.after) : before;
  if (!after.ok()) return after.failure();
  proposal.before_name = std::move(before).value();
  proposal.after_name = std::move(after).value();
  return "";
}

void ReviewCore::settled(std::uint64_t number) {
  auto entry = settling_.find(number);
  if (entry == settling_.end()) return;
  QueuedProposal proposal = std::move(entry->second.proposal);
  Result<std::string> written = entry->second.written.get();
  if (entry->second.unkept != told_unkept_) {  // told once, until it changes
    told_unkept_ = std::move(entry->second.unkept);
    if (!told_unkept_.empty()) {
      notice("the history will not show the changes decided now: " +
             visible_name(told_unkept_).text);
    }
  }
  settling_.erase(entry);
  held_bytes_ -= proposal_bytes(proposal);
  if (proposal.state == ProposalState::kWaiting) {
    proposal.state = written.ok() ? ProposalState::kAccepted : ProposalState::kNotApplied;
    proposal.outcome = written.ok() ? std::move(written).value() : std::move(written).failure();
  }
  decide(std::move(proposal));
}

void ReviewCore::decide(QueuedProposal proposal) {
  proposal.decided_at = env_.now();
  send(proposal.server.number, proposal.id, proposal.state == ProposalState::kAccepted);
  for (FrontEnd* front_end : front_ends_) front_end->proposal_decided(proposal);
  const std::string reason = proposal.state == ProposalState::kAccepted ? "" : proposal.outcome;
  finish(std::move(proposal), reason);
}

void ReviewCore::revert(std::uint64_t entry, std::string_view who) {
  boost::asio::post(workers_, [this, entry, who = std::string(who), busy = loop_busy()] {
    Result<Reverted> reverted = env_.revert(entry);
    boost::asio::post(io_, [this, entry, who, reverted = std::move(reverted)]() mutable {
      finish_revert(entry, std::move(reverted), who);
    });
  });
}

namespace {

// A revert is journalled as a decision of its own, its sizes and texts the
// other way round.
JournalRecord revert_record(const PastDecision& undone, std::string_view time,
                            std::string_view warning) {
  JournalRecord record;
  record.time = time;
  record.workspace = undone.workspace;
  record.path = undone.path;
  record.target = undone.target;
  record.decision = "reverted";
  record.reason = warning;
  record.before_bytes = undone.after_bytes;
  record.after_bytes = undone.before_bytes;
  record.before_text = undone.after_text;
  record.after_text = undone.before_text;
  record.reverts = undone.entry;
  return record;
}

}  // namespace

// One that failed is only told.
void ReviewCore::finish_revert(std::uint64_t entry, Result<Reverted> reverted,
                               std::string_view who) {
  if (!reverted.ok()) {
    PastDecision unknown;
    unknown.entry = entry;
    const Status failed = fail(reverted.failure(), reverted.kind());
    for (FrontEnd* front_end : front_ends_) front_end->reverted(unknown, failed, who);
    return;
  }
  const PastDecision& undone = reverted.value().decision;
  const std::string time = env_.now();
  const JournalRecord record = revert_record(undone, time, reverted.value().warning);
  Result<std::uint64_t> recorded = env_.record(record);
  if (!recorded.ok()) notice(visible_name(recorded.failure()).text);
  for (FrontEnd* front_end : front_ends_) front_end->reverted(undone, Status(), who);
}

void ReviewCore::past(std::string search, std::size_t limit, PastList done) {
  boost::asio::post(workers_, [this, search = std::move(search), limit, done = std::move(done),
                               busy = loop_busy()]() mutable {
    auto read = std::make_shared<Result<std::vector<PastDecision>>>(env_.past(search, limit));
    boost::asio::post(io_, [read, done = std::move(done)] { done(std::move(*read)); });
  });
}

// The texts wait in `change` while they are compared; the comparison hands
// its lines back on the loop.
void ReviewCore::past_change(std::uint64_t entry, PastShown done) {
  boost::asio::post(workers_, [this, entry, done = std::move(done), busy = loop_busy()]() mutable {
    auto read = std::make_shared<Result<PastTexts>>(env_.past_texts(entry));
    boost::asio::post(io_, [this, read, done = std::move(done)]() mutable {
      if (!read->ok()) return done(fail(read->failure()));
      auto change = std::make_shared<PastChange>(PastChange{std::move(*read).value(), {}});
      if (!change->texts.missing.empty()) return done(std::move(*change));
      compare_past(std::move(change), std::move(done));
    });
  });
}

// As a waiting proposal's, a whole replacement's lines are counted on a
// worker.
void ReviewCore::compare_past(std::shared_ptr<PastChange> change, PastShown done) {
  const PastTexts& texts = change->texts;
  env_.compare(texts.before, texts.after, [this, change, done](ChangedLines lines) {
    change->lines = std::move(lines);
    if (!change->lines.whole) return done(std::move(*change));
    boost::asio::post(workers_, [this, change, done, busy = loop_busy()] {
      count_whole(change->lines, change->texts.before, change->texts.after);
      boost::asio::post(io_, [change, done] { done(std::move(*change)); });
    });
  });
}

std::vector<const QueuedProposal*> ReviewCore::waiting() const {
  std::vector<const QueuedProposal*> out;
  for (const auto& [number, proposal] : waiting_) out.push_back(&proposal);
  return out;
}

std::size_t ReviewCore::in_flight(int server) const {
  std::size_t count = 0;
  for (const auto& [number, entry] : preparing_) count += entry.server == server ? 1 : 0;
  for (const auto& [number, proposal] : waiting_) count += proposal.server.number == server;
  for (const auto& [number, entry] : settling_) count += entry.proposal.server.number == server;
  return count;
}

std::size_t ReviewCore::held_bytes() const {
  std::size_t held = held_bytes_;
  for (const FrontEnd* front_end : front_ends_) held += front_end->held_bytes();
  return held;
}

// Journals a decided proposal and keeps it in the recent history, without
// its texts. After a large one, memory the allocator keeps is given back.
void ReviewCore::finish(QueuedProposal proposal, std::string_view reason) {
  const ServerInfo& server = proposal.server;
  if (proposal.decided_at.empty()) proposal.decided_at = env_.now();
  JournalRecord record{proposal.decided_at,
                       server.pid,
                       server.thread_id,
                       server.workspace,
                       proposal.path,
                       proposal.target.empty() ? proposal.path : proposal.target,
                       decision_word(proposal.state),
                       reason,
                       proposal.before.size(),
                       proposal.after.size(),
                       proposal.before_name,
                       proposal.after_name,
                       proposal.new_file,
                       std::nullopt};
  record.rule = proposal.rule;
  Result<std::uint64_t> recorded = env_.record(record);
  if (!recorded.ok()) notice(visible_name(recorded.failure()).text);
  if (recorded.ok()) proposal.journal_entry = recorded.value();
  const bool large = proposal_bytes(proposal) >= kTrimAfter;
  release(proposal.before);
  release(proposal.after);
  release(proposal.explanation);
  release(proposal.explanation_html);
  release(proposal.shown_changes);
  proposal.runs.reset();
  proposal.before_lines.reset();
  proposal.after_lines.reset();
  history_.push_back(std::move(proposal));
  if (history_.size() > kHistoryLength) history_.pop_front();
  if (large) ::malloc_trim(0);
}

void ReviewCore::send(int server, std::string_view id, bool accepted) {
  auto found = servers_.find(server);
  if (found != servers_.end()) found->second.send(Decision{id, accepted});
}

}  // namespace varnock::review
