#include "support/broker.h"

#include <errno.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <stdexcept>
#include <thread>

#include "json/write.h"

namespace varnock::test {
namespace {

using Clock = std::chrono::steady_clock;

[[noreturn]] void fail_setup(const std::string& what) {
  throw std::runtime_error("test broker: " + what + ": " + std::strerror(errno));
}

// Milliseconds left until `deadline`, never negative.
int remaining_ms(Clock::time_point deadline) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
  return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

// True when `fd` becomes readable before `deadline`.
bool wait_readable(int fd, Clock::time_point deadline) {
  for (;;) {
    pollfd entry{fd, POLLIN, 0};
    const int ready = poll(&entry, 1, remaining_ms(deadline));
    if (ready > 0) return true;
    if (ready == 0 || errno != EINTR) return false;
  }
}

void close_fd(int& fd) {
  if (fd >= 0) close(fd);
  fd = -1;
}

}  // namespace

TestBroker::TestBroker(std::string socket_path) : socket_path_(std::move(socket_path)) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (socket_path_.size() >= sizeof address.sun_path) {
    throw std::runtime_error("test broker: socket path too long: " + socket_path_);
  }
  std::memcpy(address.sun_path, socket_path_.c_str(), socket_path_.size() + 1);
  listen_fd_ = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (listen_fd_ < 0) fail_setup("socket");
  if (bind(listen_fd_, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    fail_setup("bind " + socket_path_);
  }
  if (listen(listen_fd_, 4) != 0) fail_setup("listen");
}

TestBroker::~TestBroker() {
  close_connection();
  stop_listening();
}

bool TestBroker::accept(int timeout_ms) {
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
  if (listen_fd_ < 0 || !wait_readable(listen_fd_, deadline)) return false;
  close_connection();
  conn_fd_ = accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC);
  return conn_fd_ >= 0;
}

std::optional<std::string> TestBroker::read_line(int timeout_ms) {
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
  std::size_t scanned = 0;  // proposals can be large: scan each byte once
  for (;;) {
    const std::size_t feed = buffer_.find('\n', scanned);
    if (feed != std::string::npos) {
      std::string line = buffer_.substr(0, feed);
      buffer_.erase(0, feed + 1);
      return line;
    }
    scanned = buffer_.size();
    if (conn_fd_ < 0 || !wait_readable(conn_fd_, deadline)) return std::nullopt;
    char chunk[65536];
    const ssize_t count = recv(conn_fd_, chunk, sizeof chunk, 0);
    if (count < 0 && errno == EINTR) continue;
    if (count <= 0) return std::nullopt;
    buffer_.append(chunk, static_cast<std::size_t>(count));
  }
}

void TestBroker::send(const std::string& bytes, std::size_t chunk, int delay_ms) {
  const std::size_t piece = chunk > 0 ? chunk : bytes.size();
  for (std::size_t offset = 0; offset < bytes.size();) {
    if (offset > 0 && delay_ms > 0) {
      std::this_thread::sleep_for(std::chrono::milliseconds(delay_ms));
    }
    const std::size_t end = std::min(bytes.size(), offset + piece);
    while (offset < end) {
      const ssize_t sent = ::send(conn_fd_, bytes.data() + offset, end - offset, MSG_NOSIGNAL);
      if (sent < 0 && errno == EINTR) continue;
      if (sent <= 0) return;  // the server has gone; the test sees it elsewhere
      offset += static_cast<std::size_t>(sent);
    }
  }
}

std::string TestBroker::decision(const std::string& id, bool accepted) {
  std::string line = "{\"type\":\"decision\",\"id\":";
  json::write_string(id, line);
  line += accepted ? ",\"accepted\":true}\n" : ",\"accepted\":false}\n";
  return line;
}

void TestBroker::close_connection() {
  close_fd(conn_fd_);
  buffer_.clear();
}

void TestBroker::stop_listening() {
  if (listen_fd_ < 0) return;
  close_fd(listen_fd_);
  unlink(socket_path_.c_str());
}

}  // namespace varnock::test
