// varnock-review: a review broker for varnock-mcp servers that a person can
// run in a terminal. One event loop serves the socket, the servers, the
// terminal and the stop signals.
#include <malloc.h>
#include <unistd.h>

#include <boost/asio/io_context.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/signal_set.hpp>
#include <csignal>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/io.h"
#include "core/review_core.h"
#include "desk/desk_front_end.h"
#include "notify/desktop_notifier.h"
#include "options.h"
#include "reviewer_commands.h"
#include "rules_check.h"
#include "servers/server_hub.h"
#include "startup.h"
#include "system/child_runner.h"
#include "terminal/output.h"
#include "terminal/present.h"
#include "terminal/terminal.h"
#include "varnock/version.h"

namespace varnock::review {
namespace {

namespace asio = boost::asio;

constexpr int kFailed = 1;
constexpr int kUsageError = 2;
constexpr int kNotRunning = 3;

int complain(std::string_view text, int status) {
  std::string line = "varnock-review: ";
  line += text;
  line += '\n';
  [[maybe_unused]] const ssize_t written = ::write(STDERR_FILENO, line.data(), line.size());
  return status;
}

int serve(const ReviewOptions& options) {
  Result<Rules> rules = load_rules(options.rules);
  if (!rules.ok()) return complain(rules.failure(), kFailed);
  const std::string rules_text = rules_in_use(rules.value());
  Result<Setup> setup = set_up(options);
  if (!setup.ok()) return complain(setup.failure(), kFailed);
  Setup& parts = setup.value();
  asio::io_context io;
  ChildRunner runner(io);
  SystemEnv env(parts.journal, runner, parts.texts ? &*parts.texts : nullptr);
  ReviewCore core(env, io, std::move(rules).value());
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
    Result<Desk> started = start_desk(io, desk_front_end, options);
    if (!started.ok()) return complain(started.failure(), kFailed);
    desk.emplace(std::move(started).value());
    desk_front_end.count_kept([&desk] { return desk->server->kept_bytes(); });
  }
  signals.async_wait([&](const boost::system::error_code& error, int number) {
    if (error) return;
    show("\nStopping (signal " + std::to_string(number) + ").\n");
    stop();
  });
  std::unique_ptr<RunningFile> running = record_running(parts, desk ? &*desk : nullptr, core, io);
  if (running) core.subscribe(*running);
  if (desk) {
    if (Status shown = show_desk(*desk, runner, options); !shown.ok()) {
      return complain(shown.failure(), kFailed);
    }
  }
  announce(parts, options, rules_text);
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
  if (options.value().command == Command::kStatus) {
    Result<StatusReport> status = reviewer_status();
    if (!status.ok()) return complain(status.failure(), kFailed);
    show(status.value().text);
    return status.value().running ? 0 : kNotRunning;
  }
  if (options.value().command == Command::kOpen) {
    Result<std::string> opened = open_running_desk();
    if (!opened.ok()) return complain(opened.failure(), kFailed);
    show(opened.value());
    return 0;
  }
  if (const auto& check = options.value().rules_check) {
    Result<std::string> said = check_rules(*check, options.value().rules);
    if (!said.ok()) return complain(said.failure(), kFailed);
    show(said.value());
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
