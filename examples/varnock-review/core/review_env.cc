#include "core/review_env.h"

#include <ctime>

#include "base/clock.h"
#include "core/proposal_check.h"
#include "core/revert.h"
#include "desk/markdown.h"
#include "system/apply.h"

namespace varnock::review {

void SystemEnv::prepare(QueuedProposal& proposal, const Workspace& workspace, bool html) {
  check_proposal(proposal, workspace);
  if (html && proposal.refusal.empty()) {
    proposal.explanation_html = desk::render_markdown(proposal.explanation);
    proposal.before_lines.emplace(proposal.before);
    proposal.after_lines.emplace(proposal.after);
  }
}

Result<std::string> SystemEnv::apply(const QueuedProposal& proposal, const Workspace& workspace) {
  return apply_proposal(workspace, proposal.path, proposal.target, proposal.before,
                        proposal.after);
}

ChildRunner::Id SystemEnv::compare(std::string_view before, std::string_view after,
                                   std::function<void(ChangedLines)> done) {
  return compare_lines(runner_, before, after, bounds_, std::move(done));
}

// Once this many bytes were kept since the last pruning, the oldest texts
// are pruned to the store's bounds: counting texts alone would let a few
// large ones (refused ones included) pass the bound many times over.
constexpr std::uint64_t kPruneAfterBytes = std::uint64_t{64} << 20;

Result<std::string> SystemEnv::keep(std::string_view text) {
  if (store_ == nullptr) return std::string();  // not kept without a journal
  Result<std::string> name = store_->put(text);
  if (name.ok() && (kept_bytes_ += text.size()) >= kPruneAfterBytes) {
    kept_bytes_ = 0;
    Status pruned = store_->prune(std::time(nullptr));
    if (!pruned.ok()) return fail(pruned.failure());
  }
  return name;
}

Result<Reverted> SystemEnv::revert(std::uint64_t entry) {
  if (store_ == nullptr) return fail("nothing can be reverted without a journal");
  Result<PastDecision> decision = read_past_decision(journal_.path(), entry);
  if (!decision.ok()) return fail(decision.failure());
  Result<std::string> reverted = revert_decision(decision.value(), *store_);
  if (!reverted.ok()) return fail(reverted.failure(), reverted.kind());
  return Reverted{std::move(decision).value(), std::move(reverted).value()};
}

constexpr std::string_view kNoJournal = "no history is kept without a journal";

Result<std::vector<PastDecision>> SystemEnv::past(std::string_view search, std::size_t limit) {
  if (store_ == nullptr) return fail(std::string(kNoJournal));
  Result<std::vector<PastDecision>> past = read_past_decisions(journal_.path(), search, limit);
  if (!past.ok()) return past;
  for (PastDecision& decision : past.value()) {
    decision.texts_pruned = decision.revertible() && !(store_->holds(decision.before_text) &&
                                                       store_->holds(decision.after_text));
  }
  return past;
}

// Only a change between two kept texts can be shown: a refused or withdrawn
// proposal may have kept none, and texts are pruned as they age.
Result<PastTexts> SystemEnv::past_texts(std::uint64_t entry) {
  if (store_ == nullptr) return fail(std::string(kNoJournal));
  Result<PastDecision> decision = read_past_decision(journal_.path(), entry);
  if (!decision.ok()) return fail(decision.failure());
  PastTexts texts{std::move(decision).value(), "", "", ""};
  if (texts.decision.after_text.empty()) {
    texts.missing = "the texts of this decision were not kept";
    return texts;
  }
  Result<std::string> before = store_->get(texts.decision.before_text);
  Result<std::string> after = before.ok() ? store_->get(texts.decision.after_text) : before;
  if (!after.ok()) {
    texts.missing = "the texts of this decision are no longer kept: " + after.failure();
    return texts;
  }
  texts.before = std::move(before).value();
  texts.after = std::move(after).value();
  texts.before_lines.emplace(texts.before);
  texts.after_lines.emplace(texts.after);
  return texts;
}

std::string SystemEnv::now() { return utc_now(); }

}  // namespace varnock::review
