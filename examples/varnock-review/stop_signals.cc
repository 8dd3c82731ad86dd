#include "stop_signals.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>

#include "system_error.h"

namespace varnock::review {
namespace {

// The write end of the pipe, for the handler; only it may touch this.
volatile std::sig_atomic_t g_signal_pipe = -1;

extern "C" void on_stop_signal(int number) {
  const int saved = errno;
  const unsigned char byte = static_cast<unsigned char>(number);
  [[maybe_unused]] const ssize_t written = ::write(g_signal_pipe, &byte, 1);
  errno = saved;
}

Status handle(int number) {
  struct sigaction action {};
  action.sa_handler = on_stop_signal;
  sigemptyset(&action.sa_mask);
  if (::sigaction(number, &action, nullptr) != 0) {
    return fail(system_error("cannot install a signal handler", errno));
  }
  return {};
}

}  // namespace

Result<StopSignals> StopSignals::install() {
  int ends[2];
  if (::pipe2(ends, O_CLOEXEC | O_NONBLOCK) != 0) {
    return fail(system_error("cannot create a pipe", errno));
  }
  StopSignals signals{UniqueFd(ends[0]), UniqueFd(ends[1])};
  g_signal_pipe = ends[1];
  for (int number : {SIGINT, SIGTERM, SIGHUP}) {
    Status installed = handle(number);
    if (!installed.ok()) return fail(installed.failure());
  }
  std::signal(SIGPIPE, SIG_IGN);
  return signals;
}

int StopSignals::take_signal() {
  unsigned char byte = 0;
  if (::read(read_end_.get(), &byte, 1) == 1) return byte;
  return 0;
}

}  // namespace varnock::review
