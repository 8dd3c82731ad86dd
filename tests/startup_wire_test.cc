// Start-up as the host and the review broker see it: the connection to the
// broker, the hello line, and the diagnostics on standard error.

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <string>
#include <thread>

#include "support/broker.h"
#include "support/process.h"
#include "support/temp_dir.h"

namespace varnock::test {
namespace {

const std::string kInitialize = R"({"jsonrpc":"2.0","id":1,"method":"initialize"})";
const std::string kInitializeAnswer =
    R"({"id":1,"jsonrpc":"2.0","result":{"capabilities":{"tools":{}},)"
    R"("protocolVersion":"2025-06-18","serverInfo":{"name":"varnock-mcp","version":"0.4.11"}}})"
    "\n";

std::string hello(int pid, const std::string& thread_id_text) {
  return R"({"pid":)" + std::to_string(pid) + R"(,"role":"main","threadId":)" + thread_id_text +
         R"(,"type":"hello"})";
}

std::string connect_failed(const std::string& path, const std::string& description) {
  return "[varnock-mcp] broker connect failed " + path + ": " + description + "\n";
}

ProcessOptions with_socket(const TempDir& workspace, const std::string& socket_path) {
  ProcessOptions options;
  options.working_directory = workspace.path();
  options.environment["VARNOCK_SOCKET"] = socket_path;
  return options;
}

// A Unix-domain socket bound at `path` that does not listen: connecting to
// it is refused.
class BoundSocket {
 public:
  explicit BoundSocket(const std::string& path) : fd_(socket(AF_UNIX, SOCK_STREAM, 0)) {
    sockaddr_un address = {};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    bound_ = bind(fd_, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
  }
  ~BoundSocket() { close(fd_); }
  bool bound() const { return bound_; }

 private:
  int fd_;
  bool bound_ = false;
};

TEST(Startup, WithoutSocketVariableServesSilently) {
  TempDir workspace;
  ProcessOptions options;
  options.working_directory = workspace.path();
  ProcessOutput output = run_server(kInitialize + "\n", options);
  EXPECT_EQ(output.exit_status, 0);
  EXPECT_EQ(output.out, kInitializeAnswer);
  EXPECT_EQ(output.err, "");
}

TEST(Startup, ReportsEachKindOfConnectFailureOnceAndServes) {
  TempDir workspace;
  const std::string refusing = workspace.file("refusing.sock");
  BoundSocket bound(refusing);
  ASSERT_TRUE(bound.bound());
  const std::string missing = workspace.file("missing.sock");
  // 107 bytes and the terminating NUL fill the 108-byte path field exactly.
  const std::string longest = "/" + std::string(106, 'x');
  const std::string too_long = "/" + std::string(107, 'x');
  const struct {
    std::string path;
    std::string description;
  } cases[] = {
      {refusing, "Connection refused (os error 111)"},
      {missing, "No such file or directory (os error 2)"},
      {longest, "No such file or directory (os error 2)"},
      {too_long, "path must be shorter than SUN_LEN"},
      {"", "Invalid argument (os error 22)"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path);
    ProcessOutput output = run_server(kInitialize + "\n", with_socket(workspace, c.path));
    EXPECT_EQ(output.exit_status, 0);
    EXPECT_EQ(output.out, kInitializeAnswer);
    EXPECT_EQ(output.err, connect_failed(c.path, c.description));
  }
}

TEST(Startup, SocketPathThatIsNotUtf8MeansNoBroker) {
  TempDir workspace;
  TestBroker broker(workspace.file("broker\xff.sock"));
  ProcessOutput output =
      run_server(kInitialize + "\n", with_socket(workspace, broker.socket_path()));
  EXPECT_EQ(output.exit_status, 0);
  EXPECT_EQ(output.out, kInitializeAnswer);
  EXPECT_EQ(output.err, "");
  EXPECT_FALSE(broker.accept(0));
}

TEST(Startup, SendsHelloThenWritesTheConnectedDiagnostic) {
  TempDir workspace;
  TestBroker broker(workspace.file("broker.sock"));
  ServerProcess server(with_socket(workspace, broker.socket_path()));
  const std::string connected = "[varnock-mcp] connected broker " + broker.socket_path() + "\n";
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (server.err().empty() && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  EXPECT_EQ(server.err(), connected);
  // The diagnostic is written only once the hello has been sent, so the
  // hello is waiting on the socket already.
  ASSERT_TRUE(broker.accept(0));
  EXPECT_EQ(broker.read_line(0), hello(server.pid(), R"("")"));
  server.write(kInitialize + "\n");
  EXPECT_EQ(server.read_line(), kInitializeAnswer.substr(0, kInitializeAnswer.size() - 1));
  EXPECT_EQ(server.finish(), 0);
  // At the end the connection is closed with nothing more sent.
  EXPECT_EQ(broker.read_line(), std::nullopt);
  EXPECT_EQ(server.err(), connected);
}

TEST(Startup, HelloCarriesTheThreadId) {
  const struct {
    const char* name;
    const char* value;  // nullptr: unset
    std::string written;
  } cases[] = {
      {"unset", nullptr, R"("")"},
      {"empty", "", R"("")"},
      {"plain", "t-9", R"("t-9")"},
      {"needs escapes", "a\"b\\c\td\xc3\xa9",
       R"("a\"b\\c\td)"
       "\xc3\xa9\""},
      {"not UTF-8", "t\xff", R"("")"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir workspace;
    TestBroker broker(workspace.file("broker.sock"));
    ProcessOptions options = with_socket(workspace, broker.socket_path());
    if (c.value != nullptr) options.environment["VARNOCK_THREAD_ID"] = c.value;
    ServerProcess server(options);
    ASSERT_TRUE(broker.accept());
    EXPECT_EQ(broker.read_line(), hello(server.pid(), c.written));
    EXPECT_EQ(server.finish(), 0);
    EXPECT_EQ(broker.read_line(), std::nullopt);
  }
}

TEST(Startup, EmptyInputWithBrokerSendsHelloAndCloses) {
  TempDir workspace;
  TestBroker broker(workspace.file("broker.sock"));
  ProcessOutput output = run_server("", with_socket(workspace, broker.socket_path()));
  EXPECT_EQ(output.exit_status, 0);
  EXPECT_EQ(output.out, "");
  EXPECT_EQ(output.err, "[varnock-mcp] connected broker " + broker.socket_path() + "\n");
  ASSERT_TRUE(broker.accept());
  std::optional<std::string> first = broker.read_line();
  ASSERT_TRUE(first.has_value());
  EXPECT_EQ(first->rfind(R"({"pid":)", 0), 0u);
  EXPECT_EQ(broker.read_line(), std::nullopt);
}

TEST(Startup, ToolCallWithoutIdSendsNothingToTheBroker) {
  TempDir workspace;
  TestBroker broker(workspace.file("broker.sock"));
  const std::string notification =
      R"({"jsonrpc":"2.0","method":"tools/call","params":{"name":"write_file",)"
      R"("arguments":{"path":"a.txt","content":"x","explanationInMarkdown":"why"}}})";
  ProcessOutput output = run_server(notification + "\n" + kInitialize + "\n",
                                    with_socket(workspace, broker.socket_path()));
  EXPECT_EQ(output.exit_status, 0);
  EXPECT_EQ(output.out, kInitializeAnswer);
  ASSERT_TRUE(broker.accept());
  ASSERT_TRUE(broker.read_line().has_value());  // the hello
  EXPECT_EQ(broker.read_line(), std::nullopt);
}

// A closed standard descriptor is reopened before the broker socket is made,
// so the socket never takes its number: neither responses (1), diagnostics
// (2) nor input (0) travel over the broker connection.
TEST(Startup, BrokerSocketNeverTakesAStandardDescriptor) {
  for (int closed : {0, 1, 2}) {
    SCOPED_TRACE(closed);
    TempDir workspace;
    TestBroker broker(workspace.file("broker.sock"));
    ProcessOptions options = with_socket(workspace, broker.socket_path());
    options.closed_descriptors = {closed};
    ServerProcess server(options);
    ASSERT_TRUE(broker.accept());
    std::optional<std::string> first = broker.read_line();
    ASSERT_TRUE(first.has_value());
    EXPECT_EQ(*first, hello(server.pid(), R"("")"));
    if (closed != 0) server.write(kInitialize + "\n" + kInitialize + "\n");
    EXPECT_EQ(server.finish(), 0);
    EXPECT_EQ(broker.read_line(), std::nullopt);
  }
}

}  // namespace
}  // namespace varnock::test
