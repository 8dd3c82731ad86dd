// The person at the terminal: varnock-review on a pseudo-terminal of its
// own, asked about each proposal in turn, answering there.
#include <gtest/gtest.h>
#include <poll.h>
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
    for (;;) {
      const std::size_t found = screen_.find(needle, seen_);
      if (found != std::string::npos) {
        seen_ = found + needle.size();
        return true;
      }
      pollfd fd{master_, POLLIN, 0};
      char chunk[4096];
      if (::poll(&fd, 1, 30000) <= 0) return false;
      const ssize_t count = ::read(master_, chunk, sizeof chunk);
      if (count <= 0) return false;
      screen_.append(chunk, static_cast<std::size_t>(count));
    }
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
  std::future<std::string> first, second, third;  // outlive the reviewer, which ends them
  TerminalReviewer reviewer(socket);
  ASSERT_TRUE(reviewer.wait_for("VARNOCK_SOCKET=" + socket)) << reviewer.screen();
  first = std::async(std::launch::async, [&] {
    return edit_through_server(socket, ws.path(), "first.txt", "one\n").out;
  });
  ASSERT_TRUE(reviewer.wait_for("Accept this edit to first.txt?")) << reviewer.screen();
  reviewer.type("maybe\n");
  ASSERT_TRUE(reviewer.wait_for("Please answer a (accept), r (reject) or h (history)"));
  reviewer.type("a\n");
  EXPECT_EQ(first.get(), accepted_response("first.txt"));
  EXPECT_EQ(ws.read("first.txt"), "one\n");
  second = std::async(std::launch::async, [&] {
    return edit_through_server(socket, ws.path(), "second.txt", "two\n").out;
  });
  ASSERT_TRUE(reviewer.wait_for("Accept this edit to second.txt?")) << reviewer.screen();
  reviewer.type("h\n");
  ASSERT_TRUE(reviewer.wait_for("Accepted (by terminal): first.txt is written."));
  reviewer.type("r\n");
  EXPECT_EQ(second.get(), rejected_response());
  EXPECT_FALSE(exists(ws.file("second.txt")));
  third = std::async(std::launch::async, [&] {
    return edit_through_server(socket, ws.path(), "third.txt", "three\n").out;
  });
  ASSERT_TRUE(reviewer.wait_for("Accept this edit to third.txt?")) << reviewer.screen();
  reviewer.signal(SIGTERM);
  EXPECT_TRUE(reviewer.wait_for("Withdrawn: third.txt (the reviewer stopped before an answer)"))
      << reviewer.screen();
  EXPECT_FALSE(exists(ws.file("third.txt")));
}

}  // namespace
}  // namespace varnock::test
