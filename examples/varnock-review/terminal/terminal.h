// The terminal front end: shows every proposal and notice on standard
// output and, when it has the controlling terminal, asks the person about
// one waiting proposal at a time.
#pragma once

#include <array>
#include <boost/asio/io_context.hpp>
#include <boost/asio/posix/stream_descriptor.hpp>
#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/line_reader.h"
#include "base/result.h"
#include "base/unique_fd.h"
#include "core/review_core.h"
#include "terminal/keys.h"

namespace varnock::review {

enum class Answer { kAccept, kReject, kHistory, kUnclear };

// An accept or reject that reaches the terminal this soon after its question
// was asked is not taken: it was typed before the question could be read
// (for the proposal before, answered elsewhere meanwhile, or held up on a
// slow connection to the terminal).
inline constexpr std::chrono::milliseconds kAnswerGrace{500};

// "a", "accept", "y", "yes" accept; "r", "reject", "n", "no" reject; "h",
// "history" ask for the recent decisions; case and surrounding blanks do
// not matter; anything else is unclear.
Answer parse_answer(std::string_view line);

// "u" or "undo" asks for the recent accepted edits, numbered from 1 (0 is
// given); "u N" or "undo N" reverts the N-th of the last list shown (N is
// given). Nothing for any other line.
std::optional<std::size_t> parse_undo(std::string_view line);

// How many accepted edits the undo list shows, newest first.
inline constexpr std::size_t kUndoListLength = 10;

// The controlling terminal (/dev/tty), so answers come from the person even
// when standard input and output are redirected.
Result<UniqueFd> open_terminal();

class TerminalFrontEnd : public FrontEnd {
 public:
  // With `tty` the person answers there; without it the front end only
  // shows. Without `show_changes` it asks for no comparison of lines (for
  // --auto: no one reads it) and shows a diff only when another front end
  // had them compared. `on_closed` is called when the terminal closes.
  TerminalFrontEnd(boost::asio::io_context& io, ReviewCore& core, UniqueFd tty, bool colour,
                   bool show_changes, std::function<void()> on_closed);
  // Lets what is queued for the terminal be written first; when it cannot
  // be, leaves the terminal open rather than let its number be reused under
  // the queued output.
  ~TerminalFrontEnd() override;
  TerminalFrontEnd(const TerminalFrontEnd&) = delete;
  TerminalFrontEnd& operator=(const TerminalFrontEnd&) = delete;

  void proposal_queued(const QueuedProposal& proposal) override;
  void proposal_decided(const QueuedProposal& proposal) override;
  void proposal_withdrawn(const QueuedProposal& proposal) override;
  void proposal_changed(const QueuedProposal& proposal, std::string_view what) override;
  void notice(std::string_view text) override;
  void reverted(const PastDecision& decision, const Status& outcome,
                std::string_view who) override;
  bool wants_changes() const override { return show_changes_; }
  void prepare_changes(QueuedProposal& proposal) const override;

 private:
  bool asks() const { return tty_.is_open(); }
  void ask_next();
  void ask(std::string_view question);
  void say(std::string_view text);
  void read_more();
  bool take_keys(std::string_view keys);
  void on_typed(std::string_view line);
  void finished(std::uint64_t number);
  // Lists the accepted edits (0) or reverts one of them (its number).
  void undo(std::size_t number);

  ReviewCore& core_;
  boost::asio::posix::stream_descriptor tty_;
  bool colour_;
  bool show_changes_;
  std::function<void()> on_closed_;
  std::optional<std::uint64_t> current_;  // the proposal before the person
  std::string question_;
  std::chrono::steady_clock::time_point asked_at_;
  LineSplitter typed_;   // answers a line at a time, when keys cannot be read
  KeyMode key_mode_;     // entered while a question is open
  KeyLine keys_;
  std::vector<PastDecision> undoable_;  // the last undo list shown
  std::array<char, 1024> buffer_;
};

// Answers every proposal at once (--auto accept|reject), after the front
// ends subscribed before it have shown it.
class AutoFrontEnd : public FrontEnd {
 public:
  AutoFrontEnd(boost::asio::io_context& io, ReviewCore& core, bool accept)
      : io_(io), core_(core), accept_(accept) {}

  void proposal_queued(const QueuedProposal& proposal) override;

 private:
  boost::asio::io_context& io_;
  ReviewCore& core_;
  bool accept_;
};

}  // namespace varnock::review
