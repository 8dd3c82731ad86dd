// varnock-review against hostile local clients and a hostile file system:
// a directory swapped for a link during applies, clients that never read,
// lines that forge the screen or hide text, lines and paths without bound,
// silent clients, and the descriptor limit. Label: stress.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <fstream>
#include <functional>
#include <mutex>
#include <random>
#include <thread>

#include "review_harness.h"
#include "support/vectors.h"

namespace varnock::test {
namespace {

// `prefix` followed by `number` in decimal.
std::string numbered(std::string prefix, int number) {
  return prefix.append(std::to_string(number));
}

// Overwrites and new files through a directory that another thread keeps
// swapping with a link to outside: whatever is accepted is written inside,
// and nothing outside changes.
TEST(ReviewHostile, SwappingADirectoryForALinkWritesNothingOutside) {
  ReviewerFixture fixture;
  ASSERT_TRUE(fixture.start("accept"));
  TempDir outside;
  const std::string ws = fixture.root.path();
  constexpr int kOverwrites = 400;
  for (int i = 0; i < kOverwrites; ++i) {
    fixture.root.write(numbered("a/k", i), "o");
    outside.write(numbered("k", i), "o");
  }
  ASSERT_EQ(::symlink(outside.path().c_str(), (ws + "/b").c_str()), 0);
  const std::string outside_before = outside.snapshot();
  ScopedDirectory inside(ws);
  Connection server = Connection::to(fixture.socket);
  ASSERT_TRUE(server.send(hello_line()));
  int accepted = 0;
  std::atomic<bool> stop{false};
  const auto swap = [a = ws + "/a", b = ws + "/b"] {
    ::renameat2(AT_FDCWD, a.c_str(), AT_FDCWD, b.c_str(), RENAME_EXCHANGE);
  };
  std::mutex calm;           // no swap while the test holds it
  std::thread swapper([&] {  // each swap atomic, with a pause that lets some applies through
    while (!stop) {
      {
        const std::lock_guard hold(calm);
        swap();
      }
      std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
  });
  for (int i = 0; i < 20000 && accepted < 500; ++i) {  // under load most may be refused
    const bool overwrite = i < kOverwrites;
    const std::string name = numbered(overwrite ? "a/k" : "a/n", i);
    const std::string id = numbered("p", i);
    // Every eighth is made with the directory in place and no swap meanwhile,
    // so that applies are accepted however slowly the reviewer runs against
    // the swapper; the others race it.
    std::unique_lock hold(calm, std::defer_lock);
    if (i % 8 == 0) {
      hold.lock();
      if (S_ISLNK(mode_of(ws + "/a"))) swap();
    }
    ASSERT_TRUE(server.send(raw_proposal(id, name, overwrite ? "o" : "", "written")));
    const std::string line = server.read_line().value_or("<none>");
    ASSERT_TRUE(line == decision(id, true) || line == decision(id, false)) << line;
    accepted += line == decision(id, true) ? 1 : 0;
  }
  stop = true;
  swapper.join();
  EXPECT_GE(accepted, 500);
  EXPECT_EQ(outside.snapshot(), outside_before);
  const std::string inside_now = fixture.root.snapshot();
  int written = 0;
  for (std::size_t at = 0; (at = inside_now.find("written", at)) != std::string::npos; ++at) {
    ++written;
  }
  EXPECT_EQ(written, accepted);
}

// A client that floods proposals and never reads its decisions holds up
// nobody, is closed once more than a few of its proposals are under way,
// and a stop signal still stops the reviewer and removes its socket.
TEST(ReviewHostile, AClientThatNeverReadsDelaysNoOne) {
  ReviewerFixture fixture;
  ASSERT_TRUE(fixture.start("accept"));
  fixture.root.write("ws/.keep", "");
  Connection silent = Connection::to(fixture.socket);
  ASSERT_TRUE(silent.send(hello_line()));
  std::string flood;
  for (int i = 0; i < 2000; ++i) flood += raw_proposal(numbered("p", i), "/nowhere", "", "x");
  std::thread flooder([&] {
    for (int i = 0; i < 20 && silent.send(flood); ++i) {
    }
  });
  EXPECT_EQ(fixture.edit("ws", "fine.txt", "fine\n"), accepted_response("fine.txt"));
  EXPECT_TRUE(fixture.reviewer->wait_for("it sent more than 4 proposals at once"));
  flooder.join();
  Connection second = Connection::to(fixture.socket);
  ASSERT_TRUE(second.send(hello_line()));
  EXPECT_EQ(fixture.reviewer->stop(SIGTERM), 0);
  EXPECT_FALSE(exists(fixture.socket));
}

// `lines` lines of "x" or "y" drawn at random: two of them differ
// everywhere in small pieces, the worst case for diff.
std::string scattered_lines(std::size_t lines, unsigned seed) {
  std::mt19937 random(seed);
  std::string text;
  for (std::size_t i = 0; i < lines; ++i) text += random() % 2 ? "x\n" : "y\n";
  return text;
}

// A proposal of "worst.txt" whose comparison takes long: 4 MiB of lines
// scattered_lines changes everywhere.
std::string slow_diff(const TempDir& ws) {
  const std::string before = scattered_lines(2 << 20, 1);
  ws.write("worst.txt", before);
  return raw_proposal("slow", "worst.txt", before, scattered_lines(2 << 20, 2));
}

// varnock-review accepting every proposal with the desk on, so that every
// change is compared; its servers work in `ws`, the current directory.
struct AcceptingWithDesk {
  TempDir sockets, ws;
  ReviewerProcess reviewer{{"--socket", sockets.file("s"), "--auto", "accept", "--web"}};
  std::string url = reviewer.desk_url();
  std::string socket = reviewer.socket_path();
  ScopedDirectory inside{ws.path()};
};

// While one server's proposal is slow to prepare (each shape in turn), a
// later one of the same server and another server are answered and the
// desk tells its state; the slow one is decided too, in the end. (A file
// of 3 GiB is review_servers_test's.)
TEST(ReviewHostile, ASlowProposalHoldsUpNoOtherServerNorTheDesk) {
  const auto many_at_once = [](const TempDir&) {
    std::string lines;
    for (int i = 0; i < 2; ++i) {  // with the two below, the most one server may have
      lines += raw_proposal(numbered("many", i), numbered("m", i), "", std::string(16 << 20, 'm'));
    }
    return lines + raw_proposal("slow", "slow.txt", "", std::string(16 << 20, 's'));
  };
  const std::pair<const char*, std::function<std::string(const TempDir&)>> shapes[] = {
      {"a comparison that takes long", slow_diff},
      {"a server with the most proposals under way", many_at_once}};
  for (const auto& [name, slow_lines] : shapes) {
    SCOPED_TRACE(name);
    AcceptingWithDesk fixture;
    const TempDir& ws = fixture.ws;
    const std::string& socket = fixture.socket;
    Connection slow = Connection::to(socket);
    std::thread sender([&, lines = slow_lines(ws)] {
      slow.send(hello_line() + lines + raw_proposal("after", "after.txt", "", "a"));
    });
    // Once one of "slow" and "after" is decided, the slow proposal has
    // been read: it is under way, or decided. ("many" ones are skipped.)
    std::vector<std::string> decided;
    const auto decide_next = [&] {
      std::string line;
      do {
        line = slow.read_line().value_or("<none>");
      } while (line.find("\"many") != std::string::npos);
      decided.push_back(line);
    };
    decide_next();
    Connection other = Connection::to(socket);
    ASSERT_TRUE(other.send(hello_line() + raw_proposal("other", "other.txt", "", "o")));
    EXPECT_EQ(other.read_line(), decision("other", true));
    EXPECT_TRUE(desk_request(fixture.url, "GET", "/api/state").starts_with("200 "));
    sender.join();
    decide_next();
    std::sort(decided.begin(), decided.end());
    EXPECT_EQ(decided, (std::vector<std::string>{decision("after", true), decision("slow", true)}))
        << fixture.reviewer.out().substr(0, 4000);
  }
}

// The reviewer's resident memory now, in bytes (VmRSS).
std::size_t resident_bytes(int pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  for (std::string line; std::getline(status, line);) {
    if (line.starts_with("VmRSS:")) return std::stoul(line.substr(6)) * 1024;
  }
  return 0;
}

// 10 MiB of lines of one letter; every tenth line's letter is `version`'s.
std::string ten_mebibytes(int version) {
  std::string text;
  for (std::size_t line = 0; text.size() < (std::size_t{10} << 20); ++line) {
    const std::size_t letter = line % 10 == 0 ? static_cast<std::size_t>(version) : line;
    text.append(99, static_cast<char>('a' + letter % 26)).append("\n");
  }
  return text;
}

// Memory taken for large proposals (their texts, runs, views and diffs) is
// given back once they are decided.
TEST(ReviewHostile, MemoryComesBackAfterLargeProposalsAreDecided) {
  AcceptingWithDesk fixture;
  const int pid = fixture.reviewer.pid();
  Connection server = Connection::to(fixture.socket);
  ASSERT_TRUE(server.send(hello_line() + raw_proposal("warm", "f.txt", "", "warm\n")));
  ASSERT_EQ(server.read_line(), decision("warm", true));
  const std::size_t idle = resident_bytes(pid);
  std::string before = "warm\n";
  for (int i = 0; i < 10; ++i) {
    const std::string after = ten_mebibytes(i);
    ASSERT_TRUE(server.send(raw_proposal(numbered("p", i), "f.txt", before, after)));
    ASSERT_EQ(server.read_line(), decision(numbered("p", i), true));
    before = after;
  }
  EXPECT_LT(resident_bytes(pid), idle + (std::size_t{64} << 20));
}

// Lines a client may send, what the person must see, and what must never
// appear as a line of its own: tests/vectors/review/attacks.tsv. The pid
// shown is the kernel's, with the one the hello claims beside it. (The desk
// is on so that the terminal shows the diff too.)
TEST(ReviewHostile, AttackLinesAreShownEscapedAndCannotForgeTheScreen) {
  for (const VectorRecord& attack : read_vectors("review/attacks.tsv")) {
    SCOPED_TRACE(attack.columns.at(0));
    ReviewerFixture fixture;
    ASSERT_TRUE(fixture.start("accept", {"--web"}));
    ScopedDirectory inside(fixture.root.path());
    Connection client = Connection::to(fixture.socket);
    ASSERT_TRUE(client.send(hello_line() + unescape(attack.columns.at(1)) + "\n"));
    EXPECT_TRUE(fixture.reviewer->wait_for(unescape(attack.columns.at(2))))
        << fixture.reviewer->out();
    fixture.reviewer->stop();
    const std::string out = fixture.reviewer->out();
    EXPECT_NE(out.find(numbered("(pid ", ::getpid()) + ", hello said pid 4242"), out.npos) << out;
    const std::string never = unescape(attack.columns.at(3));
    if (!never.empty()) {
      EXPECT_EQ(out.find(std::string("\n").append(never).append("\n")), std::string::npos) << out;
    }
  }
}

// Bytes no line may exceed, and bytes all connections together may hold.
TEST(ReviewHostile, LinesOverALimitAreDroppedAndTheirConnectionClosed) {
  ReviewerFixture fixture;
  ASSERT_TRUE(fixture.start("reject", {"--max-line", "64K", "--memory-budget", "256K"}));
  Connection long_line = Connection::to(fixture.socket);
  ASSERT_TRUE(long_line.send(hello_line()));
  long_line.send(std::string(100 << 10, 'x'));
  EXPECT_TRUE(long_line.closed_by_peer());
  EXPECT_TRUE(fixture.reviewer->wait_for("a line over the limit of 64 KiB was dropped"));
  Connection partial = Connection::to(fixture.socket);
  ASSERT_TRUE(partial.send(hello_line() + "{\"id\""));
  partial.close();
  EXPECT_TRUE(fixture.reviewer->wait_for("it left in the middle of a line (5 bytes dropped)"));
  // Four unfinished lines of 60 KiB fit in the budget and a fifth does not,
  // in whatever order the reviewer reads them: one is dropped, four stay.
  std::vector<std::unique_ptr<Connection>> holders;
  for (int i = 0; i < 5; ++i) {
    holders.push_back(std::make_unique<Connection>(Connection::to(fixture.socket)));
    holders.back()->send(hello_line() + std::string(60 << 10, 'y'));
  }
  EXPECT_TRUE(fixture.reviewer->wait_for("memory budget"));
  Connection after = Connection::to(fixture.socket);
  ASSERT_TRUE(after.send(hello_line() + raw_proposal("p", "/x", "", "y")));
  EXPECT_EQ(after.read_line(), decision("p", false));
}

// A long line is parsed only with room in the budget for the copies its
// parse makes: a line of 5 MiB needs 10, one of 3 MiB 6.
TEST(ReviewHostile, ALongLineIsParsedOnlyWithinTheBudget) {
  ReviewerFixture fixture;
  ASSERT_TRUE(fixture.start("reject", {"--memory-budget", "8M"}));
  Connection client = Connection::to(fixture.socket);
  ASSERT_TRUE(client.send(hello_line() + raw_proposal("p", "/x", "", std::string(5 << 20, 'y'))));
  EXPECT_TRUE(client.closed_by_peer());
  EXPECT_TRUE(
      fixture.reviewer->wait_for("memory budget of 8192 KiB is used up; a line was dropped"));
  Connection next = Connection::to(fixture.socket);
  ASSERT_TRUE(next.send(hello_line() + raw_proposal("q", "/x", "", std::string(3 << 20, 'y'))));
  EXPECT_EQ(next.read_line(), decision("q", false));
}

TEST(ReviewHostile, AConnectionWithoutHelloIsClosedAfterTenSeconds) {
  ReviewerFixture fixture;
  ASSERT_TRUE(fixture.start("reject"));
  Connection silent = Connection::to(fixture.socket);
  EXPECT_TRUE(silent.closed_by_peer());
  EXPECT_TRUE(fixture.reviewer->wait_for("it sent no hello within 10 s"));
}

// At the descriptor limit the connected servers are served, and waiting
// ones are accepted as soon as others leave.
TEST(ReviewHostile, AtTheDescriptorLimitItServesWhatItHasAndAcceptsLater) {
  TempDir sockets;
  const std::string socket = sockets.file("s");
  ReviewerProcess reviewer({"--socket", socket, "--auto", "reject"}, {},
                           {"prlimit", "--nofile=64:64"});
  ASSERT_EQ(reviewer.socket_path(), socket) << reviewer.err();
  std::vector<std::unique_ptr<Connection>> clients;
  for (int i = 0; i < 24; ++i) {
    clients.push_back(std::make_unique<Connection>(Connection::to(socket)));
    ASSERT_TRUE(clients.back()->send(hello_line() + raw_proposal("p", "/x", "", "y")));
  }
  for (int i = 0; i < 24; ++i) {  // from the ninth on, each waits for an earlier one to leave
    if (i >= 8) clients[i - 8]->close();
    EXPECT_EQ(clients[i]->read_line(), decision("p", false)) << "client " << i;
  }
}

// Output that nobody reads (a pager, a paused terminal, a full pipe) holds
// up nothing: it waits up to a bound while the servers are answered, and
// past the bound it is dropped and the reader learns how much it missed.
// (The desk is on so that each diff is made and shown.)
TEST(ReviewHostile, OutputNobodyReadsIsDroppedPastItsBound) {
  TempDir sockets, ws;
  const std::string socket = sockets.file("s");
  // Its output: a pipe the test leaves unread meanwhile.
  ServerProcess reviewer(
      {.program = VARNOCK_REVIEW_BINARY,
       .arguments = {"--socket", socket, "--auto", "accept", "--no-journal", "--web"}});
  ASSERT_TRUE(wait_until_listening(socket));
  const std::string content = std::string(1 << 20, 'x') + "\n";  // 80 of them: past 64 MiB
  for (int i = 0; i < 80; ++i) {
    const std::string path = numbered("f", i).append(".txt");
    ASSERT_EQ(edit_through_server(socket, ws.path(), path, content).out, accepted_response(path));
  }
  // Read before the stop: at the end, output waits for a reader only briefly.
  EXPECT_TRUE(reviewer.wait_for("bytes of output were dropped while nothing read them]"));
  reviewer.signal(SIGTERM);
  EXPECT_TRUE(reviewer.wait_for("Stopping (signal 15)"));
  EXPECT_EQ(reviewer.finish(), 0);
}

// The socket's default place is the runtime directory only when that is
// the user's own with mode 0700 (another owner needs root to arrange).
TEST(ReviewHostile, ASharedRuntimeDirectoryIsNotUsed) {
  const uid_t me = ::getuid(), other = me == 0 ? 65534 : me;
  for (const auto& [mode, owner] : {std::pair{0700, me}, {0755, me}, {0770, me}, {0700, other}}) {
    TempDir runtime;
    ASSERT_EQ(::chmod(runtime.path().c_str(), mode), 0);
    ASSERT_EQ(::chown(runtime.path().c_str(), owner, -1), 0);
    const bool private_place = mode == 0700 && owner == me;
    ReviewerProcess reviewer({"--auto", "reject"}, {{"XDG_RUNTIME_DIR", runtime.path()}});
    const std::string socket = reviewer.socket_path();
    EXPECT_EQ(socket == runtime.file("varnock-review.sock"), private_place) << socket;
    if (!private_place) {
      EXPECT_EQ(socket,
                numbered("/tmp/varnock-review-", static_cast<int>(::getuid())) + "/review.sock");
    }
    EXPECT_EQ(reviewer.stop(), 0);
    EXPECT_FALSE(exists(socket));
  }
}

}  // namespace
}  // namespace varnock::test
