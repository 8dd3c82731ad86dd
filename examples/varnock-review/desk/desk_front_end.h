// The browser desk as a front end of the review core: it gives the desk
// the core's waiting proposals and history, passes the desk's answers to
// the core, and turns the core's notifications into the desk's events.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "desk/desk_source.h"
#include "core/review_core.h"

namespace varnock::review {

class DeskFrontEnd : public FrontEnd, public desk::DeskSource {
 public:
  explicit DeskFrontEnd(ReviewCore& core) : core_(core) {}

  // FrontEnd: what the core tells every front end.
  void proposal_queued(const QueuedProposal& proposal) override;
  void proposal_decided(const QueuedProposal& proposal) override;
  void proposal_withdrawn(const QueuedProposal& proposal) override;
  void proposal_changed(const QueuedProposal& proposal, std::string_view notice) override;
  void reverted(const PastDecision& decision, const Status& outcome, std::string_view who) override;
  void notice(std::string_view) override {}
  bool wants_changes() const override { return true; }
  bool wants_html() const override { return true; }
  std::size_t held_bytes() const override { return kept_bytes_ ? kept_bytes_() : 0; }

  // What the desk keeps of waiting proposals (its views), counted with them.
  void count_kept(std::function<std::size_t()> kept_bytes) { kept_bytes_ = std::move(kept_bytes); }

  // DeskSource: what the desk asks of the core.
  std::vector<desk::DeskProposal> pending() override;
  std::optional<desk::DeskProposal> proposal(std::uint64_t number) override;
  std::vector<desk::DeskDecision> history(std::size_t limit) override;
  std::optional<desk::DeskTexts> texts(std::uint64_t number) override;
  bool answer(std::uint64_t number, bool accept) override;
  void subscribe(std::function<void(const desk::DeskEvent&)> listener) override;
  void past(std::string search, std::size_t limit,
            std::function<void(Result<std::vector<desk::DeskPast>>)> done) override;
  void past_change(std::uint64_t entry,
                   std::function<void(Result<desk::DeskPastChange>)> done) override;
  void revert(std::uint64_t entry, std::function<void(Status)> done) override;

 private:
  void emit(desk::DeskEvent::Kind kind, const QueuedProposal& proposal);
  const QueuedProposal* waiting(std::uint64_t number) const;

  ReviewCore& core_;
  std::vector<std::function<void(const desk::DeskEvent&)>> listeners_;
  // What the desk waits to hear of each revert it asked for, by entry.
  std::multimap<std::uint64_t, std::function<void(Status)>> reverting_;
  // When each decision of this run was made, by proposal number.
  std::function<std::size_t()> kept_bytes_;
};

// What became of a decided proposal, in the words the desk's history shows:
// "accepted", "rejected", "refused: <reason>", "withdrawn", with the
// outcome the core gave after a colon.
std::string outcome_text(const QueuedProposal& proposal);

}  // namespace varnock::review
