#include "review_core.h"

#include "apply.h"
#include "visible_text.h"

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

// Notices for what a person could otherwise miss in the proposal's fields.
void note_hidden_characters(QueuedProposal& proposal) {
  const std::pair<std::string_view, std::string_view> fields[] = {
      {"the id", proposal.id},
      {"the path", proposal.path},
      {"the explanation", proposal.explanation},
      {"the new text", proposal.after},
      {"the old text", proposal.before}};
  for (const auto& [name, text] : fields) {
    if (holds_hidden_characters(text, name == "the id" || name == "the path"))
      proposal.notices.push_back("hidden characters in " + std::string(name));
  }
}

}  // namespace

std::string describe_server(const ServerInfo& server) {
  std::string out =
      "server #" + std::to_string(server.number) + " (pid " + std::to_string(server.pid);
  if (server.hello_pid) out += ", hello said pid " + std::to_string(*server.hello_pid);
  if (!server.thread_id.empty()) out += ", thread \"" + visible_name(server.thread_id).text + "\"";
  return out + ", in " + visible_name(server.workspace).text + ")";
}

ReviewCore::ReviewCore(Journal& journal) : journal_(journal) {}

void ReviewCore::server_ready(const ServerInfo& server, const Workspace& workspace,
                              DecisionSender send) {
  servers_[server.number] = Server{server, &workspace, std::move(send)};
}

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
  check(proposal, *found->second.workspace);
  if (found->second.orphaned) proposal.notices.emplace_back(kHostGone);
  if (!proposal.refusal.empty()) {
    for (FrontEnd* front_end : front_ends_) front_end->proposal_queued(proposal);
    send(server, proposal.id, false);
    const std::string reason = proposal.refusal;
    finish(std::move(proposal), reason);
    return;
  }
  held_bytes_ += proposal.before.size() + proposal.after.size() + proposal.explanation.size();
  const std::uint64_t number = proposal.number;
  const QueuedProposal& queued = waiting_.emplace(number, std::move(proposal)).first->second;
  for (FrontEnd* front_end : front_ends_) front_end->proposal_queued(queued);
}

// Everything that can be known before asking: where the content would go,
// and whether the file still holds what the agent read.
void ReviewCore::check(QueuedProposal& proposal, const Workspace& workspace) {
  note_hidden_characters(proposal);
  Result<Target> target = resolve_target(workspace, proposal.path);
  if (!target.ok()) {
    proposal.refusal = target.failure();
    proposal.outcome = proposal.refusal;
    proposal.state = ProposalState::kRefused;
    return;
  }
  proposal.target = target.value().shown;
  Result<std::optional<PresentFile>> present =
      read_present(target.value().directory.get(), target.value().name);
  std::string_view reason = present.ok() ? compare_present(present.value(), proposal.before)
                                         : std::string_view(present.failure());
  if (!reason.empty()) {
    proposal.refusal = std::string(reason);
    proposal.outcome = proposal.refusal;
    proposal.state = ProposalState::kRefused;
    return;
  }
  proposal.new_file = !present.value().has_value();
  if (proposal.new_file) proposal.notices.insert(proposal.notices.begin(), "new file");
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

void ReviewCore::withdraw_all() { withdraw(0, kStopped); }

// Takes every withdrawn proposal out of the queue before telling anyone, so
// no front end puts one of them to the person meanwhile.
void ReviewCore::withdraw(int server, std::string_view reason) {
  std::vector<QueuedProposal> withdrawn;
  for (auto it = waiting_.begin(); it != waiting_.end();) {
    if (server != 0 && it->second.server.number != server) {
      ++it;
      continue;
    }
    withdrawn.push_back(std::move(it->second));
    it = waiting_.erase(it);
    const QueuedProposal& last = withdrawn.back();
    held_bytes_ -= last.before.size() + last.after.size() + last.explanation.size();
  }
  for (QueuedProposal& proposal : withdrawn) {
    proposal.state = ProposalState::kWithdrawn;
    proposal.outcome = std::string(reason);
    for (FrontEnd* front_end : front_ends_) front_end->proposal_withdrawn(proposal);
    finish(std::move(proposal), reason);
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
  held_bytes_ -= proposal.before.size() + proposal.after.size() + proposal.explanation.size();
  proposal.answered_by = std::string(who);
  proposal.state = ProposalState::kRejected;
  proposal.outcome = std::string(kRejectedByPerson);
  auto server = servers_.find(proposal.server.number);
  if (accept && server == servers_.end()) proposal.outcome = std::string(kWithdrawn);
  if (accept && server != servers_.end()) {
    Result<std::string> applied = apply_proposal(*server->second.workspace, proposal.path,
                                                 proposal.target, proposal.before, proposal.after);
    proposal.state = applied.ok() ? ProposalState::kAccepted : ProposalState::kRejected;
    proposal.outcome = applied.ok() ? std::move(applied).value() : std::move(applied).failure();
  }
  send(proposal.server.number, proposal.id, proposal.state == ProposalState::kAccepted);
  for (FrontEnd* front_end : front_ends_) front_end->proposal_decided(proposal);
  const std::string reason = proposal.state == ProposalState::kAccepted ? "" : proposal.outcome;
  finish(std::move(proposal), reason);
  return true;
}

std::vector<const QueuedProposal*> ReviewCore::waiting() const {
  std::vector<const QueuedProposal*> out;
  for (const auto& [number, proposal] : waiting_) out.push_back(&proposal);
  return out;
}

bool ReviewCore::has_waiting(int server) const {
  for (const auto& [number, proposal] : waiting_) {
    if (proposal.server.number == server) return true;
  }
  return false;
}

// Journals a decided proposal and keeps it in the recent history, without
// its texts.
void ReviewCore::finish(QueuedProposal proposal, std::string_view reason) {
  const ServerInfo& server = proposal.server;
  JournalRecord record{server.pid,
                       server.thread_id,
                       server.workspace,
                       proposal.path,
                       proposal.target.empty() ? proposal.path : proposal.target,
                       decision_word(proposal.state),
                       reason,
                       proposal.before.size(),
                       proposal.after.size()};
  Status recorded = journal_.record(record);
  if (!recorded.ok()) notice(visible_name(recorded.failure()).text);
  proposal.before.clear();
  proposal.after.clear();
  history_.push_back(std::move(proposal));
  if (history_.size() > kHistoryLength) history_.pop_front();
}

void ReviewCore::send(int server, std::string_view id, bool accepted) {
  auto found = servers_.find(server);
  if (found != servers_.end()) found->second.send(mcp::decision_line(id, accepted));
}

}  // namespace varnock::review
