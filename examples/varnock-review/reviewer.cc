#include "reviewer.h"

#include <sys/stat.h>

#include <cerrno>
#include <variant>

#include "apply.h"
#include "diff_tool.h"
#include "present.h"
#include "system_error.h"
#include "target.h"

namespace varnock::review {
namespace {

// Fixed places in the watch list; connections follow.
constexpr std::size_t kSignalSlot = 0;
constexpr std::size_t kListenerSlot = 1;
constexpr std::size_t kTerminalSlot = 2;
constexpr std::size_t kFirstConnectionSlot = 3;

constexpr std::string_view kUnclearAnswer = "Please answer a (accept) or r (reject): ";

bool path_exists(const std::string& path) {
  struct stat st;
  return ::lstat(path.c_str(), &st) == 0;
}

// Diff labels in the usual a/ b/ form; absolute paths stand as they are.
std::string label(std::string_view side, const std::string& path) {
  return path.starts_with('/') ? path : std::string(side) + path;
}

std::string diff_for(const Proposal& proposal, bool new_file) {
  const std::string path = visible_name(proposal.path);
  DiffInput input{proposal.before, proposal.after, new_file ? "/dev/null" : label("a/", path),
                  label("b/", path)};
  Result<std::string> diff = unified_diff(input);
  if (diff.ok()) return std::move(diff).value();
  return "(no diff: " + diff.failure() + ")\nThe proposed content in full:\n" + proposal.after;
}

std::string question_for(const Proposal& proposal) {
  return "Accept this edit to " + visible_name(proposal.path) + "? [a]ccept / [r]eject: ";
}

}  // namespace

Reviewer::Reviewer(Listener listener, StopSignals signals, std::optional<Terminal> terminal,
                   ReviewerSettings settings)
    : listener_(std::move(listener)),
      signals_(std::move(signals)),
      terminal_(std::move(terminal)),
      settings_(std::move(settings)) {}

void Reviewer::run() {
  while (!stopping_) {
    present_next();
    std::vector<pollfd> watched = watch_list();
    if (::poll(watched.data(), watched.size(), -1) < 0) {
      if (errno == EINTR) continue;
      show(system_error("varnock-review: cannot wait for input", errno) + "\n");
      return;
    }
    handle_ready(watched);
  }
  const std::size_t left = queue_.size() + (current_ ? 1 : 0);
  if (left > 0) show("Stopping with " + std::to_string(left) + " proposal(s) unanswered.\n");
}

// A negative descriptor is skipped by poll, so the terminal is watched only
// while a question is open.
std::vector<pollfd> Reviewer::watch_list() {
  const bool asking = terminal_ && current_;
  std::vector<pollfd> watched = {{signals_.fd(), POLLIN, 0},
                                 {listener_.fd(), POLLIN, 0},
                                 {asking ? terminal_->fd() : -1, POLLIN, 0}};
  polled_.clear();
  for (const auto& [number, connection] : connections_) {
    watched.push_back({connection.fd(), POLLIN, 0});
    polled_.push_back(number);
  }
  return watched;
}

// Connections are read before the terminal, so a server that went away
// withdraws its proposal before an answer to it is acted on.
void Reviewer::handle_ready(const std::vector<pollfd>& ready) {
  if (ready[kSignalSlot].revents != 0) {
    show("\nStopping (signal " + std::to_string(signals_.take_signal()) + ").\n");
    stopping_ = true;
    return;
  }
  for (std::size_t i = kFirstConnectionSlot; i < ready.size(); ++i) {
    if (ready[i].revents != 0) read_from(polled_[i - kFirstConnectionSlot]);
  }
  if (ready[kListenerSlot].revents != 0) accept_connections();
  if (ready[kTerminalSlot].revents != 0 && current_) read_answer();
}

void Reviewer::accept_connections() {
  for (UniqueFd fd = listener_.accept_connection(); fd.valid();
       fd = listener_.accept_connection()) {
    const int number = next_number_++;
    connections_.emplace(number, Connection(number, std::move(fd)));
  }
}

void Reviewer::read_from(int number) {
  auto found = connections_.find(number);
  if (found == connections_.end()) return;
  Received received = found->second.receive();
  for (const std::string& line : received.lines) handle_line(found->second, line);
  if (received.closed) drop_connection(number, received.dropped_bytes);
}

void Reviewer::handle_line(Connection& connection, std::string_view line) {
  ServerMessage message = read_message(line);
  if (auto* hello = std::get_if<Hello>(&message)) {
    connection.hello = std::move(*hello);
    notify(server_name(connection.number()) + " connected.\n");
  } else if (auto* proposal = std::get_if<Proposal>(&message)) {
    on_proposal(connection, std::move(*proposal));
  } else {
    const Unusable& unusable = std::get<Unusable>(message);
    if (!unusable.text.empty()) {
      notify("Ignoring from " + server_name(connection.number()) + ": " +
             visible_text(unusable.text) + "\n");
    }
    if (unusable.reject_id) send_decision(connection.number(), *unusable.reject_id, false);
  }
}

void Reviewer::on_proposal(Connection& connection, Proposal proposal) {
  queue_.push({connection.number(), std::move(proposal)});
  if (!current_) return;
  notify("(Another proposal arrived from " + server_name(connection.number()) + "; " +
         std::to_string(queue_.size()) + " waiting.)\n");
}

// While a question is open, a notice goes on its own line and the question
// is asked again below it.
void Reviewer::notify(const std::string& text) {
  const bool asking = terminal_ && current_;
  show(asking ? "\n" + text : text);
  if (asking) terminal_->say(question_for(current_->proposal));
}

void Reviewer::drop_connection(int number, std::size_t dropped_bytes) {
  std::string note = server_name(number) + " disconnected";
  if (dropped_bytes > 0) {
    note += " in the middle of a line (" + std::to_string(dropped_bytes) + " bytes dropped)";
  }
  const std::size_t withdrawn = queue_.drop_connection(number);
  if (withdrawn > 0) note += "; withdrawn: " + std::to_string(withdrawn) + " waiting proposal(s)";
  connections_.erase(number);
  if (current_ && current_->connection == number) {
    current_.reset();
    note += ".\nThe proposal under review is withdrawn; nothing was written";
    if (terminal_) terminal_->say("\n");
  }
  notify(note + ".\n");
}

void Reviewer::present_next() {
  while (!current_ && !stopping_) {
    current_ = queue_.pop();
    if (!current_) return;
    present(*current_);
    if (settings_.auto_answer != AutoAnswer::kNone) {
      decide(settings_.auto_answer == AutoAnswer::kAccept);
    } else {
      terminal_->ask(question_for(current_->proposal));
    }
  }
}

void Reviewer::present(const PendingReview& review) {
  const Proposal& proposal = review.proposal;
  const bool new_file =
      proposal.before.empty() && !path_exists(absolute_path(settings_.workspace, proposal.path));
  ProposalView view{server_name(review.connection), &proposal, new_file,
                    diff_for(proposal, new_file), queue_.size()};
  show(render_proposal(view, settings_.colour));
}

void Reviewer::read_answer() {
  Terminal::Typed typed = terminal_->read_typed();
  if (typed.closed) {
    show("\nThe terminal has closed; stopping.\n");
    stopping_ = true;
    return;
  }
  for (const std::string& line : typed.lines) {
    const Answer answer = parse_answer(line);
    if (answer == Answer::kUnclear) {
      terminal_->say(kUnclearAnswer);
      continue;
    }
    decide(answer == Answer::kAccept);
    return;
  }
}

// Any failure to apply turns the answer into a rejection.
void Reviewer::decide(bool accept) {
  PendingReview review = std::move(*current_);
  current_.reset();
  const std::string path = visible_name(review.proposal.path);
  bool accepted = false;
  if (!accept) {
    show("Rejected: " + path + " is unchanged.\n");
  } else if (Result<std::string> applied = apply_replacement(settings_.workspace, review.proposal);
             applied.ok()) {
    accepted = true;
    show("Accepted: " + path + " is written.\n");
    if (!applied.value().empty()) show("  Warning: " + applied.value() + "\n");
  } else {
    show("Not applied, so rejected: " + visible_text(applied.failure()) + ".\n");
  }
  send_decision(review.connection, review.proposal.id, accepted);
}

void Reviewer::send_decision(int number, const std::string& id, bool accepted) {
  auto found = connections_.find(number);
  Status sent = found == connections_.end() ? Status(fail("the server has disconnected"))
                                            : found->second.send_line(decision_line(id, accepted));
  if (!sent.ok()) show("  The decision did not reach the server: " + sent.failure() + ".\n");
}

std::string Reviewer::server_name(int number) const {
  auto found = connections_.find(number);
  const Hello* hello =
      found == connections_.end() || !found->second.hello ? nullptr : &*found->second.hello;
  return describe_server(number, hello);
}

}  // namespace varnock::review
