#include "connection.h"

#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

#include "system_error.h"

namespace varnock::review {
namespace {

constexpr std::size_t kReadSize = 64 * 1024;

}  // namespace

void take_lines(std::string& pending, std::size_t& scanned, std::vector<std::string>& lines) {
  std::size_t start = 0;
  std::size_t end = pending.find('\n', scanned);
  while (end != std::string::npos) {
    lines.emplace_back(pending, start, end - start);
    start = end + 1;
    end = pending.find('\n', start);
  }
  pending.erase(0, start);
  scanned = pending.size();
}

Received Connection::receive() {
  Received received;
  char buffer[kReadSize];
  ssize_t count = ::read(fd_.get(), buffer, sizeof buffer);
  while (count < 0 && errno == EINTR) count = ::read(fd_.get(), buffer, sizeof buffer);
  if (count <= 0) {
    received.closed = true;
    received.dropped_bytes = pending_.size();
    pending_.clear();
    scanned_ = 0;
    return received;
  }
  pending_.append(buffer, static_cast<std::size_t>(count));
  take_lines(pending_, scanned_, received.lines);
  return received;
}

Status Connection::send_line(std::string_view line) {
  std::string bytes(line);
  bytes += '\n';
  std::size_t sent = 0;
  while (sent < bytes.size()) {
    const ssize_t count = ::send(fd_.get(), bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
    if (count < 0 && errno == EINTR) continue;
    if (count < 0) return fail(system_error("cannot send the decision", errno));
    sent += static_cast<std::size_t>(count);
  }
  return {};
}

}  // namespace varnock::review
