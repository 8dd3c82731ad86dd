// Driving the built varnock-review: the program on pipes in its own session
// (no terminal), raw connections (support/broker's Connection) in the place
// of a server, and real varnock-mcp servers in chosen directories.
#pragma once

#include <signal.h>
#include <sys/types.h>

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "support/broker.h"
#include "support/process.h"
#include "support/temp_dir.h"
#include "write_file_wire.h"

namespace varnock::test {

// varnock-review with `args`, run through `prefix` when not empty (e.g.
// {"prlimit", ...}), in an environment of PATH, `environment` and
// XDG_STATE_HOME (where its journal goes) a scratch directory. Its output
// goes to files, so it never waits for the test.
class ReviewerProcess {
 public:
  explicit ReviewerProcess(std::vector<std::string> args,
                           const std::map<std::string, std::string>& environment = {},
                           std::vector<std::string> prefix = {});
  ~ReviewerProcess() { process_.signal(SIGTERM); }

  // Reads output until `needle`; false if it does not come in `timeout_ms`.
  bool wait_for(std::string_view needle, int timeout_ms = kPatienceMs);
  // The socket path from the first line, "VARNOCK_SOCKET=<path>".
  std::string socket_path();
  // With --web: the desk's address from "Review desk: <url>", which comes
  // before the socket's line.
  std::string desk_url();
  // Sends `signal` (none when 0) and waits; gives the exit code, or 128 +
  // the signal that ended it.
  int stop(int signal = SIGTERM);
  int pid() const { return process_.pid(); }
  // Everything written so far to standard output and error.
  std::string out() const { return files_.read("out"); }
  std::string err() const { return files_.read("err"); }

 private:
  // The rest of the line that starts with `start`, read through.
  std::string rest_of_line(std::string_view start);

  TempDir files_;  // its standard output and error ("out", "err"), and its state
  ServerProcess process_;
  std::size_t read_ = 0;  // bytes of "out" that wait_for has read through
};

// One request to the desk at `url` (as desk_url gives it), with its token,
// Host and Origin, on a connection of its own: "<status> <body>", e.g.
// "200 {"decided":true}", or "no answer".
std::string desk_request(const std::string& url, const std::string& method, const std::string& path,
                         const std::string& body = "");
// Answers proposal `number` on the desk as its page does: fetches its view
// and waits until it could have been read first. Gives desk_request's reply.
std::string desk_answer(const std::string& url, int number, const std::string& word);

std::string hello_line(std::string_view pid = "4242");
// A proposal line with its LF.
std::string raw_proposal(const std::string& id, const std::string& path, const std::string& before,
                         const std::string& after, const std::string& explanation = "why");

// One write_file call through a real varnock-mcp working in `cwd`; gives
// its output (the response line).
ProcessOutput edit_through_server(const std::string& socket, const std::string& cwd,
                                  const std::string& path, const std::string& content);
std::string accepted_response(const std::string& path);
std::string rejected_response();

// The real path of `path` (so /tmp links do not confuse comparisons).
std::string real_path(const std::string& path);
bool exists(const std::string& path);
// Waits until a socket at `path` listens: the moment a server can connect,
// also for a program whose standard output tells nothing.
bool wait_until_listening(const std::string& path);
mode_t mode_of(const std::string& path);

// A scratch workspace and socket directory, and a reviewer on that socket.
struct ReviewerFixture {
  TempDir root;  // workspaces live here
  TempDir sockets;
  std::string socket = sockets.file("review.sock");
  std::optional<ReviewerProcess> reviewer;

  // Starts varnock-review --auto `answer` with `extra` options and
  // `environment`; false (with a test failure) when it did not announce the
  // socket.
  bool start(const char* answer, std::vector<std::string> extra = {},
             const std::map<std::string, std::string>& environment = {});
  // edit_through_server with a server working in root's `directory`; gives
  // its response line.
  std::string edit(const std::string& directory, const std::string& path,
                   const std::string& content) const {
    return edit_through_server(socket, root.file(directory), path, content).out;
  }
};

}  // namespace varnock::test
