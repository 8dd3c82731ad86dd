// A scripted review broker on a real Unix-domain socket, driven from the
// test thread: accept the server's connection, read the lines it sends,
// write any bytes back, close at any point.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "base/line_reader.h"
#include "base/unique_fd.h"

namespace varnock::test {

class TestBroker {
 public:
  // Listens on `socket_path` (a path in a temporary directory).
  explicit TestBroker(std::string socket_path);
  ~TestBroker();
  TestBroker(const TestBroker&) = delete;
  TestBroker& operator=(const TestBroker&) = delete;

  const std::string& socket_path() const { return socket_path_; }
  // Waits for the server to connect; false after `timeout_ms`.
  bool accept(int timeout_ms = 30000);
  // The next line from the server, without its LF; nullopt on close/timeout.
  std::optional<std::string> read_line(int timeout_ms = 30000);
  // Writes raw bytes to the server (all of them, or in pieces of `chunk`
  // bytes with `delay_ms` between them when chunk > 0).
  void send(const std::string& bytes, std::size_t chunk = 0, int delay_ms = 0);
  // The decision line for `id`: {"type":"decision","id":..,"accepted":..}\n
  static std::string decision(const std::string& id, bool accepted);
  void close_connection();  // closes the accepted connection
  void stop_listening();    // closes the listening socket and unlinks it

 private:
  std::string socket_path_;
  UniqueFd listener_;
  UniqueFd connection_;
  std::unique_ptr<LineReader> lines_;
};

}  // namespace varnock::test
