// What the review desk needs from the review core, and nothing more. The
// core implements this (a small adapter over its queue and journal); the
// desk never sees how proposals arrive or how answers are applied.
//
// Threading: every call, and every event delivered to a subscriber, happens
// on the io_context the desk runs on. Nothing here may block for long.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "base/result.h"
#include "line_diff.h"
#include "text_lines.h"

namespace varnock::desk {

// The tool server a proposal came from, as its hello line named it.
struct ToolServer {
  std::string workspace;  // the server's workspace root
  // The peer's pid in decimal, followed by " (hello said N)" when the
  // server's hello named another pid N.
  std::string pid;
  std::string thread_id;  // the agent's thread id as the server sent it
};

// One pending proposal, as the lists show it.
struct DeskProposal {
  std::uint64_t number = 0;  // the core's proposal number, unique for the run
  std::string path;          // as the agent wrote it
  std::string target;        // the resolved file; empty when it is `path` itself
  ToolServer server;
  std::uint64_t before_size = 0;  // bytes; 0 for a new file
  std::uint64_t after_size = 0;
  bool new_file = false;
  // Notices in the core's words, e.g. "new file" or "no agent will hear
  // the answer: its host is gone". The page adds its own, such as "hidden
  // characters in the new text".
  std::vector<std::string> notices;
};

// One proposal's texts. The views stay valid until control returns to the
// io_context; the desk copies what it keeps.
struct DeskTexts {
  std::string_view before;            // the file as it is now ("" for a new file)
  std::string_view after;             // the proposed content
  std::string_view explanation;       // the agent's Markdown
  std::string_view explanation_html;  // it rendered (markdown.h)
  std::span<const ChangedRun> runs;   // the changed lines of before and after
  // Where their lines start, when made already (text_lines.h).
  const LineIndex* before_lines = nullptr;
  const LineIndex* after_lines = nullptr;
};

// One decision from the journal, newest first in history().
struct DeskDecision {
  std::uint64_t number = 0;
  std::string path;
  std::string workspace;
  // What became of it: "accepted", "rejected", "refused" or "withdrawn",
  // then ": " and the core's words for what was written or why, e.g.
  // "rejected: rejected by the person".
  std::string outcome;
  std::string time;  // when, as the journal shows it (e.g. ISO 8601, UTC)
};

// One decision as the journal keeps it, across runs of the reviewer.
struct DeskPast {
  std::uint64_t entry = 0;  // names it: the offset of its line in the journal
  std::string time;         // UTC, ISO 8601
  std::string workspace;
  std::string path;
  std::string target;
  std::string decision;  // "accepted", "rejected", "refused", "withdrawn" or "reverted"
  std::string reason;    // why, when not accepted
  std::string rule;      // the rule that decided, when one did
  bool new_file = false;
  // An accepted edit whose texts were kept and that was not reverted
  // since: the person may revert it.
  bool revertible = false;
  bool reverted = false;  // an accepted edit reverted since
};

// A past decision's change, to be shown read-only. The desk copies what it
// keeps.
struct DeskPastChange {
  DeskPast decision;
  std::string before;
  std::string after;
  std::vector<ChangedRun> runs;
  std::string notice;   // set when the change is shown whole, saying why
  std::string missing;  // set when the texts cannot be shown, saying why
  // The texts' line indexes when they were made with them (off the loop).
  std::optional<LineIndex> before_lines = std::nullopt;
  std::optional<LineIndex> after_lines = std::nullopt;
};

// What happened to the queue; the desk refreshes its lists on each.
struct DeskEvent {
  enum class Kind {
    kQueued,     // a proposal joined the queue
    kDecided,    // it was answered (by any front end) and left the queue
    kWithdrawn,  // its server went away; it can no longer be answered
    kChanged,    // it got a notice and still waits (its view is shown anew)
    kReverted,   // a past decision (`number` is its entry) was reverted, or not
  };
  Kind kind = Kind::kQueued;
  std::uint64_t number = 0;
  std::string outcome;  // for kDecided: as DeskDecision::outcome
};

class DeskSource {
 public:
  virtual ~DeskSource() = default;

  // The pending proposals in queue order. A withdrawn proposal leaves
  // this list (and is announced by a kWithdrawn event).
  virtual std::vector<DeskProposal> pending() = 0;
  // Pending proposal `number` as pending() lists it, or nothing when it is
  // not pending.
  virtual std::optional<DeskProposal> proposal(std::uint64_t number) = 0;
  // Recent decisions, newest first, at most `limit` of them.
  virtual std::vector<DeskDecision> history(std::size_t limit) = 0;
  // The texts of pending proposal `number`, or nothing when it is not
  // pending (decided, withdrawn or unknown).
  virtual std::optional<DeskTexts> texts(std::uint64_t number) = 0;
  // Answers pending proposal `number`. True when this answer decided it;
  // false when it was no longer pending (another front end answered first,
  // its server went away, or there is no such proposal). The outcome
  // (applied, failed ...) comes as a kDecided event, during this call or
  // later.
  virtual bool answer(std::uint64_t number, bool accept) = 0;
  // The past decisions, newest first, at most `limit`, those whose path or
  // workspace holds `search`. `done` is called on the io_context, later:
  // the journal is read off it.
  virtual void past(std::string search, std::size_t limit,
                    std::function<void(Result<std::vector<DeskPast>>)> done) = 0;
  // The change of the past decision at `entry`, read and compared off the
  // io_context; `done` is called on it, later.
  virtual void past_change(std::uint64_t entry,
                           std::function<void(Result<DeskPastChange>)> done) = 0;
  // Reverts the accepted edit at `entry` for the person at the desk; `done`
  // gets what came of it, on the io_context, later.
  virtual void revert(std::uint64_t entry, std::function<void(Status)> done) = 0;
  // Calls `listener` for every event from now on. The desk subscribes
  // once, when it starts; its listener may go on being called after the
  // desk is destroyed, and then does nothing.
  virtual void subscribe(std::function<void(const DeskEvent&)> listener) = 0;
};

}  // namespace varnock::desk
