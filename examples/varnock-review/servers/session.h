// One connected server: its lines in, its decisions out, its workspace, and
// whether its host is still there.
#pragma once

#include <array>
#include <boost/asio/local/stream_protocol.hpp>
#include <boost/asio/steady_timer.hpp>
#include <chrono>
#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "base/line_reader.h"
#include "core/review_core.h"
#include "servers/shared_state.h"
#include "system/peer.h"

namespace varnock::review {

// A session keeps itself alive through its handlers (shared_from_this) and
// is closed once: by the server going away, by a bound, or by the hub.
class Session : public std::enable_shared_from_this<Session> {
 public:
  using Socket = boost::asio::local::stream_protocol::socket;

  // Seconds a server has to say hello before its connection is closed.
  static constexpr int kHelloSeconds = 10;
  // Decision bytes waiting for a server that does not read them.
  static constexpr std::size_t kMaxQueuedWrites = 1 << 20;
  // How often the server's parent is looked at while its proposals wait.
  static constexpr auto kParentCheck = std::chrono::seconds(1);
  // Proposals of one server waiting or being prepared at once. A server
  // sends one and waits for its decision; one that sends more than this is
  // dropped.
  static constexpr std::size_t kMaxProposalsAtOnce = 4;

  // `shared` must outlive the session's use of it, which ends at close().
  Session(SharedState& shared, int number, Socket socket);

  // Checks the peer and starts reading; closes at once a peer of another
  // user or one whose working directory cannot be opened.
  void start();
  // Appends a line (LF added) to the write queue; writes start when idle.
  void deliver(std::string_view line);
  // Closes the connection, saying why when `why` is not empty. The core is
  // told the server has gone.
  void close(std::string_view why);

  std::size_t pending_bytes() const { return lines_.pending() + parsing_bytes_; }

  // Lines longer than this are parsed on a worker thread, so that a long
  // one does not hold up the loop; the session reads on once it is done.
  static constexpr std::size_t kParseOnLoop = std::size_t{1} << 20;
  // Copies of a line its parse holds at once besides the line: its longest
  // string keeps the line's own buffer, and the rest are copied out of it.
  static constexpr std::size_t kParseCopies = 1;

 private:
  void read_more();
  void on_read(std::size_t count);
  // Handles the complete lines received, in order, then reads more.
  void take_lines();
  // Reads more once no complete line is left.
  void read_on();
  void parse_off_loop(std::string line);
  void handle_message(std::optional<mcp::ServerMessage> message);
  void on_hello(mcp::BrokerHello hello);
  void write_next();
  void check_parent();
  void watch_parent();
  std::string name() const;
  std::string budget_used_up() const;

  SharedState& shared_;
  int number_;
  Socket socket_;
  boost::asio::steady_timer hello_timer_;
  boost::asio::steady_timer parent_timer_;
  Peer peer_;
  std::optional<ProcessStat> at_hello_;         // the server's process as it was at hello
  std::shared_ptr<const Workspace> workspace_;  // shared with the checks under way
  ServerInfo info_;
  LineSplitter lines_;
  std::array<char, 65536> buffer_;
  std::size_t parsing_bytes_ = 0;  // of the line a worker parses; 0 when none
  std::deque<std::string> writes_;
  std::size_t queued_bytes_ = 0;
  bool said_hello_ = false;
  bool watching_parent_ = false;
  bool orphaned_ = false;
  bool closed_ = false;
};

}  // namespace varnock::review
