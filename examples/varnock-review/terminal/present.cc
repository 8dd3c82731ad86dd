#include "terminal/present.h"

#include <unistd.h>

#include "base/line_reader.h"
#include "terminal/output.h"
#include "terminal/unified_diff.h"
#include "core/visible_text.h"

namespace varnock::review {
namespace {

constexpr std::string_view kBold = "\x1b[1m";
constexpr std::string_view kRed = "\x1b[31m";
constexpr std::string_view kGreen = "\x1b[32m";
constexpr std::string_view kCyan = "\x1b[36m";
constexpr std::string_view kReset = "\x1b[0m";
constexpr std::string_view kRule =
    "------------------------------------------------------------------------\n";

std::string_view colour_of(std::string_view line) {
  if (line.starts_with("+++") || line.starts_with("---")) return kBold;
  if (line.starts_with("@@")) return kCyan;
  if (line.starts_with("+")) return kGreen;
  if (line.starts_with("-")) return kRed;
  return {};
}

// Each line of `text` after `indent`, each ending with a LF.
std::string indented(std::string_view text, std::string_view indent) {
  std::string out;
  while (!text.empty()) {
    out += indent;
    out += cut_line(text);
    if (!out.ends_with('\n')) out += '\n';
  }
  return out;
}

std::string styled(std::string_view text, std::string_view style, bool colour) {
  if (!colour) return std::string(text);
  return std::string(style) + std::string(text) + std::string(kReset);
}

std::string name(std::string_view text) { return visible_name(text).text; }

std::string heading(const QueuedProposal& proposal, std::size_t still_waiting, bool colour) {
  std::string out(kRule);
  out += styled("Proposed edit from " + describe_server(proposal.server), kBold, colour) + "\n";
  out += "  id:     " + name(proposal.id) + "\n";
  out += "  file:   " + name(proposal.path) + "\n";
  if (!proposal.target.empty() && proposal.target != proposal.path) {
    out += "  writes: " + name(proposal.target) + "  (the path resolves to this file)\n";
  }
  for (const std::string& notice : proposal.notices) out += "  notice: " + name(notice) + "\n";
  out += "  sizes:  " + std::to_string(proposal.before.size()) + " -> " +
         std::to_string(proposal.after.size()) + " bytes\n";
  if (still_waiting > 0) {
    out += "  (" + std::to_string(still_waiting) + " more waiting after this one)\n";
  }
  return out;
}

// The explanation as the terminal shows it, cut after kMaxShownExplanation
// bytes (at the start of a character).
std::string explanation_of(std::string_view explanation) {
  if (explanation.size() <= kMaxShownExplanation)
    return indented(visible_text(explanation).text, "  ");
  std::size_t cut = kMaxShownExplanation;
  while (cut > 0 && (static_cast<unsigned char>(explanation[cut]) & 0xc0) == 0x80) --cut;
  return indented(visible_text(explanation.substr(0, cut)).text, "  ") + "  [" +
         std::to_string(explanation.size() - cut) +
         " more bytes of the explanation are not shown here]\n";
}

std::string label(std::string_view side, const std::string& path) {
  return path.starts_with('/') ? path : std::string(side) + path;
}

}  // namespace

std::string colour_diff(std::string_view diff) {
  std::string out;
  while (!diff.empty()) {
    std::string_view line = cut_line(diff);
    const bool fed = line.ends_with('\n');
    if (fed) line.remove_suffix(1);
    out += styled(line, colour_of(line), !colour_of(line).empty());
    if (fed) out += '\n';
  }
  return out;
}

std::string diff_of(const QueuedProposal& proposal) {
  if (!proposal.runs) return std::string(kNotCompared);
  const std::string target = shown_target(proposal);
  const DiffLabels labels{proposal.new_file ? "/dev/null" : label("a/", target),
                          label("b/", target)};
  return visible_text(
             unified_diff(proposal.before, proposal.after, *proposal.runs, labels, kMaxShownDiff))
      .text;
}

std::string render_proposal(const QueuedProposal& proposal, std::size_t still_waiting,
                            bool colour) {
  std::string out = heading(proposal, still_waiting, colour);
  out += styled("Explanation:", kBold, colour) + "\n";
  out += explanation_of(proposal.explanation);
  if (!proposal.refusal.empty()) {
    out += "Refused without asking: " + name(proposal.refusal) +
           ". The agent is told it was rejected; nothing was written.\n";
    return out;
  }
  out += styled("Changes:", kBold, colour) + "\n";
  const std::string diff =
      proposal.shown_changes.empty() ? changes_text(proposal, colour) : proposal.shown_changes;
  if (diff.empty()) {
    out += "  (none: the proposed content equals the content the agent read)\n";
    return out;
  }
  out += diff;
  if (!out.ends_with('\n')) out += '\n';
  return out;
}

std::string changes_text(const QueuedProposal& proposal, bool colour) {
  const std::string diff = diff_of(proposal);
  return colour ? colour_diff(diff) : diff;
}

std::string shown_target(const QueuedProposal& proposal) {
  return name(proposal.target.empty() ? proposal.path : proposal.target);
}

std::string render_notice(const QueuedProposal& proposal, std::string_view notice) {
  return "Proposal #" + std::to_string(proposal.number) + " (" + shown_target(proposal) +
         " from server #" + std::to_string(proposal.server.number) + "): " + name(notice) + ".";
}

std::string render_outcome(const QueuedProposal& proposal) {
  const std::string by = proposal.answered_by.empty() ? "" : " (by " + proposal.answered_by + ")";
  switch (proposal.state) {
    case ProposalState::kAccepted: {
      std::string out = "Accepted" + by + ": " + shown_target(proposal) + " is written.\n";
      if (!proposal.outcome.empty()) out += "  Warning: " + name(proposal.outcome) + "\n";
      return out;
    }
    case ProposalState::kRefused:
      return "Refused without asking: " + name(proposal.outcome) + ".\n";
    case ProposalState::kWithdrawn:
      return "Withdrawn: " + name(proposal.path) + " (" + name(proposal.outcome) +
             "); nothing was written.\n";
    case ProposalState::kNotApplied:
      return "Not applied, so rejected" + by + ": " + name(proposal.outcome) + ".\n";
    default:
      break;
  }
  return "Rejected" + by + ": " + name(proposal.path) + " is unchanged.\n";
}

std::string render_revert(const PastDecision& decision, const Status& outcome,
                          std::string_view who) {
  const std::string by = " (by " + name(who) + ")";
  if (!outcome.ok()) return "Not reverted" + by + ": " + name(outcome.failure()) + ".";
  const std::string what = decision.new_file ? " is removed again" : " has its earlier text back";
  return "Reverted" + by + ": " + name(decision.target) + what + ".";
}

std::string render_undoable(const std::vector<PastDecision>& accepted) {
  if (accepted.empty()) return "No accepted edits to revert.";
  std::string out = "Accepted edits, newest first (u N reverts edit N):";
  for (std::size_t i = 0; i < accepted.size(); ++i) {
    const PastDecision& edit = accepted[i];
    out += "\n  " + std::to_string(i + 1) + ". " + name(edit.time) + "  " + name(edit.workspace) +
           ": " + name(edit.target.empty() ? edit.path : edit.target);
    if (!edit.rule.empty()) out += " (by rule " + name(edit.rule) + ")";
  }
  return out;
}

std::string render_history(const std::deque<QueuedProposal>& history) {
  if (history.empty()) return "No decisions yet.\n";
  std::string out = "Recent decisions, oldest first:\n";
  for (const QueuedProposal& entry : history) {
    out += "  " + name(entry.path) + " from " + describe_server(entry.server) + ": ";
    out += render_outcome(entry);
  }
  return out;
}

void show(std::string_view text) { print_to(STDOUT_FILENO, text); }

}  // namespace varnock::review
