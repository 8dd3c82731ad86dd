// What the person sees: proposals, diffs and notices, as terminal text.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "messages.h"

namespace varnock::review {

// `text` made safe to print: control characters other than LF and TAB,
// DEL, the C1 controls and the bidirectional embedding, override and isolate
// marks are written as visible escapes ("\x1b", "\r", "\u202e"), and bytes
// that are not UTF-8 as "\xNN", so text from the agent can neither drive
// the terminal nor hide or reorder what the person reads.
std::string visible_text(std::string_view text);
// Like visible_text, for what must stay on one line (paths, identifiers):
// LF and TAB are escaped too ("\n", "\t").
std::string visible_name(std::string_view text);

// `diff` (already visible text) with ANSI colours: file headers bold, hunk
// headers cyan, removed lines red, added lines green.
std::string colour_diff(std::string_view diff);

// Everything shown for one proposal.
struct ProposalView {
  std::string server;  // who sent it, e.g. "server #1 (pid 731, thread \"t-9\")"
  const Proposal* proposal = nullptr;
  bool new_file = false;          // "before" is empty and the file does not exist
  std::string diff;               // unified diff of before against after; empty when equal
  std::size_t still_waiting = 0;  // proposals queued behind this one
};

// The screen text for one proposal, ending in LF; coloured when `colour`.
std::string render_proposal(const ProposalView& view, bool colour);

// "server #N" and, once it has said hello, its pid and thread id.
std::string describe_server(int number, const Hello* hello);

// Writes `text` to standard output and flushes it.
void show(std::string_view text);

}  // namespace varnock::review
