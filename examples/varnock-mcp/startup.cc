#include "startup.h"

#include <signal.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "base/io.h"
#include "base/os_error.h"
#include "base/result.h"
#include "base/unix_socket.h"
#include "fd_output.h"
#include "json/text.h"
#include "mcp/broker_protocol.h"

namespace varnock {
namespace {

constexpr const char* kSocketVariable = "VARNOCK_SOCKET";
constexpr const char* kThreadIdVariable = "VARNOCK_THREAD_ID";

constexpr std::string_view kConnectFailed = "broker connect failed ";
constexpr std::string_view kConnected = "connected broker ";
constexpr std::string_view kListenerOfUser = "the listener belongs to user ";
constexpr std::string_view kNotYours = ", not to you";

// The variable's value when it is set and valid UTF-8.
std::optional<std::string_view> utf8_environment(const char* name) {
  const char* value = std::getenv(name);
  if (value == nullptr || !json::is_valid_utf8(value)) return std::nullopt;
  return std::string_view(value);
}

// The connection to the socket at `path` when its listener runs as this
// process's user. Anyone can listen at a path in a shared directory before
// the person's broker does, so a listener of another user is a failure like
// a refused connection, and the socket is closed with nothing sent.
Result<UniqueFd> connect_own_broker(std::string_view path) {
  Result<UniqueFd> socket = connect_unix(path);
  if (!socket.ok()) return socket;
  ucred listener{};
  if (const int error = peer_credentials(socket.value().get(), listener); error != 0) {
    return fail(os_error_text(error));
  }
  if (listener.uid != ::getuid()) {
    return fail(
        std::string(kListenerOfUser).append(std::to_string(listener.uid)).append(kNotYours));
  }
  return socket;
}

}  // namespace

void prepare_process() {
  open_closed_standard_descriptors();
  struct sigaction ignore = {};
  ignore.sa_handler = SIG_IGN;
  sigemptyset(&ignore.sa_mask);
  sigaction(SIGPIPE, &ignore, nullptr);
}

std::unique_ptr<BrokerConnection> connect_broker() {
  std::optional<std::string_view> path = utf8_environment(kSocketVariable);
  if (!path) return nullptr;
  Result<UniqueFd> socket = connect_own_broker(*path);
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
