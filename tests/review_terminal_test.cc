// The person at the terminal: varnock-review on a pseudo-terminal of its
// own, asked about each proposal in turn, answering there.
#include <gtest/gtest.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <future>

#include "review_harness.h"

namespace varnock::test {
namespace {

// varnock-review whose controlling terminal is a pseudo-terminal the test
// holds the other side of.
class TerminalReviewer {
 public:
  explicit TerminalReviewer(const std::string& socket) {
    pid_ = ::forkpty(&master_, nullptr, nullptr, nullptr);
    if (pid_ == 0) {
      ::execl(VARNOCK_REVIEW_BINARY, VARNOCK_REVIEW_BINARY, "--socket", socket.c_str(),
              "--no-journal", static_cast<char*>(nullptr));
      ::_exit(127);
    }
  }
  ~TerminalReviewer() {
    ::kill(pid_, SIGTERM);
    ::waitpid(pid_, nullptr, 0);
    ::close(master_);
  }

  // Reads the screen until `needle` appears after what was read before.
  bool wait_for(const std::string& needle) {
    std::size_t found;
    while ((found = screen_.find(needle, seen_)) == std::string::npos) {
      if (read_more(master_, screen_, 30000) <= 0) return false;
    }
    seen_ = found + needle.size();
    return true;
  }
  void type(const std::string& text) {
    ASSERT_EQ(::write(master_, text.data(), text.size()), static_cast<ssize_t>(text.size()));
  }
  void signal(int number) { ::kill(pid_, number); }
  const std::string& screen() const { return screen_; }

 private:
  pid_t pid_ = -1;
  int master_ = -1;
  std::string screen_;
  std::size_t seen_ = 0;
};

TEST(ReviewTerminal, ThePersonAnswersEachProposalInTurn) {
  TempDir sockets, ws;
  const std::string socket = sockets.file("s");
  std::future<std::string> edits[3];  // outlive the reviewer, which ends them
  const auto edit = [&](const std::string& path) {
    return std::async(std::launch::async,
                      [&, path] { return edit_through_server(socket, ws.path(), path, path).out; });
  };
  TerminalReviewer reviewer(socket);
  ASSERT_TRUE(reviewer.wait_for("VARNOCK_SOCKET=" + socket)) << reviewer.screen();
  edits[0] = edit("first.txt");
  ASSERT_TRUE(reviewer.wait_for("Accept this edit to first.txt?")) << reviewer.screen();
  reviewer.type("maybe\n");
  ASSERT_TRUE(reviewer.wait_for("Please answer a (accept), r (reject) or h (history)"));
  reviewer.type("a\n");
  EXPECT_EQ(edits[0].get(), accepted_response("first.txt"));
  EXPECT_EQ(ws.read("first.txt"), "first.txt");
  edits[1] = edit("second.txt");
  ASSERT_TRUE(reviewer.wait_for("Accept this edit to second.txt?")) << reviewer.screen();
  reviewer.type("h\n");
  ASSERT_TRUE(reviewer.wait_for("Accepted (by terminal): first.txt is written."));
  reviewer.type("r\n");
  EXPECT_EQ(edits[1].get(), rejected_response());
  EXPECT_FALSE(exists(ws.file("second.txt")));
  edits[2] = edit("third.txt");
  ASSERT_TRUE(reviewer.wait_for("Accept this edit to third.txt?")) << reviewer.screen();
  reviewer.signal(SIGTERM);
  EXPECT_TRUE(reviewer.wait_for("Withdrawn: third.txt (the reviewer stopped before an answer)"))
      << reviewer.screen();
  EXPECT_FALSE(exists(ws.file("third.txt")));
}

}  // namespace
}  // namespace varnock::test
