// varnock-review: its path rules and safe write tested on a scratch tree, and
// the program itself driven end to end, with real varnock-mcp servers and
// with the test playing a server on the socket.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "apply.h"
#include "messages.h"
#include "options.h"
#include "present.h"
#include "support/process.h"
#include "support/temp_dir.h"
#include "target.h"
#include "terminal.h"
#include "write_file_wire.h"

extern char** environ;

namespace varnock::test {
namespace {

using review::Proposal;

std::string real(const std::string& path) {
  char* resolved = ::realpath(path.c_str(), nullptr);
  std::string out = resolved ? resolved : path;
  std::free(resolved);
  return out;
}

mode_t mode_of(const std::string& path) {
  struct stat st {};
  ::lstat(path.c_str(), &st);
  return st.st_mode;
}

bool exists(const std::string& path) {
  struct stat st;
  return ::lstat(path.c_str(), &st) == 0;
}

// ---------------------------------------------------------------------------
// The path rules and the safe write, on a scratch tree:
//   ws/file.txt "old"   ws/sub/  ws/inner.txt -> file.txt   ws/out -> outside/
//   ws/leak.txt -> outside/secret.txt   ws/dangling.txt -> nowhere   ws/fifo
//   outside/secret.txt "secret"   wsx/ (a sibling sharing the prefix)

class ApplyTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = real(tree_.path());
    workspace_ = root_ + "/ws";
    outside_ = root_ + "/outside";
    tree_.write("ws/file.txt", "old");
    tree_.write("ws/sub/kept.txt", "kept");
    tree_.write("outside/secret.txt", "secret");
    tree_.write("wsx/a.txt", "x");
    ASSERT_EQ(::symlink("file.txt", (workspace_ + "/inner.txt").c_str()), 0);
    ASSERT_EQ(::symlink(outside_.c_str(), (workspace_ + "/out").c_str()), 0);
    ASSERT_EQ(::symlink((outside_ + "/secret.txt").c_str(), (workspace_ + "/leak.txt").c_str()), 0);
    ASSERT_EQ(::symlink("nowhere", (workspace_ + "/dangling.txt").c_str()), 0);
    ASSERT_EQ(::mkfifo((workspace_ + "/fifo").c_str(), 0600), 0);
  }

  Result<std::string> apply(const std::string& path, const std::string& before,
                            const std::string& after = "new") {
    return review::apply_replacement(workspace_, Proposal{"id", path, before, after, "why"});
  }

  TempDir tree_;
  std::string root_, workspace_, outside_;
};

TEST_F(ApplyTest, RefusedPathsChangeNothing) {
  struct Case {
    std::string path;
    std::string before;
    std::string failure;  // a part of the failure text
  };
  const std::vector<Case> cases = {
      {"", "", "empty"},
      {std::string("a\0b", 3), "", "NUL"},
      {"sub/../file.txt", "old", "\"..\""},
      {"../outside/new.txt", "", "\"..\""},
      {"sub/", "", "directory"},
      {"sub/.", "", "directory"},
      {"sub", "", "regular file"},
      {"fifo", "", "regular file"},
      {"file.txt/x", "", "not a directory"},
      {"out/new.txt", "", "outside"},
      {"out/deeper/new.txt", "", "outside"},
      {"out/secret.txt", "secret", "outside"},
      {"leak.txt", "secret", "outside"},
      {"dangling.txt", "", "symbolic link"},
      {"PLACEHOLDER_OUTSIDE_ABS", "", "outside"},
      {"PLACEHOLDER_SIBLING_ABS", "", "outside"},
      {"file.txt", "stale", "changed since the agent read it"},
      {"inner.txt", "", "changed since the agent read it"},
      {"sub/kept.txt", "", "changed since the agent read it"},
  };
  const std::string before = tree_.snapshot();
  for (Case c : cases) {
    if (c.path == "PLACEHOLDER_OUTSIDE_ABS") c.path = outside_ + "/new.txt";
    if (c.path == "PLACEHOLDER_SIBLING_ABS") c.path = root_ + "/wsx/new.txt";
    Result<std::string> applied = apply(c.path, c.before);
    ASSERT_FALSE(applied.ok()) << c.path;
    EXPECT_NE(applied.failure().find(c.failure), std::string::npos)
        << c.path << ": " << applied.failure();
  }
  EXPECT_EQ(tree_.snapshot(), before);
}

TEST_F(ApplyTest, AcceptedPathsAreWrittenWhereTheyResolve) {
  struct Case {
    std::string path;
    std::string before;
    std::string written;  // the file, relative to the workspace, that must hold the new text
  };
  const std::vector<Case> cases = {
      {"file.txt", "old", "file.txt"},
      {"./sub//fresh.txt", "", "sub/fresh.txt"},
      {"new/deeper/still/deep.txt", "", "new/deeper/still/deep.txt"},
      {"PLACEHOLDER_ABS", "", "abs.txt"},
  };
  for (Case c : cases) {
    if (c.path == "PLACEHOLDER_ABS") c.path = workspace_ + "/abs.txt";
    Result<std::string> applied = apply(c.path, c.before, "new " + c.written);
    ASSERT_TRUE(applied.ok()) << c.path << ": " << applied.failure();
    EXPECT_EQ(tree_.read("ws/" + c.written), "new " + c.written) << c.path;
  }
  EXPECT_EQ(tree_.read("outside/secret.txt"), "secret");
}

TEST_F(ApplyTest, SymbolicLinkInsideIsWrittenThroughAndKept) {
  ASSERT_TRUE(apply("inner.txt", "old", "through").ok());
  EXPECT_EQ(tree_.read("ws/file.txt"), "through");
  EXPECT_TRUE(S_ISLNK(mode_of(workspace_ + "/inner.txt")));
}

TEST_F(ApplyTest, ExistingModeIsKeptAndNoTemporaryFileRemains) {
  ASSERT_EQ(::chmod((workspace_ + "/file.txt").c_str(), 0751), 0);
  ASSERT_TRUE(apply("file.txt", "old", "#!/bin/sh\n").ok());
  EXPECT_EQ(mode_of(workspace_ + "/file.txt") & 07777, 0751u);
  EXPECT_EQ(tree_.read("ws/file.txt"), "#!/bin/sh\n");
  EXPECT_EQ(tree_.snapshot().find(".tmp"), std::string::npos);
}

TEST_F(ApplyTest, WorkspaceIsJudgedByWholeComponents) {
  EXPECT_TRUE(review::is_inside("/ws", "/ws"));
  EXPECT_TRUE(review::is_inside("/ws/a", "/ws"));
  EXPECT_FALSE(review::is_inside("/wsx/a", "/ws"));
  EXPECT_FALSE(review::is_inside("/w", "/ws"));
  EXPECT_FALSE(review::is_inside("/", "/ws"));
  EXPECT_TRUE(review::is_inside("/anything", "/"));
}

// ---------------------------------------------------------------------------
// Text for the person, the wire lines, the command line.

TEST(ReviewText, AgentTextCannotDriveTheTerminal) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"plain\ttext\n", "plain\ttext\n"},
      {"\x1b[2J", "\\x1b[2J"},
      {"crlf\r\n", "crlf\\r\n"},
      {std::string("nul\0", 4), "nul\\x00"},
      {"\x7f", "\\x7f"},
      {"\xc2\x9b"
       "31m",
       "\\u009b31m"},  // C1 control sequence introducer
      {"abc\xe2\x80\xae"
       "cba",
       "abc\\u202ecba"},  // right-to-left override
      {"\xff", "\\xff"},
      {"cut \xe2\x9c", "cut \\xe2\\x9c"},
      {"caf\xc3\xa9 \xe2\x9c\x93", "caf\xc3\xa9 \xe2\x9c\x93"},
  };
  for (const auto& [in, out] : cases) EXPECT_EQ(review::visible_text(in), out) << in;
  EXPECT_EQ(review::visible_name("a\nb\tc\x1b"), "a\\nb\\tc\\x1b");
}

TEST(ReviewMessages, DecisionLinesAreExact) {
  EXPECT_EQ(review::decision_line("edit-1-0", true),
            R"({"type":"decision","id":"edit-1-0","accepted":true})");
  EXPECT_EQ(review::decision_line("q\"b\\", false),
            R"({"type":"decision","id":"q\"b\\","accepted":false})");
}

TEST(ReviewMessages, ServerLinesAreRead) {
  auto hello = review::read_message(R"( {"pid":731,"role":"main","threadId":"t-9","type":"hello"})"
                                    "\r");
  ASSERT_TRUE(std::holds_alternative<review::Hello>(hello));
  EXPECT_EQ(std::get<review::Hello>(hello).pid, "731");
  EXPECT_EQ(std::get<review::Hello>(hello).thread_id, "t-9");

  auto proposal = review::read_message(
      R"({"id":"e-1","payload":{"after":"a","before":"b","explanationInMarkdown":"w","path":"p"},"type":"proposal"})");
  ASSERT_TRUE(std::holds_alternative<Proposal>(proposal));
  const Proposal& p = std::get<Proposal>(proposal);
  EXPECT_EQ(p.id + p.after + p.before + p.explanation + p.path, "e-1abwp");

  auto broken = review::read_message(R"({"id":"e-2","payload":{"path":"p"},"type":"proposal"})");
  ASSERT_TRUE(std::holds_alternative<review::Unusable>(broken));
  EXPECT_EQ(std::get<review::Unusable>(broken).reject_id, "e-2");

  for (const char* line : {"", "  ", "ok", "[]", R"({"type":"decision"})", "\xff"}) {
    auto other = review::read_message(line);
    ASSERT_TRUE(std::holds_alternative<review::Unusable>(other)) << line;
    EXPECT_FALSE(std::get<review::Unusable>(other).reject_id.has_value()) << line;
  }
}

TEST(ReviewOptions, CommandLine) {
  using review::AutoAnswer;
  auto parse = [](std::vector<std::string_view> args) { return review::parse_options(args); };
  auto all = parse({"--socket", "/s", "--workspace=/w", "--auto", "reject"});
  ASSERT_TRUE(all.ok()) << all.failure();
  EXPECT_EQ(all.value().socket_path, "/s");
  EXPECT_EQ(all.value().workspace, "/w");
  EXPECT_EQ(all.value().auto_answer, AutoAnswer::kReject);
  EXPECT_EQ(parse({"--auto=accept"}).value().auto_answer, AutoAnswer::kAccept);
  EXPECT_EQ(parse({}).value().auto_answer, AutoAnswer::kNone);
  EXPECT_TRUE(parse({"-h"}).value().show_help);
  for (auto bad : std::vector<std::vector<std::string_view>>{
           {"--auto", "maybe"}, {"--socket"}, {"--socket="}, {"--frobnicate"}, {"extra"}}) {
    EXPECT_FALSE(parse(bad).ok()) << bad[0];
  }
}

TEST(ReviewAnswers, TerminalWords) {
  using review::Answer;
  for (const char* yes : {"a", "accept", " Y ", "yes\r", "ACCEPT"}) {
    EXPECT_EQ(review::parse_answer(yes), Answer::kAccept) << yes;
  }
  for (const char* no : {"r", "reject", "n", "No"}) {
    EXPECT_EQ(review::parse_answer(no), Answer::kReject) << no;
  }
  for (const char* unclear : {"", "maybe", "ay"}) {
    EXPECT_EQ(review::parse_answer(unclear), Answer::kUnclear) << unclear;
  }
}

// ---------------------------------------------------------------------------
// The program.

// varnock-review in its own session (so it has no terminal), its standard
// output and error on pipes.
class ReviewerProcess {
 public:
  explicit ReviewerProcess(std::vector<std::string> args,
                           const std::map<std::string, std::string>& environment = {}) {
    args.insert(args.begin(), VARNOCK_REVIEW_BINARY);
    std::vector<std::string> env = environment_with(environment);
    std::vector<char*> argv = pointers(args);
    std::vector<char*> envp = pointers(env);
    int out[2], err[2];
    if (::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(err, O_CLOEXEC) != 0) std::abort();
    pid_ = ::fork();
    if (pid_ == 0) {
      ::setsid();
      const int null_fd = ::open("/dev/null", O_RDONLY);
      ::dup2(null_fd, 0);
      ::dup2(out[1], 1);
      ::dup2(err[1], 2);
      ::execve(argv[0], argv.data(), envp.data());
      ::_exit(127);
    }
    ::close(out[1]);
    ::close(err[1]);
    out_fd_ = out[0];
    err_fd_ = err[0];
  }

  ~ReviewerProcess() {
    if (pid_ > 0) stop(SIGTERM);
    ::close(out_fd_);
    ::close(err_fd_);
  }

  // The next line of standard output, without LF; nullopt at the end or
  // after a long wait.
  std::optional<std::string> read_line() {
    for (;;) {
      const std::size_t end = out_.find('\n', taken_);
      if (end != std::string::npos) {
        std::string line = out_.substr(taken_, end - taken_);
        taken_ = end + 1;
        return line;
      }
      if (!pump(30000)) return std::nullopt;
    }
  }

  // Reads lines until one contains `needle`; false if none comes.
  bool wait_for(std::string_view needle) {
    for (std::optional<std::string> line = read_line(); line; line = read_line()) {
      if (line->find(needle) != std::string::npos) return true;
    }
    return false;
  }

  // The socket path from the first line, "VARNOCK_SOCKET=<path>".
  std::string socket_path() {
    std::optional<std::string> line = read_line();
    const std::string prefix = "VARNOCK_SOCKET=";
    if (!line || line->rfind(prefix, 0) != 0) return "<no socket line: " + line.value_or("") + ">";
    return line->substr(prefix.size());
  }

  // Sends `signal` (none when 0) and waits; gives the exit code, or 128 +
  // the signal that ended it.
  int stop(int signal = SIGTERM) {
    if (signal != 0) ::kill(pid_, signal);
    while (open_pipes_ > 0) {
      if (pump(30000) || open_pipes_ == 0) continue;
      ADD_FAILURE() << "varnock-review did not end; killing it";
      ::kill(pid_, SIGKILL);
    }
    int status = 0;
    ::waitpid(pid_, &status, 0);
    pid_ = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }

  const std::string& out() const { return out_; }
  const std::string& err() const { return err_; }

 private:
  static std::vector<std::string> environment_with(const std::map<std::string, std::string>& set) {
    std::vector<std::string> env;
    for (char** entry = environ; *entry != nullptr; ++entry) {
      const std::string_view text(*entry);
      const std::string name(text.substr(0, text.find('=')));
      if (!set.contains(name) && name != "XDG_RUNTIME_DIR") env.emplace_back(text);
    }
    for (const auto& [name, value] : set) env.push_back(name + "=" + value);
    return env;
  }

  static std::vector<char*> pointers(std::vector<std::string>& strings) {
    std::vector<char*> out;
    for (std::string& s : strings) out.push_back(s.data());
    out.push_back(nullptr);
    return out;
  }

  // Moves whatever the pipes hold into the buffers; false when both have
  // ended or nothing came for `timeout_ms`.
  bool pump(int timeout_ms) {
    pollfd fds[2] = {{out_fd_, POLLIN, 0}, {err_fd_, POLLIN, 0}};
    if (open_pipes_ == 0 || ::poll(fds, 2, timeout_ms) <= 0) return false;
    std::string* buffers[2] = {&out_, &err_};
    for (int i = 0; i < 2; ++i) {
      if (fds[i].revents == 0) continue;
      char chunk[4096];
      const ssize_t count = ::read(fds[i].fd, chunk, sizeof chunk);
      if (count > 0) buffers[i]->append(chunk, static_cast<std::size_t>(count));
      if (count <= 0) {
        ::close(fds[i].fd);
        (i == 0 ? out_fd_ : err_fd_) = -1;
        --open_pipes_;
      }
    }
    return true;
  }

  pid_t pid_ = -1;
  int out_fd_ = -1;
  int err_fd_ = -1;
  int open_pipes_ = 2;
  std::string out_;
  std::string err_;
  std::size_t taken_ = 0;
};

// The test in the place of a server: a raw connection to the reviewer.
class RawServer {
 public:
  explicit RawServer(const std::string& socket_path) {
    fd_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, socket_path.c_str(), sizeof(address.sun_path) - 1);
    connected_ = ::connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  }
  ~RawServer() { close(); }

  bool connected() const { return connected_; }
  void send(const std::string& bytes) {
    EXPECT_EQ(::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL),
              static_cast<ssize_t>(bytes.size()));
  }
  // The next line the reviewer sends, with its LF; "" at the end or after a long wait.
  std::string read_line() {
    for (std::size_t end = buffer_.find('\n');; end = buffer_.find('\n')) {
      if (end != std::string::npos) {
        std::string line = buffer_.substr(0, end + 1);
        buffer_.erase(0, end + 1);
        return line;
      }
      pollfd fd{fd_, POLLIN, 0};
      char chunk[4096];
      if (::poll(&fd, 1, 30000) <= 0) return "";
      const ssize_t count = ::read(fd_, chunk, sizeof chunk);
      if (count <= 0) return "";
      buffer_.append(chunk, static_cast<std::size_t>(count));
    }
  }
  void close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }

 private:
  int fd_ = -1;
  bool connected_ = false;
  std::string buffer_;
};

std::string hello_line() {
  return R"({"pid":4242,"role":"main","threadId":"t-raw","type":"hello"})"
         "\n";
}

std::string raw_proposal(const std::string& id, const std::string& path, const std::string& before,
                         const std::string& after) {
  return proposal_line(id, path, before, after, "why") + "\n";
}

// A reviewer answering every proposal the same way, on a socket in a
// scratch directory, with a scratch workspace.
class ReviewerTest : public ::testing::Test {
 protected:
  void start(const char* answer) {
    reviewer_.emplace(std::vector<std::string>{"--socket", sockets_.file("review.sock"),
                                               "--workspace", workspace_.path(), "--auto", answer});
    socket_ = reviewer_->socket_path();
    ASSERT_EQ(socket_, sockets_.file("review.sock"));
  }

  // One write_file call through a real server whose working directory is `cwd`.
  ProcessOutput edit(const std::string& path, const std::string& content,
                     const std::string& cwd = "") {
    ProcessOptions options;
    options.environment = {{"VARNOCK_SOCKET", socket_}, {"VARNOCK_THREAD_ID", "t-e2e"}};
    options.working_directory = cwd.empty() ? workspace_.path() : cwd;
    return run_server(write_file_call(1, path, content, "- because"), options);
  }

  static std::string accepted(const std::string& path) {
    return result_response(1, receipt(path, kAcceptedMessage)) + "\n";
  }
  static std::string rejected() { return error_response(1, kRejected) + "\n"; }

  TempDir workspace_;
  TempDir sockets_;
  std::optional<ReviewerProcess> reviewer_;
  std::string socket_;
};

TEST_F(ReviewerTest, AcceptedEditsLandByteForByte) {
  start("accept");
  const std::vector<std::pair<std::string, std::string>> edits = {
      {"notes.txt", "hello\n"},
      {"notes.txt", "no final newline"},
      {"crlf.txt", "one\r\ntwo\r\n"},
      {"deep/new/dir/u.txt", "caf\xc3\xa9 \xe2\x9c\x93 \xe2\x80\xa8 tab\t"},
      {"nul.bin", std::string("a\0b", 3)},
  };
  for (const auto& [path, content] : edits) {
    ProcessOutput server = edit(path, content);
    EXPECT_EQ(server.out, accepted(path)) << path << "\n" << server.err;
    EXPECT_EQ(workspace_.read(path), content) << path;
  }
}

TEST_F(ReviewerTest, AcceptedEditKeepsTheFileMode) {
  workspace_.write("run.sh", "echo old\n");
  ASSERT_EQ(::chmod(workspace_.file("run.sh").c_str(), 0750), 0);
  start("accept");
  EXPECT_EQ(edit("run.sh", "echo new\n").out, accepted("run.sh"));
  EXPECT_EQ(workspace_.read("run.sh"), "echo new\n");
  EXPECT_EQ(mode_of(workspace_.file("run.sh")) & 07777, 0750u);
}

TEST_F(ReviewerTest, RejectedEditsLeaveTheWorkspaceAlone) {
  workspace_.write("notes.txt", "keep me\n");
  start("reject");
  const std::string before = workspace_.snapshot();
  EXPECT_EQ(edit("notes.txt", "replaced\n").out, rejected());
  EXPECT_EQ(edit("sub/new.txt", "fresh\n").out, rejected());
  EXPECT_EQ(workspace_.snapshot(), before);
  EXPECT_FALSE(exists(workspace_.file("sub")));
}

// The server reads its snapshot in one directory, the reviewer finds other
// content in its workspace: the agent's "before" no longer holds.
TEST_F(ReviewerTest, StaleBeforeIsRejected) {
  TempDir agent_view;
  agent_view.write("notes.txt", "what the agent read\n");
  workspace_.write("notes.txt", "changed since\n");
  workspace_.write("appeared.txt", "someone made me\n");
  start("accept");
  const std::string before = workspace_.snapshot();
  EXPECT_EQ(edit("notes.txt", "agent's version\n", agent_view.path()).out, rejected());
  EXPECT_EQ(edit("appeared.txt", "agent's version\n", agent_view.path()).out, rejected());
  EXPECT_EQ(workspace_.snapshot(), before);
  EXPECT_TRUE(reviewer_->wait_for("changed since the agent read it"));
}

// The server's own guard judges text only, so these reach the reviewer,
// whose "before" matches (the server read through the link): only the
// reviewer's resolution of the links stops them.
TEST_F(ReviewerTest, SymbolicLinksOutOfTheWorkspaceAreRejected) {
  TempDir outside;
  outside.write("secret.txt", "secret\n");
  ASSERT_EQ(::symlink(outside.path().c_str(), workspace_.file("out").c_str()), 0);
  ASSERT_EQ(::symlink(outside.file("secret.txt").c_str(), workspace_.file("leak.txt").c_str()), 0);
  start("accept");
  const std::string outside_before = outside.snapshot();
  EXPECT_EQ(edit("out/planted.txt", "x\n").out, rejected());
  EXPECT_EQ(edit("out/secret.txt", "overwritten\n").out, rejected());
  EXPECT_EQ(edit("leak.txt", "overwritten\n").out, rejected());
  EXPECT_EQ(outside.snapshot(), outside_before);
  EXPECT_TRUE(S_ISLNK(mode_of(workspace_.file("leak.txt"))));
}

TEST_F(ReviewerTest, TwoServersConnectedAtOnceAreBothServed) {
  start("accept");
  ProcessOptions options;
  options.environment = {{"VARNOCK_SOCKET", socket_}};
  options.working_directory = workspace_.path();
  ServerProcess first(options);
  ServerProcess second(options);
  ASSERT_TRUE(reviewer_->wait_for("connected."));
  ASSERT_TRUE(reviewer_->wait_for("connected."));
  second.write(write_file_call(1, "second.txt", "2\n", "from the second"));
  EXPECT_EQ(second.read_line().value_or("<none>") + "\n", accepted("second.txt"));
  first.write(write_file_call(1, "first.txt", "1\n", "from the first"));
  EXPECT_EQ(first.read_line().value_or("<none>") + "\n", accepted("first.txt"));
  EXPECT_EQ(first.finish(), 0);
  EXPECT_EQ(second.finish(), 0);
  EXPECT_EQ(workspace_.read("first.txt") + workspace_.read("second.txt"), "1\n2\n");
}

TEST_F(ReviewerTest, SurvivesServersThatMisbehaveOrLeaveMidLine) {
  start("accept");
  {
    RawServer rude(socket_);
    ASSERT_TRUE(rude.connected());
    rude.send(hello_line() + "not json\n[1,2]\n\xff\xfe\n" +
              R"({"type":"proposal","id":"half","payload":{"after":"x","be)");
  }
  ASSERT_TRUE(reviewer_->wait_for("in the middle of a line"));
  EXPECT_EQ(edit("after.txt", "still here\n").out, accepted("after.txt"));
}

// The test plays the server, so the decision bytes can be seen whole.
TEST_F(ReviewerTest, DecisionsGoBackOnTheirOwnConnection) {
  start("accept");
  RawServer one(socket_);
  RawServer two(socket_);
  one.send(hello_line());
  two.send(hello_line());
  const std::string odd_id = "e\"d\\it-\xe2\x9c\x93";
  two.send(raw_proposal(odd_id, "a.txt", "", "A"));
  EXPECT_EQ(two.read_line(), R"({"type":"decision","id":"e\"d\\it-)"
                             "\xe2\x9c\x93"
                             R"(","accepted":true})"
                             "\n");
  one.send(R"({"type":"proposal","id":"p-1","payload":{}})"
           "\n");
  EXPECT_EQ(one.read_line(), R"({"type":"decision","id":"p-1","accepted":false})"
                             "\n");
  one.send(raw_proposal("p-2", "a.txt", "wrong before", "B") +
           raw_proposal("p-3", "b.txt", "", "C"));
  EXPECT_EQ(one.read_line(), R"({"type":"decision","id":"p-2","accepted":false})"
                             "\n");
  EXPECT_EQ(one.read_line(), R"({"type":"decision","id":"p-3","accepted":true})"
                             "\n");
  EXPECT_EQ(workspace_.read("a.txt") + workspace_.read("b.txt"), "AC");
}

TEST_F(ReviewerTest, ShowsTheDiffAndExplanationAsPlainText) {
  workspace_.write("old.txt", "one\ntwo\n");
  start("accept");
  RawServer server(socket_);
  server.send(hello_line());
  server.send(proposal_line("p-1", "new.txt", "", "hello\n", "**adds** \x1b[2J") + "\n" +
              raw_proposal("p-2", "old.txt", "one\ntwo\n", "one\n2\n"));
  ASSERT_FALSE(server.read_line().empty());
  ASSERT_FALSE(server.read_line().empty());
  ASSERT_TRUE(reviewer_->wait_for("Accepted: old.txt"));
  const std::string& out = reviewer_->out();
  EXPECT_NE(out.find("pid 4242, thread \"t-raw\""), std::string::npos) << out;
  EXPECT_NE(out.find("new.txt  (new file)"), std::string::npos) << out;
  EXPECT_NE(out.find("--- /dev/null\n+++ b/new.txt\n@@ -0,0 +1 @@\n+hello\n"), std::string::npos)
      << out;
  EXPECT_NE(out.find("  **adds** \\x1b[2J\n"), std::string::npos) << out;
  EXPECT_NE(out.find("--- a/old.txt\n+++ b/old.txt\n@@ -1,2 +1,2 @@\n one\n-two\n+2\n"),
            std::string::npos)
      << out;
  EXPECT_EQ(out.find('\x1b'), std::string::npos) << "colour on a pipe";
}

// ---------------------------------------------------------------------------
// The socket file: per-user default, owner-only, never stolen, cleaned up.

TEST(ReviewerSocket, DefaultIsPerUserOwnerOnlyAndRemovedAtStop) {
  TempDir runtime;
  for (int signal : {SIGTERM, SIGINT}) {
    ReviewerProcess reviewer({"--auto", "reject"}, {{"XDG_RUNTIME_DIR", runtime.path()}});
    const std::string socket = reviewer.socket_path();
    ASSERT_EQ(socket, runtime.file("varnock-review.sock"));
    EXPECT_TRUE(S_ISSOCK(mode_of(socket)));
    EXPECT_EQ(mode_of(socket) & 0777, 0600u);
    EXPECT_EQ(reviewer.stop(signal), 0);
    EXPECT_FALSE(exists(socket)) << "after signal " << signal;
  }
}

TEST(ReviewerSocket, ALiveReviewerIsNotTakenOver) {
  TempDir dir;
  ReviewerProcess first({"--socket", dir.file("s"), "--auto", "reject"});
  ASSERT_EQ(first.socket_path(), dir.file("s"));
  ReviewerProcess second({"--socket", dir.file("s"), "--auto", "accept"});
  EXPECT_EQ(second.stop(0), 1);
  EXPECT_NE(second.err().find("another reviewer is already listening"), std::string::npos)
      << second.err();
  RawServer server(dir.file("s"));
  server.send(raw_proposal("p", "x.txt", "", "x"));
  EXPECT_EQ(server.read_line(), R"({"type":"decision","id":"p","accepted":false})"
                                "\n");
}

TEST(ReviewerSocket, AStaleSocketIsTakenOverButOtherFilesAreNot) {
  TempDir dir;
  {  // a socket file nobody listens on, as a killed reviewer leaves it
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, dir.file("stale").c_str(), sizeof(address.sun_path) - 1);
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ::close(fd);
  }
  ReviewerProcess taker({"--socket", dir.file("stale"), "--auto", "reject"});
  EXPECT_EQ(taker.socket_path(), dir.file("stale"));
  EXPECT_TRUE(RawServer(dir.file("stale")).connected());

  dir.write("plain", "not a socket");
  ReviewerProcess refused({"--socket", dir.file("plain"), "--auto", "reject"});
  EXPECT_EQ(refused.stop(0), 1);
  EXPECT_NE(refused.err().find("not a socket"), std::string::npos) << refused.err();
  EXPECT_EQ(dir.read("plain"), "not a socket");
}

TEST(ReviewerSocket, WithoutATerminalItAsksForAuto) {
  TempDir dir;
  ReviewerProcess reviewer({"--socket", dir.file("s")});
  EXPECT_EQ(reviewer.stop(0), 1);
  EXPECT_NE(reviewer.err().find("--auto"), std::string::npos) << reviewer.err();
  EXPECT_FALSE(exists(dir.file("s")));
}

}  // namespace
}  // namespace varnock::test
