// A proposal as the review core holds it, and the server that sent it.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "desk/line_diff.h"
#include "desk/text_lines.h"

namespace varnock::review {

// Who sent a proposal. The pid comes from the kernel (SO_PEERCRED); the
// hello's own pid is kept only when it differs from it.
struct ServerInfo {
  int number = 0;         // "server #N", unique while the reviewer runs
  std::string workspace;  // the server's working directory, as the kernel names it
  pid_t pid = 0;
  std::optional<std::uint64_t> hello_pid;  // the hello's claim, when it differs
  std::string thread_id;
};

// "server #N (pid P, thread "T", in /work/dir)", with ", hello said pid H"
// when the hello's pid differs from the kernel's; fields escaped.
std::string describe_server(const ServerInfo& server);

// The notice a waiting proposal gets when its server's host has gone: the
// server's parent process exited after its hello (the server lives on,
// reading nothing while a review waits, but no agent reads its answers).
inline constexpr std::string_view kHostGone = "no agent will hear the answer: its host is gone";

// kNotApplied: accepted, but the write failed or its server had gone, so
// the server is told it was rejected; `outcome` says why.
enum class ProposalState { kWaiting, kAccepted, kRejected, kNotApplied, kRefused, kWithdrawn };

// Everything a front end shows of one proposal. Texts are as received; a
// front end escapes them (visible_text.h) when it shows them.
struct QueuedProposal {
  std::uint64_t number = 0;  // unique while the reviewer runs
  ServerInfo server;
  std::string id;
  std::string path;    // as the server gave it
  std::string target;  // the file it resolves to, relative to the workspace
  std::string before;
  std::string after;
  std::string explanation;
  std::string explanation_html;  // rendered when a front end shows HTML
  // The changed runs of lines, when a front end shows changes; the whole
  // replacement, with a notice saying why, when comparing broke a bound.
  std::optional<std::vector<desk::ChangedRun>> runs;
  // Where the lines of `before` and `after` start, made with the HTML off
  // the event loop, for the desk to page through.
  std::optional<desk::LineIndex> before_lines;
  std::optional<desk::LineIndex> after_lines;
  // The changes as a front end prints them, made off the event loop
  // (FrontEnd::prepare_changes); empty when none was made.
  std::string shown_changes;
  bool new_file = false;
  std::vector<std::string> notices;  // "new file", "hidden characters in the path" ...
  std::string refusal;               // why a check refused it without asking; else empty
  // The rule that answers it without asking ("reject .env (rules line 3)",
  // rules.h), and whether it accepts; else empty.
  std::string rule;
  bool rule_accepts = false;
  ProposalState state = ProposalState::kWaiting;
  std::string answered_by;  // the front end that answered ("terminal", "auto", ...)
  std::string outcome;      // why it was not written, or a warning after writing
  std::string decided_at;   // UTC, "2026-12-07T03:04:05Z", once decided
  // The names its before and after texts are kept under, once decided;
  // empty when they are not kept.
  std::string before_name;
  std::string after_name;
  std::uint64_t journal_entry = 0;  // where the journal holds its decision (0: nowhere)
};

// The bytes a proposal holds: its texts, rendered explanation, runs and
// line indexes.
std::size_t proposal_bytes(const QueuedProposal& proposal);

}  // namespace varnock::review
