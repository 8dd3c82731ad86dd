// varnock-review: a review broker for varnock-mcp servers that a person can
// run in a terminal.
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "listener.h"
#include "options.h"
#include "present.h"
#include "reviewer.h"
#include "socket_path.h"
#include "stop_signals.h"
#include "system_error.h"
#include "terminal.h"

namespace varnock::review {
namespace {

constexpr int kFailed = 1;
constexpr int kUsageError = 2;

int complain(std::string_view text, int status) {
  std::string line = "varnock-review: ";
  line += text;
  line += '\n';
  [[maybe_unused]] const ssize_t written = ::write(STDERR_FILENO, line.data(), line.size());
  return status;
}

// The workspace as a real path, so containment is judged on real paths.
Result<std::string> real_workspace(const std::string& given) {
  const std::string path = given.empty() ? "." : given;
  std::unique_ptr<char, decltype(&std::free)> real(::realpath(path.c_str(), nullptr), &std::free);
  if (!real) return fail(system_error("cannot use the workspace " + path, errno));
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

void announce(const Listener& listener, const ReviewerSettings& settings) {
  show("VARNOCK_SOCKET=" + shell_word(listener.path()) + "\n");
  std::string mode = "answers from this terminal";
  if (settings.auto_answer == AutoAnswer::kAccept) mode = "accepting every proposal (--auto)";
  if (settings.auto_answer == AutoAnswer::kReject) mode = "rejecting every proposal (--auto)";
  show(
      "Export the line above where the MCP host starts varnock-mcp.\n"
      "Workspace: " +
      visible_text(settings.workspace) +
      "\n"
      "Waiting for servers; " +
      mode + ". Ctrl-C stops.\n");
}

int serve(const ReviewOptions& options) {
  Result<std::string> workspace = real_workspace(options.workspace);
  if (!workspace.ok()) return complain(workspace.failure(), kFailed);
  Result<std::string> socket_path = options.socket_path.empty()
                                        ? default_socket_path()
                                        : Result<std::string>(options.socket_path);
  if (!socket_path.ok()) return complain(socket_path.failure(), kFailed);
  std::optional<Terminal> terminal;
  if (options.auto_answer == AutoAnswer::kNone) {
    Result<Terminal> opened = Terminal::open();
    if (!opened.ok())
      return complain(opened.failure() + " (or pass --auto accept|reject)", kFailed);
    terminal.emplace(std::move(opened).value());
  }
  Result<StopSignals> signals = StopSignals::install();
  if (!signals.ok()) return complain(signals.failure(), kFailed);
  Result<Listener> listener = Listener::open(socket_path.value());
  if (!listener.ok()) return complain(listener.failure(), kFailed);
  ReviewerSettings settings{std::move(workspace).value(), options.auto_answer, want_colour()};
  announce(listener.value(), settings);
  Reviewer reviewer(std::move(listener).value(), std::move(signals).value(), std::move(terminal),
                    std::move(settings));
  reviewer.run();
  return 0;
}

}  // namespace
}  // namespace varnock::review

int main(int argc, char** argv) {
  using namespace varnock::review;
  const std::vector<std::string_view> args(argv + (argc > 0 ? 1 : 0), argv + argc);
  varnock::Result<ReviewOptions> options = parse_options(args);
  if (!options.ok()) return complain(options.failure() + " (see --help)", kUsageError);
  if (options.value().show_help) {
    show(kUsage);
    return 0;
  }
  return serve(options.value());
}
