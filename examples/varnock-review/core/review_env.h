// What the review core does outside itself: reading and writing files, the
// comparison of texts, the texts kept, the journal and the clock. The core is handed one,
// so that a test can stand in for every part of it.
#pragma once

#include <atomic>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "base/result.h"
#include "core/changed_lines.h"
#include "core/journal.h"
#include "core/past_decisions.h"
#include "core/proposal.h"
#include "system/child_runner.h"
#include "system/target.h"
#include "system/text_store.h"

namespace varnock::review {

struct Reverted {
  PastDecision decision;
  std::string warning;
};

class ReviewEnv {
 public:
  virtual ~ReviewEnv() = default;

  // On a worker thread: the checks made before anyone is asked (see
  // proposal_check.h), then, when `html` and nothing was refused, the
  // explanation rendered as HTML.
  virtual void prepare(QueuedProposal& proposal, const Workspace& workspace, bool html) = 0;
  // On a worker thread: writes an accepted proposal (apply.h). A warning for
  // the person, usually empty, or why nothing was written.
  virtual Result<std::string> apply(const QueuedProposal& proposal,
                                    const Workspace& workspace) = 0;
  // Compares the texts and calls `done` on the loop, never from within this
  // call (changed_lines.h). The texts stay valid until then, or until the
  // comparison is cancelled through the id given (0: nothing to cancel).
  virtual ChildRunner::Id compare(std::string_view before, std::string_view after,
                                  std::function<void(ChangedLines)> done) = 0;
  virtual void cancel(ChildRunner::Id comparison) = 0;
  // On a worker thread: keeps a text so that it can be shown and reverted
  // later, and gives its name (text_store.h), or "" when texts are not
  // kept at all.
  virtual Result<std::string> keep(std::string_view text) = 0;
  // On a worker thread: reverts the accepted edit journalled at `entry`
  // (revert.h). The decision reverted and a warning for the person, or why
  // nothing changed.
  virtual Result<Reverted> revert(std::uint64_t entry) = 0;
  // On a worker thread: the journalled decisions, newest first, at most
  // `limit`, those whose path or workspace holds `search` (past_decisions.h).
  virtual Result<std::vector<PastDecision>> past(std::string_view search, std::size_t limit) = 0;
  // On a worker thread: the decision journalled at `entry` with its kept
  // texts, or with why they cannot be shown.
  virtual Result<PastTexts> past_texts(std::uint64_t entry) = 0;
  // On the loop: appends a decision to the journal, giving its entry.
  virtual Result<std::uint64_t> record(const JournalRecord& record) = 0;
  // The present UTC time, "2026-12-07T03:04:05Z".
  virtual std::string now() = 0;
};

// The real thing: the file checks and the apply beneath the workspace, GNU
// diff through the child runner, the kept texts, the journal and the
// system clock.
class SystemEnv final : public ReviewEnv {
 public:
  // `journal`, `runner` and `store` (when not null: texts are not kept
  // without one) must outlive it.
  SystemEnv(Journal& journal, ChildRunner& runner, const TextStore* store,
            DiffBounds bounds = {})
      : journal_(journal), runner_(runner), store_(store), bounds_(bounds) {}

  void prepare(QueuedProposal& proposal, const Workspace& workspace, bool html) override;
  Result<std::string> apply(const QueuedProposal& proposal, const Workspace& workspace) override;
  ChildRunner::Id compare(std::string_view before, std::string_view after,
                          std::function<void(ChangedLines)> done) override;
  void cancel(ChildRunner::Id comparison) override { runner_.cancel(comparison); }
  Result<std::string> keep(std::string_view text) override;
  Result<Reverted> revert(std::uint64_t entry) override;
  Result<std::vector<PastDecision>> past(std::string_view search, std::size_t limit) override;
  Result<PastTexts> past_texts(std::uint64_t entry) override;
  Result<std::uint64_t> record(const JournalRecord& record) override {
    return journal_.record(record);
  }
  std::string now() override;

 private:
  Journal& journal_;
  ChildRunner& runner_;
  const TextStore* store_;
  DiffBounds bounds_;
  std::atomic<std::uint64_t> kept_bytes_ = 0;  // since the last pruning
};

}  // namespace varnock::review
