#include "support/broker.h"

#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <stdexcept>
#include <thread>

#include "base/io.h"
#include "base/unix_socket.h"

namespace varnock::test {
namespace {

using Clock = std::chrono::steady_clock;

// True when `fd` becomes readable before `deadline`.
bool wait_readable(int fd, Clock::time_point deadline) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
  return varnock::wait_readable(fd, static_cast<int>(std::max<long long>(0, left.count())));
}

Clock::time_point after_ms(int timeout_ms) {
  return Clock::now() + std::chrono::milliseconds(timeout_ms);
}

}  // namespace

Connection Connection::to(const std::string& socket_path) {
  Result<UniqueFd> connected = connect_unix(socket_path);
  return Connection(connected.ok() ? std::move(connected).value() : UniqueFd());
}

std::optional<std::string> Connection::read_line(int timeout_ms) {
  const auto deadline = after_ms(timeout_ms);
  for (;;) {
    if (std::optional<std::string> line = lines_.take_line()) {
      line->pop_back();
      return line;
    }
    if (!connected() || !wait_readable(fd_.get(), deadline) || !fill()) return std::nullopt;
  }
}

bool Connection::fill() {
  std::array<char, 65536> block;
  const ssize_t count = read_some(fd_.get(), block.data(), block.size());
  if (count <= 0) return false;
  lines_.append(std::string_view(block.data(), static_cast<std::size_t>(count)));
  return true;
}

bool Connection::send(std::string_view bytes, std::size_t chunk, int delay_ms) {
  const std::size_t piece = chunk > 0 ? chunk : bytes.size();
  for (std::size_t offset = 0; offset < bytes.size(); offset += piece) {
    if (offset > 0 && delay_ms > 0) {
      std::this_thread::sleep_for(std::chrono::milliseconds(delay_ms));
    }
    if (send_all(fd_.get(), bytes.substr(offset, piece)) != 0) return false;
  }
  return true;
}

bool Connection::closed_by_peer(int timeout_ms) {
  const auto deadline = after_ms(timeout_ms);
  while (connected() && wait_readable(fd_.get(), deadline)) {
    if (!fill()) return true;
    lines_.take_rest();
  }
  return false;
}

TestBroker::TestBroker(std::string socket_path) : socket_path_(std::move(socket_path)) {
  Result<UniqueFd> listener = listen_unix(socket_path_, 4);
  if (!listener.ok()) {
    throw std::runtime_error("test broker: " + socket_path_ + ": " + listener.failure());
  }
  listener_ = std::move(listener).value();
}

bool TestBroker::accept(int timeout_ms) {
  if (!listener_.valid() || !wait_readable(listener_.get(), after_ms(timeout_ms))) return false;
  UniqueFd accepted(accept4(listener_.get(), nullptr, nullptr, SOCK_CLOEXEC));
  if (!accepted.valid()) return false;
  connection_.emplace(std::move(accepted));
  return true;
}

void TestBroker::stop_listening() {
  if (!listener_.valid()) return;
  listener_.reset();
  unlink(socket_path_.c_str());
}

}  // namespace varnock::test
