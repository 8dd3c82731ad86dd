#include "desk/desk_front_end.h"

#include <utility>


namespace varnock::review {
namespace {

constexpr std::string_view kDeskName = "desk";

std::string pid_text(const ServerInfo& server) {
  std::string text = std::to_string(server.pid);
  if (server.hello_pid) text += " (hello said " + std::to_string(*server.hello_pid) + ")";
  return text;
}

desk::DeskProposal to_desk(const QueuedProposal& proposal) {
  desk::DeskProposal shown;
  shown.number = proposal.number;
  shown.path = proposal.path;
  if (proposal.target != proposal.path) shown.target = proposal.target;
  shown.server = desk::ToolServer{proposal.server.workspace, pid_text(proposal.server),
                                  proposal.server.thread_id};
  shown.before_size = proposal.before.size();
  shown.after_size = proposal.after.size();
  shown.new_file = proposal.new_file;
  shown.notices = proposal.notices;
  return shown;
}

desk::DeskPast to_desk(const PastDecision& decision) {
  desk::DeskPast shown{decision.entry,  decision.time,     decision.workspace, decision.path,
                       decision.target, decision.decision, decision.reason,    decision.rule};
  shown.new_file = decision.new_file;
  shown.reverted = decision.reverted;
  shown.revertible = decision.revertible();
  return shown;
}

}  // namespace

std::string outcome_text(const QueuedProposal& proposal) {
  std::string text;
  switch (proposal.state) {
    case ProposalState::kAccepted:
      text = proposal.rule.empty() ? "accepted" : "accepted by rule " + proposal.rule;
      break;
    case ProposalState::kRejected:
    case ProposalState::kNotApplied:
      text = "rejected";
      break;
    case ProposalState::kRefused:
      return "refused: " + proposal.refusal;
    case ProposalState::kWithdrawn:
      text = "withdrawn";
      break;
    case ProposalState::kWaiting:
      return "waiting";
  }
  if (!proposal.outcome.empty()) text += ": " + proposal.outcome;
  return text;
}

void DeskFrontEnd::proposal_queued(const QueuedProposal& proposal) {
  emit(desk::DeskEvent::Kind::kQueued, proposal);
  // A proposal refused by a check arrives decided; the desk lists it in
  // the history at once.
  if (proposal.state == ProposalState::kRefused) {
    emit(desk::DeskEvent::Kind::kDecided, proposal);
  }
}

void DeskFrontEnd::proposal_decided(const QueuedProposal& proposal) {
  emit(desk::DeskEvent::Kind::kDecided, proposal);
}

void DeskFrontEnd::proposal_withdrawn(const QueuedProposal& proposal) {
  emit(desk::DeskEvent::Kind::kWithdrawn, proposal);
}

void DeskFrontEnd::proposal_changed(const QueuedProposal& proposal, std::string_view) {
  emit(desk::DeskEvent::Kind::kChanged, proposal);
}

void DeskFrontEnd::emit(desk::DeskEvent::Kind kind, const QueuedProposal& proposal) {
  const desk::DeskEvent event{kind, proposal.number, outcome_text(proposal)};
  for (const auto& listener : listeners_) listener(event);
}

std::vector<desk::DeskProposal> DeskFrontEnd::pending() {
  std::vector<desk::DeskProposal> shown;
  for (const QueuedProposal* proposal : core_.waiting()) shown.push_back(to_desk(*proposal));
  return shown;
}

std::vector<desk::DeskDecision> DeskFrontEnd::history(std::size_t limit) {
  std::vector<desk::DeskDecision> decisions;
  const auto& past = core_.history();
  for (auto it = past.rbegin(); it != past.rend() && decisions.size() < limit; ++it) {
    decisions.push_back(desk::DeskDecision{it->number, it->path, it->server.workspace,
                                           outcome_text(*it), it->decided_at});
  }
  return decisions;
}

std::optional<desk::DeskProposal> DeskFrontEnd::proposal(std::uint64_t number) {
  const QueuedProposal* found = waiting(number);
  if (found == nullptr) return std::nullopt;
  return to_desk(*found);
}

std::optional<desk::DeskTexts> DeskFrontEnd::texts(std::uint64_t number) {
  const QueuedProposal* found = waiting(number);
  if (found == nullptr) return std::nullopt;
  const auto index = [](const std::optional<desk::LineIndex>& lines) {
    return lines ? &*lines : nullptr;
  };
  return desk::DeskTexts{found->before,
                         found->after,
                         found->explanation,
                         found->explanation_html,
                         found->runs ? std::span<const desk::ChangedRun>(*found->runs)
                                     : std::span<const desk::ChangedRun>(),
                         index(found->before_lines),
                         index(found->after_lines)};
}

const QueuedProposal* DeskFrontEnd::waiting(std::uint64_t number) const {
  for (const QueuedProposal* proposal : core_.waiting()) {
    if (proposal->number == number) return proposal;
  }
  return nullptr;
}

bool DeskFrontEnd::answer(std::uint64_t number, bool accept) {
  return core_.answer(number, accept, kDeskName);
}

void DeskFrontEnd::past(std::string search, std::size_t limit,
                        std::function<void(Result<std::vector<desk::DeskPast>>)> done) {
  core_.past(std::move(search), limit,
             [done = std::move(done)](Result<std::vector<PastDecision>> past) {
               if (!past.ok()) return done(fail(past.failure()));
               std::vector<desk::DeskPast> shown;
               for (const PastDecision& decision : past.value()) shown.push_back(to_desk(decision));
               done(std::move(shown));
             });
}

void DeskFrontEnd::past_change(std::uint64_t entry,
                               std::function<void(Result<desk::DeskPastChange>)> done) {
  core_.past_change(entry, [done = std::move(done)](Result<PastChange> change) {
    if (!change.ok()) return done(fail(change.failure()));
    PastChange& made = change.value();
    done(desk::DeskPastChange{
        to_desk(made.texts.decision), std::move(made.texts.before), std::move(made.texts.after),
        std::move(made.lines.runs), std::move(made.lines.notice), std::move(made.texts.missing),
        std::move(made.texts.before_lines), std::move(made.texts.after_lines)});
  });
}

void DeskFrontEnd::revert(std::uint64_t entry, std::function<void(Status)> done) {
  reverting_.emplace(entry, std::move(done));
  core_.revert(entry, kDeskName);
}

// Every page hears of a revert, whoever asked; the desk's own request
// gets its outcome.
void DeskFrontEnd::reverted(const PastDecision& decision, const Status& outcome,
                            std::string_view who) {
  if (who == kDeskName) {
    const auto asked = reverting_.find(decision.entry);
    if (asked != reverting_.end()) {
      const std::function<void(Status)> done = std::move(asked->second);
      reverting_.erase(asked);
      done(outcome);
    }
  }
  const desk::DeskEvent event{desk::DeskEvent::Kind::kReverted, decision.entry,
                              outcome.ok() ? "reverted" : "not reverted: " + outcome.failure()};
  for (const auto& listener : listeners_) listener(event);
}

void DeskFrontEnd::subscribe(std::function<void(const desk::DeskEvent&)> listener) {
  listeners_.push_back(std::move(listener));
}

}  // namespace varnock::review
