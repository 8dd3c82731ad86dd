// varnock-review: a review broker for varnock-mcp servers that a person can
// run in a terminal. One event loop serves the socket, the servers, the
// terminal and the stop signals.
#include <malloc.h>
#include <unistd.h>

#include <boost/asio/io_context.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/signal_set.hpp>
#include <csignal>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/io.h"
#include "base/os_error.h"
#include "desk/browser_launch.h"
#include "system/child_runner.h"
#include "desk/desk_server.h"
#include "desk/desk_front_end.h"
#include "system/listener.h"
#include "notify/desktop_notifier.h"
#include "options.h"
#include "terminal/output.h"
#include "terminal/present.h"
#include "core/review_core.h"
#include "servers/server_hub.h"
#include "system/socket_place.h"
#include "terminal/terminal.h"
#include "varnock/version.h"
#include "core/visible_text.h"

namespace varnock::review {
namespace {

namespace asio = boost::asio;

constexpr int kFailed = 1;
constexpr int kUsageError = 2;

int complain(std::string_view text, int status) {
  std::string line = "varnock-review: ";
  line += text;
  line += '\n';
  [[maybe_unused]] const ssize_t written = ::write(STDERR_FILENO, line.data(), line.size());
  return status;
}

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

bool want_colour() {
  const char* term = std::getenv("TERM");
  const bool dumb = term != nullptr && std::string_view(term) == "dumb";
  return ::isatty(STDOUT_FILENO) == 1 && !dumb && std::getenv("NO_COLOR") == nullptr;
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

void announce(const Listener& listener, const ReviewOptions& options, const std::string& limit,
              const Journal& journal) {
  if (!listener.path().empty()) show("VARNOCK_SOCKET=" + shell_word(listener.path()) + "\n");
  std::string mode = options.web ? "answers from the desk" : "answers from this terminal";
  if (options.web && ::isatty(STDIN_FILENO) == 1) mode = "answers from the desk or this terminal";
  if (options.auto_answer == AutoAnswer::kAccept) mode = "accepting every proposal (--auto)";
  if (options.auto_answer == AutoAnswer::kReject) mode = "rejecting every proposal (--auto)";
  const std::string served =
      limit.empty() ? "servers in any directory" : "servers under " + visible_name(limit).text;
  const std::string journal_text =
      journal.path().empty() ? "no journal" : "journal " + visible_name(journal.path()).text;
  show(
      "Export the line above where the MCP host starts varnock-mcp.\n"
      "Serving " +
      served + "; " + journal_text +
      ".\n"
      "Waiting for servers; " +
      mode + ". Ctrl-C stops.\n");
}

struct Setup {
  std::string limit;
  Journal journal;
  Listener listener;
  UniqueFd tty;
};

Result<Setup> set_up(const ReviewOptions& options) {
  Result<std::string> limit = real_directory(options.workspace);
  if (!limit.ok()) return fail(limit.failure());
  Result<Journal> journal = open_journal(options);
  if (!journal.ok()) return fail(journal.failure());
  UniqueFd tty;
  // With the desk, the terminal answers too only when the reviewer was
  // started from one.
  const bool desk_alone = options.web && ::isatty(STDIN_FILENO) != 1;
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
  return Setup{std::move(limit).value(), std::move(journal).value(), std::move(listener).value(),
               std::move(tty)};
}

// The desk's page handed to the browser, and the server behind it.
struct Desk {
  std::unique_ptr<desk::DeskServer> server;
  std::optional<LaunchPage> launch_page;
};

Result<Desk> start_desk(asio::io_context& io, ChildRunner& runner, DeskFrontEnd& front_end,
                        const ReviewOptions& options) {
  const WebAddress& address = *options.web;
  Result<std::unique_ptr<desk::DeskServer>> server = desk::DeskServer::start(
      io, front_end, desk::DeskOptions{address.host, address.port, options.web_allow_remote});
  if (!server.ok()) return fail("cannot serve the desk: " + server.failure());
  Desk desk{std::move(server).value(), std::nullopt};
  show("Review desk: " + desk.server->url() + "\n");
  if (!options.open_browser) return desk;
  Result<std::string> socket = default_socket_path();
  if (!socket.ok()) return fail(socket.failure());
  const std::string& place = socket.value();
  Result<LaunchPage> page =
      LaunchPage::write(place.substr(0, place.rfind('/')), desk.server->url());
  if (!page.ok()) return fail(page.failure());
  desk.launch_page.emplace(std::move(page).value());
  // A browser that does not open is told, and the printed address remains.
  open_in_browser(runner, desk.launch_page->path(), [](const Status& opened) {
    if (!opened.ok())
      show("varnock-review: " + opened.failure() + "; open the address above by hand\n");
  });
  return desk;
}

int serve(const ReviewOptions& options) {
  Result<Setup> setup = set_up(options);
  if (!setup.ok()) return complain(setup.failure(), kFailed);
  Setup& parts = setup.value();
  asio::io_context io;
  ChildRunner runner(io);
  std::optional<TextStore> store;
  if (!parts.journal.path().empty()) {
    const std::string& journal = parts.journal.path();
    Result<TextStore> opened = TextStore::open(journal.substr(0, journal.rfind('/')) + "/texts");
    if (!opened.ok()) return complain(opened.failure(), kFailed);
    store.emplace(std::move(opened).value());
  }
  SystemEnv env(parts.journal, runner, store ? &*store : nullptr);
  ReviewCore core(env, io);
  ServerHub hub(io, core, parts.listener.fd(), HubSettings{parts.limit, options.limits});
  asio::signal_set signals(io, SIGINT, SIGTERM, SIGHUP);
  const auto stop = [&] {
    signals.cancel();
    core.withdraw_all();
    hub.stop();
    io.stop();
  };
  TerminalFrontEnd terminal(io, core, std::move(parts.tty), want_colour(),
                            options.auto_answer == AutoAnswer::kNone, stop);
  core.subscribe(terminal);
  std::optional<AutoFrontEnd> automatic;
  if (options.auto_answer != AutoAnswer::kNone) {
    automatic.emplace(io, core, options.auto_answer == AutoAnswer::kAccept);
    core.subscribe(*automatic);
  }
  std::optional<DesktopNotifier> notifier;
  if (options.notify) {
    notifier.emplace([&io](std::function<void()> task) { asio::post(io, std::move(task)); },
                     [&core](std::string_view why) { core.notice(why); });
    core.subscribe(*notifier);
  }
  DeskFrontEnd desk_front_end(core);
  std::optional<Desk> desk;
  if (options.web) {
    core.subscribe(desk_front_end);
    Result<Desk> started = start_desk(io, runner, desk_front_end, options);
    if (!started.ok()) return complain(started.failure(), kFailed);
    desk.emplace(std::move(started).value());
    desk_front_end.count_kept([&desk] { return desk->server->kept_bytes(); });
  }
  signals.async_wait([&](const boost::system::error_code& error, int number) {
    if (error) return;
    show("\nStopping (signal " + std::to_string(number) + ").\n");
    stop();
  });
  announce(parts.listener, options, parts.limit, parts.journal);
  hub.start();
  io.run();
  return 0;
}

int run(const std::vector<std::string_view>& args) {
  Result<ReviewOptions> options = parse_options(args);
  if (!options.ok()) return complain(options.failure() + " (see --help)", kUsageError);
  if (options.value().show_help) {
    show(kUsage);
    return 0;
  }
  if (options.value().show_version) {
    show("varnock-review " + std::string(kVersion) + "\n");
    return 0;
  }
  return serve(options.value());
}

}  // namespace
}  // namespace varnock::review

int main(int argc, char** argv) {
  using namespace varnock::review;
  // Blocks of a MiB or more (a proposal's texts, a diff) are mapped on
  // their own and given back to the system when freed, on whichever
  // thread; glibc would otherwise raise this bound as such blocks are freed
  // and keep later ones in its arenas.
  ::mallopt(M_MMAP_THRESHOLD, 1 << 20);
  varnock::open_closed_standard_descriptors();
  std::signal(SIGPIPE, SIG_IGN);
  const std::vector<std::string_view> args(argv + (argc > 0 ? 1 : 0), argv + argc);
  const int status = run(args);
  flush_output(kLastOutputWait);
  return status;
}
