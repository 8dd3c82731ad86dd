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

void DeskFrontEnd::subscribe(std::function<void(const desk::DeskEvent&)> listener) {
  listeners_.push_back(std::move(listener));
}

}  // namespace varnock::review
