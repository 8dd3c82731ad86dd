#include "startup.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "base/result.h"
#include "base/unix_socket.h"
#include "fd_output.h"
#include "json/text.h"
#include "mcp/broker_protocol.h"

namespace varnock {
namespace {

constexpr const char* kSocketVariable = "VARNOCK_SOCKET";
constexpr const char* kThreadIdVariable = "VARNOCK_THREAD_ID";
constexpr const char* kNullDevice = "/dev/null";

constexpr std::string_view kConnectFailed = "broker connect failed ";
constexpr std::string_view kConnected = "connected broker ";

// Opens `fd` on /dev/null when it is closed; aborts when that fails.
void open_on_null_device_if_closed(int fd) {
  if (fcntl(fd, F_GETFD) != -1 || errno != EBADF) return;
  int opened = open(kNullDevice, O_RDWR);
  if (opened < 0) std::abort();
  // The lowest free number is taken, which is `fd` itself when the lower
  // standard descriptors are open; move it there otherwise.
  if (opened != fd) {
    if (dup2(opened, fd) < 0) std::abort();
    close(opened);
  }
}

// The variable's value when it is set and valid UTF-8.
std::optional<std::string_view> utf8_environment(const char* name) {
  const char* value = std::getenv(name);
  if (value == nullptr || !json::is_valid_utf8(value)) return std::nullopt;
  return std::string_view(value);
}

}  // namespace

void prepare_process() {
  for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) open_on_null_device_if_closed(fd);
  struct sigaction ignore = {};
  ignore.sa_handler = SIG_IGN;
  sigemptyset(&ignore.sa_mask);
  sigaction(SIGPIPE, &ignore, nullptr);
}

std::unique_ptr<BrokerConnection> connect_broker() {
  std::optional<std::string_view> path = utf8_environment(kSocketVariable);
  if (!path) return nullptr;
  Result<UniqueFd> socket = connect_unix(*path);
  if (!socket.ok()) {
    write_diagnostic(
        std::string(kConnectFailed).append(*path).append(": ").append(socket.failure()));
    return nullptr;
  }
  auto broker = std::make_unique<BrokerConnection>(std::move(socket).value());
  std::string_view thread_id = utf8_environment(kThreadIdVariable).value_or("");
  // A hello that cannot be sent is not reported: the connection stays, and a
  // later review finds out what became of the broker.
  (void)broker->write_all(mcp::hello_line(static_cast<std::uint32_t>(getpid()), thread_id));
  write_diagnostic(std::string(kConnected).append(*path));
  return broker;
}

}  // namespace varnock
