// Runs a built program (varnock-mcp unless told otherwise) as a host, a
// service manager or a person at a terminal would: a chosen environment and
// working directory, and pipes, files or a pseudo-terminal on its standard
// streams. The one process harness of the tests.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "support/patience.h"

namespace varnock::test {

struct ProcessOptions {
  // The program and its arguments; a program without a slash is looked up
  // in PATH.
  std::string program = VARNOCK_MCP_BINARY;
  std::vector<std::string> arguments{};
  // Environment of the child; nothing is inherited (PATH and the sanitizer
  // variables are passed through so sanitizer builds behave).
  std::map<std::string, std::string> environment{};
  // Working directory of the child (the workspace); empty keeps the current one.
  std::string working_directory{};
  // Standard descriptors to leave closed in the child (0, 1 and/or 2).
  std::vector<int> closed_descriptors{};
  // Standard input and output are a new pseudo-terminal, the program's
  // controlling terminal: what the test writes is typed there (end the
  // input with the EOF character, '\x04'), and what it reads is the screen.
  bool terminal = false;
  // When set, standard output and error go to the files "out" and "err" in
  // this directory, so that the program never waits for the test to read
  // (read_line, wait_for, out and err then have nothing to give).
  std::string output_directory{};
};

struct ProcessOutput {
  std::string out;       // everything written to standard output
  std::string err;       // everything written to standard error
  int exit_status = -1;  // exit code, or 128 + signal number when killed
};

// Starts the program, writes `input` to its standard input (while reading
// its output, so no pipe fills up), closes standard input, and waits for the
// exit (killing it after kPatienceMs).
ProcessOutput run_server(const std::string& input, const ProcessOptions& options = {});

// A running program: write to it, read its output as it comes, signal it,
// and wait for its end. The program runs in a session of its own.
class ServerProcess {
 public:
  explicit ServerProcess(const ProcessOptions& options = {});
  ~ServerProcess();  // finish(): closes stdin, waits (kills after kPatienceMs)
  ServerProcess(const ServerProcess&) = delete;
  ServerProcess& operator=(const ServerProcess&) = delete;

  int pid() const { return pid_; }
  void write(const std::string& bytes);
  void signal(int number);
  // The next line on standard output without its LF; nullopt at end of
  // output or after `timeout_ms`.
  std::optional<std::string> read_line(int timeout_ms = kPatienceMs);
  // Waits until standard output, after what was read before, holds
  // `needle`, and reads through it; false at the end or after `timeout_ms`.
  bool wait_for(std::string_view needle, int timeout_ms = kPatienceMs);
  // Closes standard input (unless it is a terminal) and waits for the exit,
  // killing the program when it has not ended after `timeout_ms`; gives the
  // exit status. Remaining standard output can then be read with read_line.
  int finish(int timeout_ms = kPatienceMs);
  // Everything the program has written to standard error so far (after
  // finish(): all of it).
  std::string err();
  // Standard output not yet read (after finish(): all that is left).
  std::string out();
  void close_stdout_reader();  // the host stops reading: closes our end
  // The child's peak resident set size in bytes (wait4's ru_maxrss), known
  // once finish() has returned; -1 before.
  long long peak_rss_bytes() const { return peak_rss_bytes_; }

 private:
  // Feeds standard input from `pending` (after `offset`) while any is left,
  // and gathers the output there is, waiting up to `timeout_ms` for some.
  // False when nothing came and nothing more will, or the time ran out.
  bool pump(std::string_view pending, std::size_t& offset, int timeout_ms);
  // Reaps the program if it has ended (waiting up to `timeout_ms`); true
  // once it has.
  bool reaped(int timeout_ms);

  ProcessOptions options_;
  int pid_ = -1;
  int stdin_fd_ = -1;
  int stdout_fd_ = -1;
  int stderr_fd_ = -1;
  std::string out_;          // standard output read so far and not handed out
  std::size_t scanned_ = 0;  // bytes of out_ known to hold no LF
  std::string err_;
  int exit_status_ = -1;
  long long peak_rss_bytes_ = -1;
};

}  // namespace varnock::test
