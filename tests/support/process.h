// Runs a built program (varnock-mcp unless told otherwise) as a host would:
// pipes on its standard streams, a chosen environment and working directory.
// The one process harness of the tests.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/line_reader.h"

namespace varnock::test {

struct ProcessOptions {
  // The program and its arguments.
  std::string program = VARNOCK_MCP_BINARY;
  std::vector<std::string> arguments;
  // Environment of the child; nothing is inherited (PATH and the sanitizer
  // variables are passed through so sanitizer builds behave).
  std::map<std::string, std::string> environment;
  // Working directory of the child (the workspace); empty keeps the current one.
  std::string working_directory;
  // Standard descriptors to leave closed in the child (0, 1 and/or 2).
  std::vector<int> closed_descriptors;
  // Standard input is a new pseudo-terminal instead of a pipe: what is
  // written is typed at it (end the input with the EOF character, '\x04').
  bool terminal_input = false;
};

struct ProcessOutput {
  std::string out;       // everything written to standard output
  std::string err;       // everything written to standard error
  int exit_status = -1;  // exit code, or 128 + signal number when killed
};

// Starts the program, writes `input` to its standard input (while reading
// its output, so no pipe fills up), closes standard input, and waits for the
// exit (killing it after two minutes).
ProcessOutput run_server(const std::string& input, const ProcessOptions& options = {});

// Runs the program without a broker in a scratch workspace on `input`,
// expects exit status 0 (not 128 + a signal) and nothing on standard error,
// and gives its standard output.
std::string serve_without_broker(const std::string& input);

// An interactive run: write lines, read response lines one at a time.
class ServerProcess {
 public:
  explicit ServerProcess(const ProcessOptions& options = {});
  ~ServerProcess();  // closes stdin, waits (kills after 30 s)
  ServerProcess(const ServerProcess&) = delete;
  ServerProcess& operator=(const ServerProcess&) = delete;

  int pid() const { return pid_; }
  void write(const std::string& bytes);
  // The next line on standard output without its LF; nullopt at end of
  // output or after `timeout_ms`.
  std::optional<std::string> read_line(int timeout_ms = 30000);
  // Closes standard input and waits for the exit, killing the program when
  // its output has not ended after `timeout_ms`; returns the exit status.
  // Remaining standard output can then be read with read_line.
  int finish(int timeout_ms = 30000);
  // Everything the program has written to standard error so far (after
  // finish(): all of it).
  std::string err();
  // Standard output not yet read as lines (after finish(): all of it).
  std::string out();
  void close_stdout_reader();  // the host stops reading: closes our end
  // The child's peak resident set size in bytes (wait4's ru_maxrss), known
  // once finish() has returned; -1 before.
  long long peak_rss_bytes() const { return peak_rss_bytes_; }

 private:
  // One poll round: feeds standard input from `pending` (after `offset`)
  // while any is left, and gathers what output is ready. False when nothing
  // was ready within `timeout_ms`.
  bool pump(std::string_view pending, std::size_t& offset, int timeout_ms);

  bool terminal_input_;
  int pid_ = -1;
  int stdin_fd_ = -1;
  int stdout_fd_ = -1;
  int stderr_fd_ = -1;
  std::string out_buffer_;  // standard output not yet cut into lines
  LineSplitter out_lines_;
  std::string err_buffer_;
  int exit_status_ = -1;
  long long peak_rss_bytes_ = -1;
};

}  // namespace varnock::test
