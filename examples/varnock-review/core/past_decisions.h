// Decisions read back from the journal, for the history that outlives a
// run of the reviewer and for reverting an accepted edit.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/result.h"
#include "desk/text_lines.h"

namespace varnock::review {

struct PastDecision {
  std::uint64_t entry = 0;  // the offset of its line in the journal
  std::string time;
  std::string workspace;
  std::string path;
  std::string target;
  std::string decision;  // "accepted", "rejected", "refused", "withdrawn" or "reverted"
  std::string reason;
  std::string before_text;  // names of the kept texts; empty when not kept
  std::string after_text;
  bool new_file = false;
  std::optional<std::uint64_t> reverts;  // for a revert: the entry it undid
  std::string rule;                      // the rule that decided, when one did
  std::uint64_t before_bytes = 0;        // the sizes the journal line gives
  std::uint64_t after_bytes = 0;
  // Set by read_past_decisions when a later decision it read reverted this one.
  bool reverted = false;
  // Set when its texts were kept but have been pruned since.
  bool texts_pruned = false;

  // Whether a revert may be offered: an accepted edit whose texts are
  // kept and that no later decision read with it reverted.
  bool revertible() const {
    return decision == "accepted" && !after_text.empty() && !reverted && !texts_pruned;
  }
};

// A past decision with the texts it was between, for showing its change.
// `missing` says why the texts cannot be shown (not kept, or pruned since);
// the texts are empty then.
struct PastTexts {
  PastDecision decision;
  std::string before;
  std::string after;
  std::string missing;
  // Where the lines of each text start, made with the texts off the loop.
  std::optional<desk::LineIndex> before_lines = std::nullopt;
  std::optional<desk::LineIndex> after_lines = std::nullopt;
};

// The journal's bytes read for a history, from its end: older decisions
// are left out.
inline constexpr std::size_t kHistoryTail = std::size_t{16} << 20;

// One journal line (without its LF) at `entry`; a failure for a line that
// is not a decision the journal writes.
Result<PastDecision> parse_past_decision(std::string_view line, std::uint64_t entry);

// The decisions in the last kHistoryTail bytes of the journal, newest
// first, at most `limit`, those whose path, target or workspace holds
// `search` (all when it is empty). Lines that cannot be read are skipped.
// An edit that a revert among them undid is marked `reverted`.
Result<std::vector<PastDecision>> read_past_decisions(const std::string& journal,
                                                      std::string_view search, std::size_t limit);

// The decision whose line starts at `entry`.
Result<PastDecision> read_past_decision(const std::string& journal, std::uint64_t entry);

}  // namespace varnock::review
