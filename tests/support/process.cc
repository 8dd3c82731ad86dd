#include "support/process.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>  // posix_openpt
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <stdexcept>
#include <thread>

#include "base/io.h"

namespace varnock::test {
namespace {

// The only variables a child inherits from the test's own environment.
constexpr const char* kPassedThrough[] = {"PATH", "ASAN_OPTIONS", "UBSAN_OPTIONS", "LSAN_OPTIONS"};

using Clock = std::chrono::steady_clock;

void close_fd(int& fd) {
  if (fd >= 0) close(fd);
  fd = -1;
}

// The child's environment: the variables passed through, then the options'.
std::vector<std::string> child_environment(const ProcessOptions& options) {
  std::map<std::string, std::string> variables;
  for (const char* name : kPassedThrough) {
    if (const char* value = std::getenv(name)) variables[name] = value;
  }
  for (const auto& [name, value] : options.environment) variables[name] = value;
  std::vector<std::string> entries;
  for (const auto& [name, value] : variables) entries.push_back(name + "=" + value);
  return entries;
}

std::vector<char*> c_strings(std::vector<std::string>& strings) {
  std::vector<char*> pointers;
  for (std::string& s : strings) pointers.push_back(s.data());
  pointers.push_back(nullptr);
  return pointers;
}

// What becomes of the child's standard descriptors: closed, a file in the
// output directory, a new pseudo-terminal (which the child opens by name
// once it has a session of its own, so that it becomes its controlling
// terminal), or a pipe whose other end the parent keeps in `parent_ends`
// (non-blocking, so that one poll loop can feed the child while draining
// it). `child_ends` receives the ends to close after the spawn.
void plan_descriptors(const ProcessOptions& options, posix_spawn_file_actions_t& actions,
                      int* parent_ends[3], std::string& terminal, std::vector<int>& child_ends) {
  const auto& closed = options.closed_descriptors;
  for (int fd = 0; fd < 3; ++fd) {
    if (std::find(closed.begin(), closed.end(), fd) != closed.end()) {
      posix_spawn_file_actions_addclose(&actions, fd);
    } else if (options.terminal && fd < 2) {
      if (fd == 0) {
        *parent_ends[0] = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (grantpt(*parent_ends[0]) != 0 || unlockpt(*parent_ends[0]) != 0) {
          throw std::runtime_error("no pseudo-terminal");
        }
        terminal = ptsname(*parent_ends[0]);
      }
      if (fd == 1) *parent_ends[1] = fcntl(*parent_ends[0], F_DUPFD_CLOEXEC, 3);
      posix_spawn_file_actions_addopen(&actions, fd, terminal.c_str(), O_RDWR, 0);
      fcntl(*parent_ends[fd], F_SETFL, O_NONBLOCK);
    } else if (!options.output_directory.empty() && fd > 0) {
      const std::string file = options.output_directory + (fd == 1 ? "/out" : "/err");
      posix_spawn_file_actions_addopen(&actions, fd, file.c_str(), O_WRONLY | O_CREAT | O_APPEND,
                                       0600);
    } else {
      int ends[2];
      if (pipe2(ends, O_CLOEXEC) != 0) throw std::runtime_error("pipe2 failed");
      child_ends.push_back(ends[fd == 0 ? 0 : 1]);
      *parent_ends[fd] = ends[fd == 0 ? 1 : 0];
      fcntl(*parent_ends[fd], F_SETFL, O_NONBLOCK);
      posix_spawn_file_actions_adddup2(&actions, child_ends.back(), fd);
    }
  }
  posix_spawn_file_actions_addclosefrom_np(&actions, 3);
  if (!options.working_directory.empty()) {
    posix_spawn_file_actions_addchdir_np(&actions, options.working_directory.c_str());
  }
}

// The test ignores SIGPIPE (a write to a child that has gone must fail with
// EPIPE, not end the test); the child gets the default action back, an
// empty signal mask and a session of its own, as a host would start it.
void plan_attributes(posix_spawnattr_t& attributes) {
  static const bool ignored = (::signal(SIGPIPE, SIG_IGN), true);
  (void)ignored;
  sigset_t defaults;
  sigemptyset(&defaults);
  sigaddset(&defaults, SIGPIPE);
  sigset_t empty_mask;
  sigemptyset(&empty_mask);
  posix_spawnattr_setsigdefault(&attributes, &defaults);
  posix_spawnattr_setsigmask(&attributes, &empty_mask);
  posix_spawnattr_setflags(&attributes,
                           POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSID);
}

int remaining_ms(Clock::time_point deadline) {
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
  return static_cast<int>(std::max<long long>(0, left.count()));
}

// Appends what `fd` has to `sink`; closes `fd` at end of file or error (a
// pseudo-terminal whose program has gone reads as EIO).
void drain_into(int& fd, std::string& sink) {
  char block[65536];
  ssize_t n = read_some(fd, block, sizeof block);
  if (n > 0) {
    sink.append(block, static_cast<std::size_t>(n));
  } else if (n == 0 || errno != EAGAIN) {
    close_fd(fd);
  }
}

}  // namespace

ServerProcess::ServerProcess(const ProcessOptions& options) : options_(options) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  int* parent_ends[3] = {&stdin_fd_, &stdout_fd_, &stderr_fd_};
  std::string terminal;
  std::vector<int> child_ends;
  plan_descriptors(options, actions, parent_ends, terminal, child_ends);
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  plan_attributes(attributes);

  std::vector<std::string> arguments = {options.program};
  arguments.insert(arguments.end(), options.arguments.begin(), options.arguments.end());
  std::vector<std::string> environment = child_environment(options);
  std::vector<char*> argv = c_strings(arguments);
  std::vector<char*> envp = c_strings(environment);
  const int error =
      posix_spawnp(&pid_, options.program.c_str(), &actions, &attributes, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  for (int& fd : child_ends) close_fd(fd);
  if (error != 0) {
    for (int* fd : parent_ends) close_fd(*fd);
    throw std::runtime_error("cannot start " + options.program + ": " + std::to_string(error));
  }
}

ServerProcess::~ServerProcess() {
  if (pid_ >= 0 && exit_status_ < 0) finish();
  close_fd(stdout_fd_);
  close_fd(stderr_fd_);
}

bool ServerProcess::reaped(int timeout_ms) {
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
  for (;;) {
    int status = 0;
    rusage usage{};
    const pid_t ended = wait4(pid_, &status, WNOHANG, &usage);
    if (ended == pid_) {
      exit_status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      peak_rss_bytes_ = static_cast<long long>(usage.ru_maxrss) * 1024;
      return true;
    }
    if ((ended < 0 && errno != EINTR) || Clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

bool ServerProcess::pump(std::string_view pending, std::size_t& offset, int timeout_ms) {
  const bool feeding = stdin_fd_ >= 0 && offset < pending.size();
  if (!feeding && stdout_fd_ < 0 && stderr_fd_ < 0) return false;
  pollfd fds[3] = {
      {feeding ? stdin_fd_ : -1, POLLOUT, 0}, {stdout_fd_, POLLIN, 0}, {stderr_fd_, POLLIN, 0}};
  const int ready = poll(fds, 3, timeout_ms);
  if (ready < 0 && errno == EINTR) return true;
  if (ready <= 0) return false;
  if (fds[0].revents != 0) {
    const ssize_t n = ::write(stdin_fd_, pending.data() + offset, pending.size() - offset);
    if (n > 0) offset += static_cast<std::size_t>(n);
    if (n < 0 && errno != EINTR && errno != EAGAIN) close_fd(stdin_fd_);  // the reader has gone
  }
  if (fds[1].revents != 0) drain_into(stdout_fd_, out_);
  if (fds[2].revents != 0) drain_into(stderr_fd_, err_);
  return true;
}

void ServerProcess::write(const std::string& bytes) {
  std::size_t offset = 0;
  while (stdin_fd_ >= 0 && offset < bytes.size()) pump(bytes, offset, -1);
}

void ServerProcess::signal(int number) {
  if (exit_status_ < 0) kill(pid_, number);
}

std::optional<std::string> ServerProcess::read_line(int timeout_ms) {
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
  std::size_t none = 0;
  for (;;) {
    const std::size_t end = out_.find('\n', scanned_);
    if (end != std::string::npos) {
      std::string line = out_.substr(0, end);
      out_.erase(0, end + 1);
      scanned_ = 0;
      return line;
    }
    scanned_ = out_.size();
    if (!pump({}, none, remaining_ms(deadline))) {
      if (stdout_fd_ >= 0 || out_.empty()) return std::nullopt;
      return out();
    }
  }
}

bool ServerProcess::wait_for(std::string_view needle, int timeout_ms) {
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
  std::size_t none = 0;
  std::size_t from = 0;  // output before this cannot start the needle: tens of MiB are scanned once
  for (bool more = true;; more = pump({}, none, remaining_ms(deadline))) {
    const std::size_t at = out_.find(needle, from);
    if (at != std::string::npos) {
      out_.erase(0, at + needle.size());
      scanned_ = 0;
      return true;
    }
    if (!more) return false;
    from = out_.size() - std::min(out_.size(), needle.size());
  }
}

int ServerProcess::finish(int timeout_ms) {
  if (exit_status_ >= 0) return exit_status_;
  // A terminal's input ends with the EOF character the test types; closing
  // it early would hang it up under the program.
  if (!options_.terminal) close_fd(stdin_fd_);
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
  std::size_t none = 0;
  while (pump({}, none, remaining_ms(deadline))) {
  }
  if (!reaped(remaining_ms(deadline))) {
    kill(pid_, SIGKILL);
    reaped(kPatienceMs);
  }
  close_fd(stdin_fd_);
  return exit_status_;
}

std::string ServerProcess::err() {
  std::size_t none = 0;
  while (stderr_fd_ >= 0 && pump({}, none, 0)) {
  }
  return err_;
}

std::string ServerProcess::out() {
  scanned_ = 0;
  return std::exchange(out_, std::string());
}

void ServerProcess::close_stdout_reader() { close_fd(stdout_fd_); }

ProcessOutput run_server(const std::string& input, const ProcessOptions& options) {
  ServerProcess process(options);
  process.write(input);
  ProcessOutput output;
  output.exit_status = process.finish();
  output.out = process.out();
  output.err = process.err();
  return output;
}

}  // namespace varnock::test
