// What the person sees at the terminal: proposals, diffs and outcomes, as
// text whose every field is escaped (visible_text.h).
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "core/past_decisions.h"
#include "core/review_core.h"

namespace varnock::review {

// `diff` (already escaped) with ANSI colours: file headers bold, hunk
// headers cyan, removed lines red, added lines green.
std::string colour_diff(std::string_view diff);

// Bytes of a diff shown before the rest is left out (unified_diff.h).
inline constexpr std::size_t kMaxShownDiff = std::size_t{8} << 20;
// Bytes of an explanation shown before the rest is left out.
inline constexpr std::size_t kMaxShownExplanation = std::size_t{1} << 20;
// What stands for the diff of a proposal whose lines no front end compared.
inline constexpr std::string_view kNotCompared =
    "  (not compared: every proposal is answered at once)\n";

// The unified diff of the proposal's before against its after, from its
// changed runs, escaped, labelled with the resolved target ("/dev/null" for
// a new file), cut after kMaxShownDiff bytes; kNotCompared without runs.
std::string diff_of(const QueuedProposal& proposal);

// diff_of, coloured when `colour`: what render_proposal shows of the
// changes when the proposal's shown_changes was not made beforehand.
std::string changes_text(const QueuedProposal& proposal, bool colour);

// The screen text for one proposal, ending in LF: who sent it, the path,
// the resolved target when it differs, notices, the explanation (its first
// kMaxShownExplanation bytes, and a line saying how much is left out) and
// the diff, or for a refused proposal the reason it is not asked.
// `still_waiting` counts proposals queued behind it.
std::string render_proposal(const QueuedProposal& proposal, std::size_t still_waiting, bool colour);

// The file a proposal writes, escaped: its target, or its path before the
// target is known.
std::string shown_target(const QueuedProposal& proposal);

// One line on a notice a waiting proposal got, without its LF:
// "Proposal #3 (notes.md from server #2): <notice>."
std::string render_notice(const QueuedProposal& proposal, std::string_view notice);

// One line on what became of a decided proposal, ending in LF.
std::string render_outcome(const QueuedProposal& proposal);

// One line on a revert asked for through `who`, without its LF.
std::string render_revert(const PastDecision& decision, const Status& outcome,
                          std::string_view who);

// The accepted edits that can be reverted, numbered from 1, newest first,
// each with the rule that accepted it when one did; without the last LF.
std::string render_undoable(const std::vector<PastDecision>& accepted);

// The recent decisions, one line each, ending in LF.
std::string render_history(const std::deque<QueuedProposal>& history);

// Queues `text` for standard output (output.h).
void show(std::string_view text);

}  // namespace varnock::review
