// The reviewer's loop: servers connect, proposals queue, the person (or
// --auto) answers one at a time, and each decision goes back to its server.
#pragma once

#include <poll.h>

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "connection.h"
#include "listener.h"
#include "options.h"
#include "review_queue.h"
#include "stop_signals.h"
#include "terminal.h"

namespace varnock::review {

struct ReviewerSettings {
  std::string workspace;  // real path; relative proposal paths are taken against it
  AutoAnswer auto_answer = AutoAnswer::kNone;
  bool colour = false;  // colour the diffs (standard output is a terminal)
};

class Reviewer {
 public:
  // `terminal` is required unless `settings.auto_answer` answers instead.
  Reviewer(Listener listener, StopSignals signals, std::optional<Terminal> terminal,
           ReviewerSettings settings);

  // Serves every connection on one thread until a stop signal arrives or
  // the terminal closes. Proposals left unanswered then get no decision:
  // their servers see the connection close.
  void run();

 private:
  std::vector<pollfd> watch_list();
  void handle_ready(const std::vector<pollfd>& ready);
  void accept_connections();
  void read_from(int number);
  void handle_line(Connection& connection, std::string_view line);
  void on_proposal(Connection& connection, Proposal proposal);
  void drop_connection(int number, std::size_t dropped_bytes);
  void notify(const std::string& text);
  void present_next();
  void present(const PendingReview& review);
  void read_answer();
  void decide(bool accept);
  void send_decision(int number, const std::string& id, bool accepted);
  std::string server_name(int number) const;

  Listener listener_;
  StopSignals signals_;
  std::optional<Terminal> terminal_;
  ReviewerSettings settings_;
  std::map<int, Connection> connections_;
  std::vector<int> polled_;  // connection numbers in watch-list order
  ReviewQueue queue_;
  std::optional<PendingReview> current_;  // the proposal before the person
  int next_number_ = 1;
  bool stopping_ = false;
};

}  // namespace varnock::review
