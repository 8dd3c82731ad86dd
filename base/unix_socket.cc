#include "base/unix_socket.h"

#include <cerrno>
#include <cstddef>
#include <cstring>

#include "base/os_error.h"

namespace varnock {
namespace {

constexpr std::string_view kInteriorNul = "paths must not contain interior null bytes";
constexpr std::string_view kPathTooLong = "path must be shorter than SUN_LEN";

Result<UniqueFd> new_stream_socket() {
  UniqueFd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
  if (!fd.valid()) return fail(os_error_text(errno));
  return fd;
}

}  // namespace

Result<UnixAddress> unix_address(std::string_view path) {
  UnixAddress unix{};
  unix.address.sun_family = AF_UNIX;
  if (path.find('\0') != std::string_view::npos) return fail(std::string(kInteriorNul));
  if (path.size() >= sizeof unix.address.sun_path) return fail(std::string(kPathTooLong));
  std::memcpy(unix.address.sun_path, path.data(), path.size());
  unix.length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + path.size() +
                                       (path.empty() ? 0 : 1));
  return unix;
}

Result<UniqueFd> connect_unix(std::string_view path) {
  Result<UnixAddress> address = unix_address(path);
  if (!address.ok()) return fail(address.failure());
  Result<UniqueFd> fd = new_stream_socket();
  if (!fd.ok()) return fd;
  if (::connect(fd.value().get(), address.value().get(), address.value().length) != 0) {
    const bool nobody = errno == ECONNREFUSED || errno == ENOENT;
    return fail(os_error_text(errno), nobody ? FailureKind::kNoListener : FailureKind::kOther);
  }
  return fd;
}

Result<UniqueFd> listen_unix(std::string_view path, int backlog) {
  Result<UnixAddress> address = unix_address(path);
  if (!address.ok()) return fail(address.failure());
  Result<UniqueFd> fd = new_stream_socket();
  if (!fd.ok()) return fd;
  const int socket = fd.value().get();
  if (::bind(socket, address.value().get(), address.value().length) != 0 ||
      ::listen(socket, backlog) != 0) {
    return fail(os_error_text(errno));
  }
  return fd;
}

int peer_credentials(int socket, ucred& credentials) {
  socklen_t size = sizeof credentials;
  if (::getsockopt(socket, SOL_SOCKET, SO_PEERCRED, &credentials, &size) != 0) return errno;
  return 0;
}

}  // namespace varnock
