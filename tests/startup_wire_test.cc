// Start-up as the host, the review broker and a person at a terminal see
// it: the connection to the broker, the hello line, the diagnostics on
// standard error, closed standard descriptors, and a terminal for input.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <utility>
#include <vector>

#include "base/io.h"
#include "base/unix_socket.h"
#include "varnock/version.h"
#include "write_file_wire.h"

namespace varnock::test {
namespace {

const std::string kInitialize = R"({"jsonrpc":"2.0","id":1,"method":"initialize"})"
                                "\n";
const std::string kInitializeAnswer =
    R"({"id":1,"jsonrpc":"2.0","result":{"capabilities":{"tools":{}},)"
    R"("protocolVersion":"2025-06-18","serverInfo":{"name":"varnock-mcp","version":")" +
    std::string(kVersion) + "\"}}}\n";

ProcessOptions with_socket(const TempDir& workspace, const std::string& socket_path) {
  return {.environment = {{"VARNOCK_SOCKET", socket_path}}, .working_directory = workspace.path()};
}

// A socket bound at `path` that does not listen: connecting to it is refused.
UniqueFd bound_socket(const std::string& path) {
  UniqueFd fd(socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
  Result<UnixAddress> address = unix_address(path);
  if (!address.ok() || bind(fd.get(), address.value().get(), address.value().length) != 0) {
    return UniqueFd();
  }
  return fd;
}

// A socket bound at `path` and put to listening by a child that has become
// user 65534: the kernel gives a connecting process the credentials of
// whoever called listen(2). Invalid when that fails.
UniqueFd listener_of_user_65534(const std::string& path) {
  UniqueFd fd = bound_socket(path);
  if (!fd.valid()) return fd;
  const pid_t child = ::fork();
  if (child == 0) ::_exit(::seteuid(65534) == 0 && ::listen(fd.get(), 4) == 0 ? 0 : 1);
  int status = -1;
  if (child < 0 || ::waitpid(child, &status, 0) != child || status != 0) return UniqueFd();
  return fd;
}

// Each failure is reported once, with the system's text, and the server
// serves without a broker. No variable, or a path that is not UTF-8, means
// no broker at all, silently. Someone else may listen at the path first
// (only root can make such a listener here): the server connects, sees that
// the listener is another user's, and sends it nothing, neither the hello
// nor the proposal that would carry the file's present content.
TEST(Startup, ConnectFailuresAreReportedOnceAndServed) {
  TempDir workspace;
  workspace.write("notes.txt", "secret\n");
  const std::string refusing = workspace.file("refusing.sock");
  const UniqueFd bound = bound_socket(refusing);
  ASSERT_TRUE(bound.valid());
  TestBroker not_utf8(workspace.file("broker\xff.sock"));
  const std::string squatted = workspace.file("squatter.sock");
  const UniqueFd squatter = ::geteuid() == 0 ? listener_of_user_65534(squatted) : UniqueFd();
  // 107 bytes and the terminating NUL fill the 108-byte path field exactly.
  const std::string longest = "/" + std::string(106, 'x');
  std::vector<std::pair<std::string, std::string>> cases = {
      {"<unset>", ""},
      {refusing, "Connection refused (os error 111)"},
      {workspace.file("missing.sock"), "No such file or directory (os error 2)"},
      {longest, "No such file or directory (os error 2)"},
      {longest + "x", "path must be shorter than SUN_LEN"},
      {"", "Invalid argument (os error 22)"},
      {not_utf8.socket_path(), ""},
  };
  if (squatter.valid())
    cases.emplace_back(squatted, "the listener belongs to user 65534, not to you");
  for (const auto& [path, err] : cases) {
    SCOPED_TRACE(path);
    ProcessOptions options = with_socket(workspace, path);
    if (path == "<unset>") options.environment.clear();
    ProcessOutput output = run_server(write_file_call(1, "notes.txt", "public\n", "why"), options);
    EXPECT_EQ(output.exit_status, 0);
    EXPECT_EQ(
        output.out,
        result_response(1, receipt("notes.txt", "not written: no review broker is connected")) +
            "\n");
    EXPECT_EQ(output.err,
              err.empty() ? "" : "[varnock-mcp] broker connect failed " + path + ": " + err + "\n");
  }
  EXPECT_FALSE(not_utf8.accept(0));
  if (squatter.valid()) {
    UniqueFd connection(::accept4(squatter.get(), nullptr, nullptr, SOCK_CLOEXEC));
    char byte = 0;
    EXPECT_EQ(read_some(connection.get(), &byte, 1), 0) << "the squatter received bytes";
  }
}

// The hello goes out before the diagnostic that says so; at the end the
// connection closes with nothing more sent. A closed standard descriptor is
// reopened before the broker socket is made, so the socket never takes its
// number: neither input (0), responses (1) nor diagnostics (2) travel over
// the broker connection. The hello carries the thread id escaped, or ""
// when it is unset, empty or not UTF-8.
TEST(Startup, HelloThenDiagnosticWithClosedStandardDescriptors) {
  const struct {
    int closed;  // -1: none
    const char* thread_id;
    std::string written;
  } cases[] = {
      {-1, nullptr, R"("")"},
      {0, "a\"b\\c\td\xc3\xa9", "\"a\\\"b\\\\c\\td\xc3\xa9\""},
      {1, "t\xff", R"("")"},
      {2, "", R"("")"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.closed);
    TempDir workspace;
    TestBroker broker(workspace.file("broker.sock"));
    ProcessOptions options = with_socket(workspace, broker.socket_path());
    if (c.thread_id != nullptr) options.environment["VARNOCK_THREAD_ID"] = c.thread_id;
    if (c.closed >= 0) options.closed_descriptors = {c.closed};
    ServerProcess server(options);
    const std::string connected = "[varnock-mcp] connected broker " + broker.socket_path() + "\n";
    // Once the diagnostic is there, the hello must be waiting.
    const int wait = c.closed == 2 ? kPatienceMs : 0;
    EXPECT_TRUE(c.closed == 2 || poll_until([&] { return !server.err().empty(); }));
    ASSERT_TRUE(broker.accept(wait));
    EXPECT_EQ(broker.read_line(wait), hello(std::to_string(server.pid()), c.written));
    if (c.closed != 0) server.write(kInitialize + kInitialize);
    EXPECT_EQ(server.finish(), 0);
    EXPECT_EQ(server.out(),
              c.closed == 0 || c.closed == 1 ? "" : kInitializeAnswer + kInitializeAnswer);
    EXPECT_EQ(broker.read_line(), std::nullopt);
    EXPECT_EQ(server.err(), c.closed == 2 ? "" : connected);
  }
  TempDir workspace;
  EXPECT_EQ(run_server(kInitialize,
                       {.working_directory = workspace.path(), .closed_descriptors = {0, 1, 2}})
                .exit_status,
            0);
}

// A person who starts varnock-mcp at a terminal is told, in one line on
// standard error, what the program expects; it then serves as always.
TEST(Startup, StartedByHandSaysInOneLineWhatItIsAndStillServes) {
  ServerProcess server({.terminal = true});
  server.write(kInitialize + "\x04");
  EXPECT_EQ(server.finish(), 0);
  EXPECT_EQ(server.err(),
            "[varnock-mcp] this is an MCP server that an MCP host starts: it reads JSON-RPC "
            "messages on standard input, one per line (manual: man varnock-mcp)\n");
  // The screen shows what was typed (echoed by the terminal), then the answer.
  EXPECT_NE(server.out().find(R"({"id":1,"jsonrpc":"2.0","result":)"), std::string::npos);
}

}  // namespace
}  // namespace varnock::test
