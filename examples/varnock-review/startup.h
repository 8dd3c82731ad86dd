// Start-up of the reviewer: what it opens before its event loop runs (the
// workspace limit, the journal and its texts, the listening socket, the
// terminal), the
// desk with the browser page it may open, and the lines that tell the
// person where servers find the reviewer.
#pragma once

#include <boost/asio/io_context.hpp>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "base/result.h"
#include "base/unique_fd.h"
#include "core/journal.h"
#include "desk/browser_launch.h"
#include "desk/desk_front_end.h"
#include "desk/desk_server.h"
#include "options.h"
#include "running_state.h"
#include "system/child_runner.h"
#include "system/listener.h"
#include "system/text_store.h"

namespace varnock::review {

struct Setup {
  std::string limit;  // the --workspace limit as a real path; empty: none
  Journal journal;
  std::optional<TextStore> texts;  // beside the journal; none without one
  std::string unkept;              // why there is none beside a journal
  Listener listener;
  UniqueFd tty;  // closed when the terminal does not answer
};

// Opens what the options ask for. The terminal is opened when proposals are
// answered by hand and the reviewer was started from one, or has no desk;
// a desk alone, or --auto, needs none. The listening socket is the one
// systemd passed, else the one at --socket or the per-user default.
Result<Setup> set_up(const ReviewOptions& options);

// Whether standard output takes colours: a terminal, not "dumb", and no
// NO_COLOR in the environment.
bool want_colour();

// Prints the VARNOCK_SOCKET line (the path quoted for a POSIX shell), what
// is served, the journal, the rules in use (`rules`, as rules_in_use says
// them; empty: none), and who answers.
void announce(const Setup& setup, const ReviewOptions& options, std::string_view rules);

// The desk's page handed to the browser, and the server behind it.
struct Desk {
  std::unique_ptr<desk::DeskServer> server;
  std::optional<LaunchPage> launch_page;
};

// Serves the desk at the --web address, with the token kept in the state
// directory (a new one with --rotate-token). `front_end` must outlive the
// desk.
Result<Desk> start_desk(boost::asio::io_context& io, DeskFrontEnd& front_end,
                        const ReviewOptions& options);

// Prints the desk's address and, with --open, writes the launch page beside
// the default socket and opens it through `runner` (a browser that does not
// open is told, and the printed address remains). Called once the reviewer
// is recorded as running, so that "open" finds it as soon as the address
// shows.
Status show_desk(Desk& desk, ChildRunner& runner, const ReviewOptions& options);

// Writes where this reviewer runs into the state directory (running_state.h)
// for "status" and "open"; when it cannot, says so and gives null, as the
// reviewer serves on without it. `core` must outlive what it gives, and
// `io` runs its later writes.
std::unique_ptr<RunningFile> record_running(const Setup& setup, const Desk* desk,
                                            const ReviewCore& core, boost::asio::io_context& io);

}  // namespace varnock::review
