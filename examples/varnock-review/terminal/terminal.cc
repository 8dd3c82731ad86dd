#include "terminal/terminal.h"

#include <fcntl.h>
#include <termios.h>

#include <boost/asio/post.hpp>
#include <cctype>
#include <cerrno>
#include <charconv>

#include "base/os_error.h"
#include "core/visible_text.h"
#include "terminal/output.h"
#include "terminal/present.h"

namespace varnock::review {
namespace {

namespace asio = boost::asio;

constexpr const char kTerminalPath[] = "/dev/tty";
constexpr std::string_view kUnclearAnswer = "Please answer a (accept), r (reject) or h (history): ";
constexpr std::string_view kWho = "terminal";
constexpr std::string_view kNothingAsked =
    "No proposal waits for an answer. Type h for the recent decisions, u for the accepted edits "
    "that can be reverted, u N to revert edit N.";
// Decisions read from the journal to find the accepted edits to list.
constexpr std::size_t kUndoScan = 500;
constexpr std::string_view kClosed = "\nThe terminal has closed; stopping.\n";
constexpr std::string_view kTooSoon =
    "That answer came before the question could be read, so it is not taken.\n";

std::string lower_trimmed(std::string_view text) {
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front()))) {
    text.remove_prefix(1);
  }
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back()))) {
    text.remove_suffix(1);
  }
  std::string out;
  for (char c : text) out += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

std::string question_for(const QueuedProposal& proposal) {
  return "Accept this edit to " + shown_target(proposal) + "? [a]ccept / [r]eject / [h]istory: ";
}

}  // namespace

Answer parse_answer(std::string_view line) {
  const std::string word = lower_trimmed(line);
  if (word == "a" || word == "accept" || word == "y" || word == "yes") return Answer::kAccept;
  if (word == "r" || word == "reject" || word == "n" || word == "no") return Answer::kReject;
  if (word == "h" || word == "history") return Answer::kHistory;
  return Answer::kUnclear;
}

std::optional<std::size_t> parse_undo(std::string_view line) {
  const std::string words = lower_trimmed(line);
  const std::size_t space = words.find(' ');
  const std::string word = words.substr(0, space);
  if (word != "u" && word != "undo") return std::nullopt;
  if (space == std::string::npos) return 0;
  std::string_view rest = std::string_view(words).substr(space);
  while (!rest.empty() && rest.front() == ' ') rest.remove_prefix(1);
  std::size_t number = 0;
  const auto [end, error] = std::from_chars(rest.data(), rest.data() + rest.size(), number);
  if (error != std::errc() || end != rest.data() + rest.size() || number == 0) return std::nullopt;
  return number;
}

Result<UniqueFd> open_terminal() {
  UniqueFd fd(::open(kTerminalPath, O_RDWR | O_NOCTTY | O_CLOEXEC));
  if (!fd.valid()) return fail(system_error("cannot open /dev/tty to ask for answers", errno));
  return fd;
}

TerminalFrontEnd::TerminalFrontEnd(asio::io_context& io, ReviewCore& core, UniqueFd tty,
                                   bool colour, bool show_changes, std::function<void()> on_closed)
    : core_(core),
      tty_(io),
      colour_(colour),
      show_changes_(show_changes),
      on_closed_(std::move(on_closed)) {
  if (tty.valid()) {
    tty_.assign(tty.release());
    read_more();
  }
}

TerminalFrontEnd::~TerminalFrontEnd() {
  key_mode_.leave();
  if (asks() && !flush_output(kLastOutputWait)) tty_.release();
}

void TerminalFrontEnd::proposal_queued(const QueuedProposal& proposal) {
  if (!asks() || !proposal.refusal.empty()) {
    say("\n");
    show(render_proposal(proposal, 0, colour_));
    if (!proposal.refusal.empty() && current_) say(question_);
    return;
  }
  if (!current_) return ask_next();
  notice("(Another proposal arrived from " + describe_server(proposal.server) + "; " +
         std::to_string(core_.waiting().size() - 1) + " waiting.)");
}

// The diff, escaped and coloured, is made on the worker: up to
// kMaxShownDiff bytes of it would hold the loop.
void TerminalFrontEnd::prepare_changes(QueuedProposal& proposal) const {
  proposal.shown_changes = changes_text(proposal, colour_);
}

void TerminalFrontEnd::proposal_decided(const QueuedProposal& proposal) {
  show(render_outcome(proposal));
  finished(proposal.number);
}

void TerminalFrontEnd::proposal_withdrawn(const QueuedProposal& proposal) {
  if (current_ == proposal.number) say("\n");
  show(render_outcome(proposal));
  finished(proposal.number);
}

void TerminalFrontEnd::proposal_changed(const QueuedProposal& proposal, std::string_view what) {
  notice(render_notice(proposal, what));
}

// While a question is open, a notice goes on its own line and the question
// is asked again below it.
void TerminalFrontEnd::notice(std::string_view text) {
  say("\n");
  show(std::string(text) + "\n");
  if (current_) say(question_);
}

void TerminalFrontEnd::reverted(const PastDecision& decision, const Status& outcome,
                                std::string_view who) {
  notice(render_revert(decision, outcome, who));
}

void TerminalFrontEnd::finished(std::uint64_t number) {
  if (current_ != number) return;
  current_.reset();
  ask_next();
  if (!current_) key_mode_.leave();
}

void TerminalFrontEnd::ask_next() {
  if (!asks() || current_) return;
  const std::vector<const QueuedProposal*> waiting = core_.waiting();
  if (waiting.empty()) return;
  const QueuedProposal& next = *waiting.front();
  current_ = next.number;
  say("\a");  // the person may be looking elsewhere
  show(render_proposal(next, waiting.size() - 1, colour_));
  ask(question_for(next));
}

// Throws away anything typed ahead, so an answer always follows the
// proposal it answers; what arrives within kAnswerGrace is not taken either.
// While the question is open the answer is a key, without Enter.
void TerminalFrontEnd::ask(std::string_view question) {
  ::tcflush(tty_.native_handle(), TCIFLUSH);
  typed_.take_rest();
  keys_.clear();
  key_mode_.enter(tty_.native_handle());
  question_ = question;
  asked_at_ = std::chrono::steady_clock::now();
  say(question_);
}

void TerminalFrontEnd::say(std::string_view text) {
  if (asks()) print_to(tty_.native_handle(), text);
}

void TerminalFrontEnd::read_more() {
  tty_.async_read_some(
      asio::buffer(buffer_), [this](const boost::system::error_code& error, std::size_t count) {
        if (error == asio::error::operation_aborted) return;
        if (error || count == 0 || !take_keys(std::string_view(buffer_.data(), count))) {
          show(kClosed);
          return on_closed_();
        }
        read_more();
      });
}

// False when the person typed the end-of-file key, which closes the
// terminal as it would in line mode.
bool TerminalFrontEnd::take_keys(std::string_view keys) {
  if (!key_mode_.entered()) {
    typed_.append(keys);
    while (std::optional<std::string> line = typed_.take_line()) on_typed(*line);
    return true;
  }
  for (char key : keys) {
    const Said said = keys_.key(key);
    say(said.echo);
    if (said.closed) return false;
    if (said.text) on_typed(*said.text);
  }
  return true;
}

// With no question open, a line asks for the history or the undo list, and
// anything else is told what it can ask.
void TerminalFrontEnd::on_typed(std::string_view line) {
  if (const std::optional<std::size_t> number = parse_undo(line)) return undo(*number);
  const Answer answer = parse_answer(line);
  if (answer == Answer::kHistory) {
    show(render_history(core_.history()));
    return current_ ? say(question_) : void();
  }
  if (!current_) return lower_trimmed(line).empty() ? void() : notice(kNothingAsked);
  if (answer == Answer::kUnclear) return say(kUnclearAnswer);
  if (std::chrono::steady_clock::now() - asked_at_ < kAnswerGrace) {
    return say(std::string(kTooSoon) + question_);
  }
  core_.answer(*current_, answer == Answer::kAccept, kWho);
}

// The list is read from the journal on a worker: it outlives this run.
// A revert's outcome comes back through reverted().
void TerminalFrontEnd::undo(std::size_t number) {
  if (number == 0) {
    return core_.past("", kUndoScan, [this](Result<std::vector<PastDecision>> past) {
      if (!past.ok()) {
        return notice("No edits can be reverted: " + visible_name(past.failure()).text + ".");
      }
      undoable_.clear();
      for (PastDecision& decision : past.value()) {
        if (undoable_.size() == kUndoListLength) break;
        if (decision.revertible()) undoable_.push_back(std::move(decision));
      }
      notice(render_undoable(undoable_));
    });
  }
  if (number > undoable_.size()) {
    return notice("There is no edit " + std::to_string(number) +
                  " to revert: type u to list them.");
  }
  core_.revert(undoable_[number - 1].entry, kWho);
}

void AutoFrontEnd::proposal_queued(const QueuedProposal& proposal) {
  if (!proposal.refusal.empty()) return;
  asio::post(io_, [&core = core_, number = proposal.number, accept = accept_] {
    core.answer(number, accept, "auto");
  });
}

}  // namespace varnock::review
