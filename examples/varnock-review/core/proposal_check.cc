#include "core/proposal_check.h"

#include <utility>

#include "core/visible_text.h"

namespace varnock::review {
namespace {

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

void refuse(QueuedProposal& proposal, std::string_view reason) {
  proposal.refusal = std::string(reason);
  proposal.outcome = proposal.refusal;
  proposal.state = ProposalState::kRefused;
}

}  // namespace

// Everything that can be known before asking: where the content would go,
// and whether the file still holds what the agent read.
void check_proposal(QueuedProposal& proposal, const Workspace& workspace) {
  note_hidden_characters(proposal);
  Result<Target> target = resolve_target(workspace, proposal.path);
  if (!target.ok()) return refuse(proposal, target.failure());
  proposal.target = target.value().shown;
  Result<PresentFile> present =
      check_present(target.value().directory.get(), target.value().name, proposal.before);
  if (!present.ok()) return refuse(proposal, present.failure());
  proposal.new_file = !present.value().exists;
  if (proposal.new_file) proposal.notices.insert(proposal.notices.begin(), "new file");
}

}  // namespace varnock::review
