#include "startup.h"

#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <ctime>
#include <string_view>
#include <utility>

#include "base/os_error.h"
#include "core/visible_text.h"
#include "desk/token.h"
#include "system/kept_token.h"
#include "system/socket_place.h"
#include "terminal/present.h"
#include "terminal/terminal.h"

namespace varnock::review {
namespace {

namespace asio = boost::asio;

// The --workspace limit as a real path, so servers' directories compare.
Result<std::string> real_directory(const std::string& given) {
  if (given.empty()) return std::string();
  std::unique_ptr<char, decltype(&std::free)> real(::realpath(given.c_str(), nullptr), &std::free);
  if (!real) return fail(system_error("cannot use the workspace " + given, errno));
  return std::string(real.get());
}

// Single-quoted for a POSIX shell when it holds anything but safe characters.
std::string shell_word(const std::string& text) {
  constexpr std::string_view kSafe =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789/._-+:,@%";
  if (!text.empty() && text.find_first_not_of(kSafe) == std::string::npos) return text;
  std::string quoted = "'";
  for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

Result<Journal> open_journal(const ReviewOptions& options) {
  if (options.no_journal) return Journal();
  Result<std::string> path =
      options.journal.empty() ? default_journal_path() : Result<std::string>(options.journal);
  if (!path.ok()) return fail(path.failure());
  return Journal::open(path.value());
}

Result<Listener> open_listener(const ReviewOptions& options) {
  Result<std::optional<UniqueFd>> passed = activated_socket();
  if (!passed.ok()) return fail(passed.failure());
  if (passed.value()) {
    const int fd = passed.value()->get();
    return Listener::adopt(std::move(*passed.value()), bound_path(fd));
  }
  Result<std::string> path = options.socket_path.empty() ? default_socket_path()
                                                         : Result<std::string>(options.socket_path);
  if (!path.ok()) return fail(path.failure());
  return Listener::open(path.value());
}

// Writes the page that sends the browser to `url` beside the default
// socket, and opens it. A browser that does not open is told, and the
// printed address remains.
Result<LaunchPage> launch_browser(ChildRunner& runner, const std::string& url) {
  Result<std::string> socket = default_socket_path();
  if (!socket.ok()) return fail(socket.failure());
  const std::string& place = socket.value();
  Result<LaunchPage> page = LaunchPage::write(place.substr(0, place.rfind('/')), url);
  if (!page.ok()) return page;
  open_in_browser(runner, page.value().path(), [](const Status& opened) {
    if (!opened.ok())
      show("varnock-review: " + opened.failure() + "; open the address above by hand\n");
  });
  return page;
}

// The token kept in the state directory; with no place for that directory
// (neither XDG_STATE_HOME nor HOME), one for this run alone.
Result<std::string> desk_token(const ReviewOptions& options) {
  Result<std::string> place = state_directory_path();
  if (!place.ok()) {
    show("varnock-review: the desk's token is not kept (" + place.failure() +
         "), so its address holds for this run only\n");
    return desk::random_token();
  }
  Result<PrivateDirectory> directory = open_private_directory(place.value());
  if (!directory.ok()) return fail("cannot keep the desk's token: " + directory.failure());
  return kept_token(directory.value(), options.rotate_token);
}

Result<std::unique_ptr<RunningFile>> write_running(const RunningState& state,
                                                   const ReviewCore& core, asio::io_context& io) {
  Result<PrivateDirectory> directory = open_state_directory();
  if (!directory.ok()) return fail(directory.failure());
  return RunningFile::write(std::move(directory).value(), core, state, io);
}

}  // namespace

// With the desk, the terminal answers too only when the reviewer was started
// from one, in its foreground: a job started with `&` would be stopped by
// the terminal as soon as it set it up or read from it.
bool answers_at_terminal() {
  return ::isatty(STDIN_FILENO) == 1 && ::tcgetpgrp(STDIN_FILENO) == ::getpgrp();
}

bool want_colour() {
  const char* term = std::getenv("TERM");
  const bool dumb = term != nullptr && std::string_view(term) == "dumb";
  return ::isatty(STDOUT_FILENO) == 1 && !dumb && std::getenv("NO_COLOR") == nullptr;
}

void announce(const Setup& setup, const ReviewOptions& options, std::string_view rules) {
  const std::string& socket = setup.listener.path();
  if (!socket.empty()) show("VARNOCK_SOCKET=" + shell_word(socket) + "\n");
  std::string mode = options.web ? "answers from the desk" : "answers from this terminal";
  if (options.web && answers_at_terminal()) mode = "answers from the desk or this terminal";
  if (options.auto_answer == AutoAnswer::kAccept) mode = "accepting every proposal (--auto)";
  if (options.auto_answer == AutoAnswer::kReject) mode = "rejecting every proposal (--auto)";
  const std::string served = setup.limit.empty()
                                 ? "servers in any directory"
                                 : "servers under " + visible_name(setup.limit).text;
  const std::string& journal = setup.journal.path();
  const std::string journal_text =
      journal.empty() ? "no journal" : "journal " + visible_name(journal).text;
  show(
      "Export the line above where the MCP host starts varnock-mcp.\n"
      "Serving " +
      served + "; " + journal_text + (rules.empty() ? "" : "; " + std::string(rules)) +
      ".\n"
      "Waiting for servers; " +
      mode + ". Ctrl-C stops.\n");
  if (!setup.unkept.empty()) {
    show("The history will not show changes, nor can they be reverted: " +
         visible_name(setup.unkept).text + "\n");
  }
}

Result<Setup> set_up(const ReviewOptions& options) {
  Result<std::string> limit = real_directory(options.workspace);
  if (!limit.ok()) return fail(limit.failure());
  Result<Journal> journal = open_journal(options);
  if (!journal.ok()) return fail(journal.failure());
  std::optional<TextStore> texts;
  std::string unkept;
  if (const std::string& path = journal.value().path(); !path.empty()) {
    Result<TextStore> opened =
        TextStore::open(path.substr(0, path.rfind('/')) + "/texts", options.history);
    // Pruned at start too, so that the age bound holds for a store that
    // grows slowly; a failure here is told at the next pruning.
    if (opened.ok()) (void)opened.value().prune(std::time(nullptr));
    if (opened.ok()) texts.emplace(std::move(opened).value());
    if (!opened.ok()) unkept = opened.failure();
  }
  UniqueFd tty;
  const bool desk_alone = options.web && !answers_at_terminal();
  if (options.auto_answer == AutoAnswer::kNone && !desk_alone) {
    Result<UniqueFd> opened = open_terminal();
    if (opened.ok()) {
      tty = std::move(opened).value();
    } else if (!options.web) {
      return fail(opened.failure() + " (or pass --auto accept|reject, or --web)");
    }
  }
  Result<Listener> listener = open_listener(options);
  if (!listener.ok()) return fail(listener.failure());
  return Setup{std::move(limit).value(), std::move(journal).value(),  std::move(texts),
               std::move(unkept),        std::move(listener).value(), std::move(tty)};
}

Result<Desk> start_desk(asio::io_context& io, DeskFrontEnd& front_end,
                        const ReviewOptions& options) {
  const WebAddress& address = *options.web;
  Result<std::string> token = desk_token(options);
  if (!token.ok()) return fail(token.failure());
  desk::DeskOptions desk_options;
  desk_options.host = address.host;
  desk_options.port = address.port;
  desk_options.allow_remote = options.web_allow_remote;
  desk_options.token = token.value();
  Result<std::unique_ptr<desk::DeskServer>> server =
      desk::DeskServer::start(io, front_end, desk_options);
  if (!server.ok()) return fail("cannot serve the desk: " + server.failure());
  return Desk{std::move(server).value(), std::nullopt};
}

Status show_desk(Desk& desk, ChildRunner& runner, const ReviewOptions& options) {
  show("Review desk: " + desk.server->url() + "\n");
  if (!options.open_browser) return {};
  Result<LaunchPage> page = launch_browser(runner, desk.server->url());
  if (!page.ok()) return fail(page.failure());
  desk.launch_page.emplace(std::move(page).value());
  return {};
}

std::unique_ptr<RunningFile> record_running(const Setup& setup, const Desk* desk,
                                            const ReviewCore& core, asio::io_context& io) {
  const RunningState state{::getpid(), setup.listener.path(), desk ? desk->server->address() : "",
                           0};
  Result<std::unique_ptr<RunningFile>> file = write_running(state, core, io);
  if (file.ok()) return std::move(file).value();
  show("varnock-review: " + file.failure() + "; status and open will not find this reviewer\n");
  return nullptr;
}

}  // namespace varnock::review
