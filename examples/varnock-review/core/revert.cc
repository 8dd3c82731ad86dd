#include "core/revert.h"

#include "system/apply.h"

namespace varnock::review {

Result<std::string> revert_decision(const PastDecision& decision, const TextStore& store) {
  if (decision.decision != "accepted") return fail("only an accepted edit can be reverted");
  if (decision.after_text.empty()) return fail("the texts of this edit were not kept");
  Result<std::string> written = store.get(decision.after_text);
  Result<std::string> before = written.ok() ? store.get(decision.before_text) : written;
  if (!before.ok()) return fail("the texts of this edit are no longer kept: " + before.failure());
  Result<Workspace> workspace = open_workspace_at(decision.workspace);
  if (!workspace.ok()) return fail(workspace.failure());
  Result<std::string> reverted =
      decision.new_file ? remove_written(workspace.value(), decision.target, written.value())
                        : apply_proposal(workspace.value(), decision.target, decision.target,
                                         written.value(), before.value());
  if (!reverted.ok() && reverted.kind() == FailureKind::kStale) {
    return fail(std::string(kChangedSinceWritten), FailureKind::kStale);
  }
  return reverted;
}

}  // namespace varnock::review
