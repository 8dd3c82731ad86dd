// Hostile input and faults at the wire: request lines of hundreds of
// megabytes, a broker that trickles, floods or vanishes in the middle of a
// write, and signals delivered while the server reads, writes and waits.
// Each run must end with the exact answers and exit status 0. (Nesting past
// the limit is parse_rules.tsv's and server.tsv's.)
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <cstddef>
#include <fstream>
#include <functional>
#include <iterator>
#include <stop_token>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "write_file_wire.h"

namespace varnock::test {
namespace {

// These tests take seconds and run in the optimised build only: under the
// sanitizer a quarter gigabyte takes minutes and peak memory means nothing.
constexpr std::size_t kHugeLine = std::size_t{256} << 20;
// How long to wait for an answer to a line of hundreds of megabytes on a
// busy machine: a server still at work must not be taken for a hung one.
constexpr int kHugeAnswerMs = 150000;
// How much memory a line may cost the server: a small multiple of its size.
constexpr long long kMemoryPerLineByte = 8;
constexpr std::size_t kBomb = 100000;
constexpr std::size_t kFlood = std::size_t{64} << 20;

const std::string kPing = R"({"jsonrpc":"2.0","id":2,"method":"ping"})";
const std::string kPingAnswer =
    R"({"error":{"code":-32602,"message":"unsupported method: ping"},"id":2,"jsonrpc":"2.0"})";
const std::string kInvalidBrokerLine = "[varnock-mcp] ignoring invalid broker line: ";

// `pattern` repeated up to exactly `size` bytes, cut only between patterns.
std::string filled(std::string_view pattern, std::size_t size) {
  std::string out;
  out.reserve(size);
  for (std::size_t i = 0; i < size / pattern.size(); ++i) out.append(pattern);
  return out.append(size % pattern.size(), 'z');
}

// Compares texts of any size without printing them whole.
::testing::AssertionResult same_bytes(std::string_view actual, std::string_view expected) {
  if (actual == expected) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure()
         << "got " << actual.size() << " bytes starting \"" << actual.substr(0, 80)
         << "\", expected " << expected.size();
}

// Waits until process `pid` sleeps in a blocking call ('S' in /proc/<pid>/stat).
bool wait_until_blocked(int pid, int timeout_ms) {
  return poll_until(
      [pid] {
        std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
        const std::string line{std::istreambuf_iterator<char>(stat), {}};
        const std::size_t name_end = line.rfind(')');
        return name_end != std::string::npos && line.substr(name_end + 1, 3) == " S ";
      },
      timeout_ms);
}

// Sends `signals` to `pid` in turn, a millisecond apart, over and over from
// a second thread until the returned thread is destroyed (90 s at most), and
// ends with a SIGCONT, so the process is never left stopped.
std::jthread signal_storm(int pid, std::vector<int> signals) {
  return std::jthread([pid, signals = std::move(signals)](std::stop_token stop) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(90);
    while (!stop.stop_requested() && std::chrono::steady_clock::now() < deadline) {
      for (int signal : signals) {
        kill(pid, signal);
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
      }
    }
    kill(pid, SIGCONT);
  });
}

// A request line of 256 MiB is read whole and
// answered with its id echoed byte for byte, and it costs the server a small
// multiple of its size in memory.
TEST(HostileInput, HugeRequestLineIsAnsweredInBoundedMemory) {
  TempDir workspace;
  ServerProcess server({.working_directory = workspace.path()});

  // The id is written with the escapes the server itself writes (and a raw
  // é and /), so the echo is the text sent.
  const std::string id = filled(std::string(R"(ab\"\\\t)") + "\u00e9/", kHugeLine - 32);
  const std::string line = R"({"id":")" + id + R"(","method":"huge"})";
  server.write(line);
  server.write("\n" + kPing + "\n");
  ASSERT_EQ(server.finish(kHugeAnswerMs), 0);
  EXPECT_TRUE(same_bytes(server.read_line().value_or("<no response>"),
                         R"({"error":{"code":-32602,"message":"unsupported method: huge"},"id":")" +
                             id + R"(","jsonrpc":"2.0"})"));
  EXPECT_EQ(server.read_line(), kPingAnswer);
  EXPECT_EQ(server.err(), "");

  const long long line_size = static_cast<long long>(line.size());
  EXPECT_GE(server.peak_rss_bytes(), line_size) << "the line must have been held whole";
  RecordProperty("peak_rss_bytes", std::to_string(server.peak_rss_bytes()));
  EXPECT_LE(server.peak_rss_bytes(), kMemoryPerLineByte * line_size)
      << "peak RSS " << server.peak_rss_bytes() << " for a line of " << line_size << " bytes";
}

// A proposal whose accepting decision (spaced, with CR LF) follows the
// bytes `junk` gives for its id, all sent `chunk` bytes per write (0: at
// once) while the test drains the server's output.
class HostileBroker : public BrokerWireTest {
 protected:
  void accepted_after(const std::function<std::string(const std::string& id)>& junk,
                      std::size_t chunk = 0) {
    const std::string id = id_of(propose(1, "a.txt", "x", "why"));
    const std::string decision =
        " {\"id\":\"" + id + "\",\"type\":\"decision\",\"accepted\":true}\r\n";
    // Sent from a second thread while the test drains the server's output: a
    // server blocked on a long notice to standard error reads nothing more.
    std::thread sender([&] { broker_->send(junk(id) + decision, chunk, chunk > 0 ? 1 : 0); });
    EXPECT_EQ(server_->read_line(kHugeAnswerMs),
              result_response(1, receipt("a.txt", kAcceptedMessage)));
    sender.join();
  }
};

// A decision for another proposal than `id`.
std::string stale(std::string id) {
  id.back() = id.back() == '7' ? '8' : '7';
  return decision(id, false) + "\n";
}

// Lines before the decision are each read and skipped, with a notice when
// they are not JSON: a trickle of one byte per read (multi-byte characters
// and CR LF split across reads), a flood of stale decisions, nesting bombs,
// and a 64 MiB line that is almost a rejecting decision, reported whole
// (trimmed).
TEST_F(HostileBroker, LinesBeforeTheDecisionAreSkipped) {
  const std::string arrays = filled("[", kBomb);
  const std::string objects = filled(R"({"a":)", 5 * kBomb);
  std::string garbage;
  accepted_after(
      [](const std::string& id) { return "\u00a0ok\u00e9\u2003\r\n\u3000\n" + stale(id); }, 1);
  accepted_after([](const std::string& id) {
    const std::string line = stale(id);
    return filled(line, line.size() * kBomb);
  });
  accepted_after([&](const std::string&) { return arrays + "\n" + objects + "\n"; });
  accepted_after([&](const std::string& id) {
    garbage = R"({"type":"decision","id":")" + id + R"(","accepted":false,"pad":")" +
              std::string(kFlood, 'p');
    return "\t" + garbage + " \r\n";
  });
  EXPECT_TRUE(same_bytes(err_after_start(), kInvalidBrokerLine + "ok\u00e9\n" + kInvalidBrokerLine +
                                                arrays + "\n" + kInvalidBrokerLine + objects +
                                                "\n" + kInvalidBrokerLine + garbage + "\n"));
}

// The server installs no signal handlers. Stop and continue signals, and
// signals whose default is to be ignored, arrive while it reads an 8 MiB
// request line, while it writes the proposal to the broker, and while it
// waits two seconds for the decision: nothing is lost or repeated. Then the
// broker goes away while the server is blocked writing a 64 MiB proposal
// that it does not read: the call fails with the system's text for the
// broken connection, later calls fail the same way or find the stream
// closed, and everything else is still answered.
TEST_F(HostileBroker, SignalsThenAVanishingBroker) {
  const std::string content = filled("line \u00e9 \"x\"\t\\\n", std::size_t{8} << 20);
  {
    const std::jthread storm = signal_storm(server_->pid(), {SIGSTOP, SIGCONT, SIGWINCH, SIGCHLD});
    const std::string line = propose(10, "file.txt", content, "- why");
    const std::string id = id_of(line);
    EXPECT_TRUE(is_proposal_id(id, 0)) << id;
    EXPECT_TRUE(same_bytes(line, proposal_line(id, "file.txt", "", content, "- why")));
    std::this_thread::sleep_for(std::chrono::seconds(2));  // the reviewer thinks
    broker_->send(decision(id, true) + "\n", 1);
    EXPECT_EQ(response(), result_response(10, receipt("file.txt", kAcceptedMessage)));
  }
  const std::string broken[] = {"Broken pipe (os error 32)",
                                "Connection reset by peer (os error 104)"};
  server_->write(write_file_call(1, "a.txt", std::string(kFlood, 'x'), "why"));
  EXPECT_TRUE(wait_until_blocked(server_->pid(), kHugeAnswerMs))
      << "the proposal write never blocked";
  broker_->close_connection();
  EXPECT_THAT(server_->read_line(kHugeAnswerMs).value_or("<no response>"),
              ::testing::AnyOf(error_response(1, broken[0]), error_response(1, broken[1])));
  server_->write(write_file_call(2, "a.txt", "x", "why"));
  EXPECT_THAT(response(),
              ::testing::AnyOf(error_response(2, broken[0]), error_response(2, broken[1]),
                               error_response(2, kClosedBeforeDecision)));
  const std::string list = R"({"jsonrpc":"2.0","id":3,"method":"tools/list"})";
  server_->write(list + "\n" + kPing + "\n");
  EXPECT_THAT(response(), ::testing::StartsWith(R"({"id":3,"jsonrpc":"2.0","result":{"tools":[)"));
  EXPECT_EQ(response(), kPingAnswer);
  EXPECT_EQ(err_after_start(), "");
  EXPECT_EQ(workspace_.snapshot(), "");
}

}  // namespace
}  // namespace varnock::test
