#include "support/broker.h"

#include <errno.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <stdexcept>
#include <thread>

#include "base/io.h"
#include "base/unix_socket.h"
#include "mcp/broker_protocol.h"

namespace varnock::test {
namespace {

using Clock = std::chrono::steady_clock;

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

}  // namespace

TestBroker::TestBroker(std::string socket_path) : socket_path_(std::move(socket_path)) {
  Result<UniqueFd> listener = listen_unix(socket_path_, 4);
  if (!listener.ok()) {
    throw std::runtime_error("test broker: " + socket_path_ + ": " + listener.failure());
  }
  listener_ = std::move(listener).value();
}

TestBroker::~TestBroker() {
  close_connection();
  stop_listening();
}

bool TestBroker::accept(int timeout_ms) {
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
  if (!listener_.valid() || !wait_readable(listener_.get(), deadline)) return false;
  close_connection();
  connection_.reset(accept4(listener_.get(), nullptr, nullptr, SOCK_CLOEXEC));
  if (!connection_.valid()) return false;
  lines_ = std::make_unique<LineReader>(connection_.get(), 65536);
  return true;
}

std::optional<std::string> TestBroker::read_line(int timeout_ms) {
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
  if (!lines_) return std::nullopt;
  for (;;) {
    if (std::optional<std::string> line = lines_->buffered_line()) {
      line->pop_back();
      return line;
    }
    if (!wait_readable(connection_.get(), deadline)) return std::nullopt;
    Result<bool> more = lines_->fill();
    if (!more.ok() || !more.value()) return std::nullopt;
  }
}

void TestBroker::send(const std::string& bytes, std::size_t chunk, int delay_ms) {
  const std::string_view all(bytes);
  const std::size_t piece = chunk > 0 ? chunk : all.size();
  for (std::size_t offset = 0; offset < all.size(); offset += piece) {
    if (offset > 0 && delay_ms > 0) {
      std::this_thread::sleep_for(std::chrono::milliseconds(delay_ms));
    }
    // A server that has gone is seen by the test elsewhere.
    if (send_all(connection_.get(), all.substr(offset, piece)) != 0) return;
  }
}

std::string TestBroker::decision(const std::string& id, bool accepted) {
  return mcp::decision_line(id, accepted) + "\n";
}

void TestBroker::close_connection() {
  lines_.reset();
  connection_.reset();
}

void TestBroker::stop_listening() {
  if (!listener_.valid()) return;
  listener_.reset();
  unlink(socket_path_.c_str());
}

}  // namespace varnock::test
