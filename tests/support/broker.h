// Both ends of the broker socket as the tests drive them from the test
// thread: a connection (a broker's accepted one, or a client's in the place
// of a server), and a scripted review broker that accepts the server's.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "base/line_reader.h"
#include "base/unique_fd.h"
#include "support/patience.h"

namespace varnock::test {

// One end of a Unix-domain stream connection.
class Connection {
 public:
  explicit Connection(UniqueFd fd) : fd_(std::move(fd)) {}
  // Connects to `socket_path`; connected() tells whether it did.
  static Connection to(const std::string& socket_path);

  bool connected() const { return fd_.valid(); }
  // The next line from the other end, without its LF; nullopt on close or
  // after `timeout_ms`.
  std::optional<std::string> read_line(int timeout_ms = kPatienceMs);
  // Writes all of `bytes` (in pieces of `chunk` bytes with `delay_ms`
  // between them when chunk > 0); false when the other end has gone.
  bool send(std::string_view bytes, std::size_t chunk = 0, int delay_ms = 0);
  // True when the other end closes within `timeout_ms`; what it sent before
  // is discarded.
  bool closed_by_peer(int timeout_ms = kPatienceMs);
  void close() { fd_.reset(); }

 private:
  // One read into `lines_`: false at the end of the stream or on an error.
  bool fill();

  UniqueFd fd_;
  LineSplitter lines_;
};

class TestBroker {
 public:
  // Listens on `socket_path` (a path in a temporary directory).
  explicit TestBroker(std::string socket_path);
  ~TestBroker() { stop_listening(); }
  TestBroker(const TestBroker&) = delete;
  TestBroker& operator=(const TestBroker&) = delete;

  const std::string& socket_path() const { return socket_path_; }
  // Waits for the server to connect; false after `timeout_ms`.
  bool accept(int timeout_ms = kPatienceMs);
  // The next line from the server, without its LF; nullopt on close/timeout.
  std::optional<std::string> read_line(int timeout_ms = kPatienceMs) {
    return connection_ ? connection_->read_line(timeout_ms) : std::nullopt;
  }
  // Writes raw bytes to the server, as Connection::send does.
  void send(std::string_view bytes, std::size_t chunk = 0, int delay_ms = 0) {
    if (connection_) connection_->send(bytes, chunk, delay_ms);  // a server gone is seen elsewhere
  }
  void close_connection() { connection_.reset(); }
  void stop_listening();  // closes the listening socket and unlinks it

 private:
  std::string socket_path_;
  UniqueFd listener_;
  std::optional<Connection> connection_;
};

}  // namespace varnock::test
