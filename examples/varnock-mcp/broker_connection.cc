#include "broker_connection.h"

#include <errno.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <utility>

#include "json/text.h"
#include "mcp/os_error.h"
#include "mcp/system_io.h"

namespace varnock {
namespace {

constexpr std::string_view kInvalidUtf8 = "stream did not contain valid UTF-8";

// A line handed out must be text; its bytes are consumed either way.
Result<std::optional<std::string>> checked_line(std::string line) {
  if (!json::is_valid_utf8(line)) return fail(std::string(kInvalidUtf8));
  return std::optional<std::string>(std::move(line));
}

}  // namespace

BrokerConnection::BrokerConnection(int fd) : fd_(fd) {}

BrokerConnection::~BrokerConnection() { close(fd_); }

Status BrokerConnection::write_all(std::string_view bytes) {
  while (!bytes.empty()) {
    // MSG_NOSIGNAL: a vanished broker is a failure to report, not a signal.
    const ssize_t sent = send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    if (sent < 0) {
      if (errno == EINTR) continue;
      return fail(mcp::os_error_text(errno));
    }
    bytes.remove_prefix(static_cast<std::size_t>(sent));
  }
  return {};
}

Result<std::optional<std::string>> BrokerConnection::read_line() {
  std::string line;
  for (;;) {
    const char* start = buffer_ + position_;
    const void* feed = std::memchr(start, '\n', filled_ - position_);
    if (feed != nullptr) {
      const std::size_t length = static_cast<const char*>(feed) - start + 1;
      line.append(start, length);
      position_ += length;
      return checked_line(std::move(line));
    }
    line.append(start, filled_ - position_);
    position_ = filled_ = 0;
    const ssize_t count = mcp::read_some(fd_, buffer_, kReadBufferSize);
    if (count < 0) return fail(mcp::os_error_text(errno));
    if (count == 0) {
      if (line.empty()) return std::optional<std::string>();
      return checked_line(std::move(line));
    }
    filled_ = static_cast<std::size_t>(count);
  }
}

}  // namespace varnock
