// Hostile input and faults at the wire: nesting bombs, request lines of
// hundreds of megabytes, a broker that trickles, floods or vanishes in the
// middle of a write, and signals delivered while the server reads, writes
// and waits. Each run must end with the exact answers and exit status 0.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <fstream>
#include <functional>
#include <sstream>
#include <stop_token>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "write_file_wire.h"

namespace varnock::test {
namespace {

using Clock = std::chrono::steady_clock;

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

// Appends `pattern` repeated up to exactly `size` bytes, cut only between
// patterns.
void append_filled(std::string& out, std::string_view pattern, std::size_t size) {
  out.reserve(out.size() + size);
  for (std::size_t i = 0; i < size / pattern.size(); ++i) out.append(pattern);
  out.append(size % pattern.size(), 'z');
}

std::string repeat(std::string_view piece, std::size_t times) {
  std::string out;
  append_filled(out, piece, piece.size() * times);
  return out;
}

std::string parse_error(const std::string& reader_text) {
  return R"({"error":{"code":-32700,"message":"invalid JSON-RPC message: )" + reader_text +
         R"("},"id":null,"jsonrpc":"2.0"})";
}

// Compares texts of any size without printing them whole: a failure names
// the sizes and the first byte that differs, with a little context.
::testing::AssertionResult same_bytes(std::string_view actual, std::string_view expected) {
  if (actual == expected) return ::testing::AssertionSuccess();
  const std::size_t common = std::min(actual.size(), expected.size());
  const std::size_t at = static_cast<std::size_t>(
      std::mismatch(actual.begin(), actual.begin() + common, expected.begin()).first -
      actual.begin());
  const std::size_t from = at > 40 ? at - 40 : 0;
  return ::testing::AssertionFailure()
         << "got " << actual.size() << " bytes, expected " << expected.size()
         << "; first difference at byte " << at << ": got \"" << actual.substr(from, 80)
         << "\", expected \"" << expected.substr(from, 80) << "\"";
}

// The one-letter state of process `pid` ('R', 'S', 'T', ...), or 0 once it
// has gone.
char process_state(int pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::stringstream text;
  text << stat.rdbuf();
  const std::string line = text.str();
  const std::size_t name_end = line.rfind(')');
  return name_end == std::string::npos || name_end + 2 >= line.size() ? 0 : line[name_end + 2];
}

// Waits, for at most `timeout_ms`, until process `pid` sleeps in a blocking
// call.
bool wait_until_blocked(int pid, int timeout_ms) {
  return poll_until([pid] { return process_state(pid) == 'S'; }, timeout_ms);
}

// Sends `signals` to `pid` in turn, with a millisecond after each, over and
// over from a second thread until the returned thread is destroyed, or 90 s
// have passed, so that a stuck test cannot keep it going. It ends with a
// SIGCONT, so the process is never left stopped.
std::jthread signal_storm(int pid, std::vector<int> signals) {
  return std::jthread([pid, signals = std::move(signals)](std::stop_token stop) {
    const auto deadline = Clock::now() + std::chrono::seconds(90);
    while (!stop.stop_requested() && Clock::now() < deadline) {
      for (int signal : signals) {
        kill(pid, signal);
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
      }
    }
    kill(pid, SIGCONT);
  });
}

// Nesting far past the limit fails at the 128th opening, without exhausting
// the stack, and the request after it is answered. 127 levels, the request
// object included, still parse.
TEST(HostileInput, NestingBombsFailAtTheLimit) {
  const std::string deep_id = repeat("[", 126) + repeat("]", 126);
  const struct {
    const char* name;
    std::string line;
    std::string answer;
  } cases[] = {
      {"open arrays", repeat("[", kBomb),
       parse_error("recursion limit exceeded at line 1 column 128")},
      {"open objects", repeat(R"({"a":)", kBomb),
       parse_error("recursion limit exceeded at line 1 column 636")},
      {"id one level too deep", R"({"id":)" + repeat("[", 127) + repeat("]", 127) + "}",
       parse_error("recursion limit exceeded at line 1 column 133")},
      {"id at the limit", R"({"id":)" + deep_id + R"(,"method":"ping"})",
       R"({"error":{"code":-32602,"message":"unsupported method: ping"},"id":)" + deep_id +
           R"(,"jsonrpc":"2.0"})"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_TRUE(same_bytes(serve_without_broker(c.line + "\n" + kPing + "\n"),
                           c.answer + "\n" + kPingAnswer + "\n"));
  }
}

// A request line of 256 MiB is read whole and
// answered with its id echoed byte for byte, and it costs the server a small
// multiple of its size in memory.
TEST(HostileInput, HugeRequestLineIsAnsweredInBoundedMemory) {
  TempDir workspace;
  ServerProcess server({.working_directory = workspace.path()});

  // The id is written with the escapes the server itself writes (and a raw
  // é and /), so the echo is the text sent.
  const std::string id_start = R"({"id":")";
  const std::string escapes = std::string(R"(ab\"\\\t)") + "\u00e9/";
  std::string line = id_start;
  append_filled(line, escapes, kHugeLine - 32);
  const std::size_t id_size = line.size() - id_start.size();
  line += R"(","method":"huge"})";
  const std::string_view id = std::string_view(line).substr(id_start.size(), id_size);
  server.write(line);
  server.write("\n" + kPing + "\n");
  ASSERT_EQ(server.finish(kHugeAnswerMs), 0);

  const std::string answer = server.read_line().value_or("<no response>");
  const std::string before_id =
      R"({"error":{"code":-32602,"message":"unsupported method: huge"},"id":")";
  const std::string after_id = R"(","jsonrpc":"2.0"})";
  EXPECT_TRUE(same_bytes(answer, before_id + std::string(id) + after_id));
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
  const std::string arrays = repeat("[", kBomb);
  const std::string objects = repeat(R"({"a":)", kBomb);
  std::string garbage;
  accepted_after(
      [](const std::string& id) { return "\u00a0ok\u00e9\u2003\r\n\u3000\n" + stale(id); }, 1);
  accepted_after([](const std::string& id) { return repeat(stale(id), kBomb); });
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

// The broker goes away while the server is blocked writing a 64 MiB
// proposal that it does not read: the call fails with the system's text for
// the broken connection, later calls fail the same way or find the stream
// closed, and everything else is still answered.
TEST_F(HostileBroker, VanishesWhileAHugeProposalIsBeingWritten) {
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

// The server installs no signal handlers. Stop and continue signals, and
// signals whose default is to be ignored, arrive while it reads an 8 MiB
// request line, while it writes the proposal to the broker, and while it
// waits two seconds for the decision. Nothing is lost or repeated.
TEST_F(HostileBroker, SignalsWhileReadingWritingAndWaiting) {
  std::string content;
  append_filled(content, "line \u00e9 \"x\"\t\\\n", std::size_t{8} << 20);
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
  EXPECT_EQ(err_after_start(), "");
  EXPECT_EQ(workspace_.snapshot(), "");
}

}  // namespace
}  // namespace varnock::test
