#include "support/process.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <stdexcept>
#include <utility>

#include "base/io.h"
#include "support/temp_dir.h"

namespace varnock::test {
namespace {

// The only variables a child inherits from the test's own environment.
constexpr const char* kPassedThrough[] = {"PATH", "ASAN_OPTIONS", "UBSAN_OPTIONS", "LSAN_OPTIONS"};

using Clock = std::chrono::steady_clock;

// A write to a child that has exited must fail with EPIPE instead of ending
// the test binary. The child itself gets the default action back at spawn.
void ignore_broken_pipe_once() {
  static const bool ignored = (signal(SIGPIPE, SIG_IGN), true);
  (void)ignored;
}

[[noreturn]] void fail_setup(const std::string& what, int error) {
  throw std::runtime_error("cannot start the program: " + what + ": " + std::to_string(error));
}

struct Pipe {
  int read_end = -1;
  int write_end = -1;
};

Pipe make_pipe() {
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) fail_setup("pipe2", errno);
  return Pipe{fds[0], fds[1]};
}

// The parent's ends never block, so that one poll loop can feed the child's
// input while draining its output; the child's ends stay blocking.
void make_non_blocking(int fd) { fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK); }

void close_fd(int& fd) {
  if (fd >= 0) close(fd);
  fd = -1;
}

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

bool is_closed(const ProcessOptions& options, int fd) {
  const auto& closed = options.closed_descriptors;
  return std::find(closed.begin(), closed.end(), fd) != closed.end();
}

// The descriptors the parent keeps: its ends of the child's standard streams
// (-1 for a stream the child starts with closed).
struct ChildStreams {
  int pid = -1;
  int stdin_fd = -1;
  int stdout_fd = -1;
  int stderr_fd = -1;
};

// What the child does between fork and exec: the pipes' child ends become
// its standard descriptors (or those stay closed), every other descriptor is
// closed, and it moves to the working directory. `child_ends` receives the
// child ends, which the parent closes after the spawn.
void plan_descriptors(const ProcessOptions& options, posix_spawn_file_actions_t& actions,
                      ChildStreams& streams, std::vector<int>& child_ends) {
  int* parent_ends[3] = {&streams.stdin_fd, &streams.stdout_fd, &streams.stderr_fd};
  for (int fd = 0; fd < 3; ++fd) {
    if (is_closed(options, fd)) {
      posix_spawn_file_actions_addclose(&actions, fd);
      continue;
    }
    Pipe channel = make_pipe();
    bool child_reads = fd == 0;
    child_ends.push_back(child_reads ? channel.read_end : channel.write_end);
    *parent_ends[fd] = child_reads ? channel.write_end : channel.read_end;
    make_non_blocking(*parent_ends[fd]);
    posix_spawn_file_actions_adddup2(&actions, child_ends.back(), fd);
  }
  posix_spawn_file_actions_addclosefrom_np(&actions, 3);
  if (!options.working_directory.empty()) {
    posix_spawn_file_actions_addchdir_np(&actions, options.working_directory.c_str());
  }
}

// The test ignores SIGPIPE; the child gets the default action back, and an
// empty signal mask, so it meets signals as a host would start it.
void plan_signals(posix_spawnattr_t& attributes) {
  sigset_t defaults;
  sigemptyset(&defaults);
  sigaddset(&defaults, SIGPIPE);
  sigset_t empty_mask;
  sigemptyset(&empty_mask);
  posix_spawnattr_setsigdefault(&attributes, &defaults);
  posix_spawnattr_setsigmask(&attributes, &empty_mask);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);
}

// Spawns the program with pipes on the standard descriptors that stay open.
ChildStreams spawn_server(const ProcessOptions& options) {
  ignore_broken_pipe_once();
  ChildStreams streams;
  std::vector<int> child_ends;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  plan_descriptors(options, actions, streams, child_ends);
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  plan_signals(attributes);

  const std::string& program = options.program;
  std::vector<std::string> arguments = {program};
  arguments.insert(arguments.end(), options.arguments.begin(), options.arguments.end());
  std::vector<std::string> environment = child_environment(options);
  std::vector<char*> argv = c_strings(arguments);
  std::vector<char*> envp = c_strings(environment);
  int error =
      posix_spawn(&streams.pid, program.c_str(), &actions, &attributes, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  for (int& fd : child_ends) close_fd(fd);
  if (error != 0) {
    close_fd(streams.stdin_fd);
    close_fd(streams.stdout_fd);
    close_fd(streams.stderr_fd);
    fail_setup("posix_spawn " + program, error);
  }
  return streams;
}

int exit_status_of(int wait_status) {
  if (WIFEXITED(wait_status)) return WEXITSTATUS(wait_status);
  if (WIFSIGNALED(wait_status)) return 128 + WTERMSIG(wait_status);
  return -1;
}

// Reaps the child; `usage`, when given, receives its resource usage.
int wait_for_exit(int pid, rusage* usage = nullptr) {
  int status = 0;
  rusage ignored;
  while (wait4(pid, &status, 0, usage != nullptr ? usage : &ignored) < 0) {
    if (errno != EINTR) return -1;
  }
  return exit_status_of(status);
}

// Milliseconds left until `deadline`, never negative.
int remaining_ms(Clock::time_point deadline) {
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
  return static_cast<int>(std::max<long long>(0, left.count()));
}

// Appends what `fd` has to `sink`; closes `fd` at end of file or error.
void drain_into(int& fd, std::string& sink) {
  char block[65536];
  ssize_t n = read_some(fd, block, sizeof block);
  if (n > 0) {
    sink.append(block, static_cast<std::size_t>(n));
  } else if (n == 0 || errno != EAGAIN) {
    close_fd(fd);
  }
}

// Writes as much of `pending` (from `offset`) as `fd` takes now; closes `fd`
// when the reader has gone.
void feed_from(int& fd, const std::string& pending, std::size_t& offset) {
  ssize_t n = ::write(fd, pending.data() + offset, pending.size() - offset);
  if (n > 0) {
    offset += static_cast<std::size_t>(n);
  } else if (n < 0 && errno != EINTR && errno != EAGAIN) {
    close_fd(fd);
  }
}

// The parent's ends of the child's standard streams (-1 once closed) and the
// output gathered from them.
struct Streams {
  int& in;
  int& out;
  int& err;
  std::string& out_bytes;
  std::string& err_bytes;

  // One poll round: feeds standard input from `pending` while any of it is
  // left after `offset`, and gathers what output is ready. Gives false when
  // nothing was ready before `timeout_ms` (-1: no limit).
  bool pump(const std::string& pending, std::size_t& offset, int timeout_ms) {
    pollfd fds[3] = {{in, POLLOUT, 0}, {out, POLLIN, 0}, {err, POLLIN, 0}};
    if (offset >= pending.size()) fds[0].fd = -1;
    int ready = poll(fds, 3, timeout_ms);
    if (ready < 0 && errno == EINTR) return true;
    if (ready <= 0) return false;
    if (fds[0].revents != 0) feed_from(in, pending, offset);
    if (fds[1].revents != 0) drain_into(out, out_bytes);
    if (fds[2].revents != 0) drain_into(err, err_bytes);
    return true;
  }

  // One poll round over the output alone.
  bool pump_output(int timeout_ms) {
    std::size_t none = 0;
    return pump(std::string(), none, timeout_ms);
  }
};

}  // namespace

ProcessOutput run_server(const std::string& input, const ProcessOptions& options) {
  ChildStreams child = spawn_server(options);
  ProcessOutput output;
  Streams streams{child.stdin_fd, child.stdout_fd, child.stderr_fd, output.out, output.err};
  std::size_t offset = 0;
  while (child.stdin_fd >= 0 || child.stdout_fd >= 0 || child.stderr_fd >= 0) {
    if (child.stdin_fd >= 0 && offset >= input.size()) close_fd(child.stdin_fd);
    streams.pump(input, offset, -1);
  }
  output.exit_status = wait_for_exit(child.pid);
  return output;
}

ServerProcess::ServerProcess(const ProcessOptions& options) {
  ChildStreams child = spawn_server(options);
  pid_ = child.pid;
  stdin_fd_ = child.stdin_fd;
  stdout_fd_ = child.stdout_fd;
  stderr_fd_ = child.stderr_fd;
}

ServerProcess::~ServerProcess() {
  if (pid_ >= 0 && exit_status_ < 0) finish();
  close_fd(stdout_fd_);
  close_fd(stderr_fd_);
}

void ServerProcess::write(const std::string& bytes) {
  Streams streams{stdin_fd_, stdout_fd_, stderr_fd_, out_buffer_, err_buffer_};
  std::size_t offset = 0;
  while (stdin_fd_ >= 0 && offset < bytes.size()) streams.pump(bytes, offset, -1);
}

std::optional<std::string> ServerProcess::read_line(int timeout_ms) {
  Streams streams{stdin_fd_, stdout_fd_, stderr_fd_, out_buffer_, err_buffer_};
  Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
  for (;;) {
    out_lines_.append(std::exchange(out_buffer_, std::string()));
    if (std::optional<std::string> line = out_lines_.take_line()) {
      line->pop_back();
      return line;
    }
    if (stdout_fd_ < 0) {
      std::string rest = out_lines_.take_rest();
      if (rest.empty()) return std::nullopt;
      return rest;
    }
    if (!streams.pump_output(remaining_ms(deadline))) return std::nullopt;
  }
}

int ServerProcess::finish(int timeout_ms) {
  if (exit_status_ >= 0) return exit_status_;
  close_fd(stdin_fd_);
  Streams streams{stdin_fd_, stdout_fd_, stderr_fd_, out_buffer_, err_buffer_};
  Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
  while (stdout_fd_ >= 0 || stderr_fd_ >= 0) {
    if (!streams.pump_output(remaining_ms(deadline))) {
      kill(pid_, SIGKILL);
      break;
    }
  }
  rusage usage{};
  exit_status_ = wait_for_exit(pid_, &usage);
  if (exit_status_ >= 0) peak_rss_bytes_ = static_cast<long long>(usage.ru_maxrss) * 1024;
  return exit_status_;
}

std::string ServerProcess::err() {
  Streams streams{stdin_fd_, stdout_fd_, stderr_fd_, out_buffer_, err_buffer_};
  while (stderr_fd_ >= 0 && streams.pump_output(0)) {
  }
  return err_buffer_;
}

void ServerProcess::close_stdout_reader() { close_fd(stdout_fd_); }

std::string serve_without_broker(const std::string& input) {
  TempDir workspace;
  ProcessOptions options;
  options.working_directory = workspace.path();
  ProcessOutput output = run_server(input, options);
  EXPECT_EQ(output.exit_status, 0) << "128 + signal when the server crashed";
  EXPECT_EQ(output.err, "");
  return output.out;
}

}  // namespace varnock::test
