#include "peer.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

#include "base/os_error.h"
#include "base/unix_socket.h"

namespace varnock::review {

Result<Peer> peer_of(int socket) {
  ucred credentials{};
  if (const int error = peer_credentials(socket, credentials); error != 0) {
    return fail(system_error("cannot read the peer's credentials", error));
  }
  return Peer{credentials.pid, credentials.uid};
}

Result<Workspace> open_workspace(pid_t pid) {
  const std::string link = "/proc/" + std::to_string(pid) + "/cwd";
  UniqueFd root(::open(link.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
  if (!root.valid()) return fail(system_error("cannot open its working directory", errno));
  char buffer[4096];
  const std::string opened = "/proc/self/fd/" + std::to_string(root.get());
  const ssize_t length = ::readlink(opened.c_str(), buffer, sizeof buffer);
  if (length <= 0 || static_cast<std::size_t>(length) == sizeof buffer) {
    return fail(system_error("cannot read the name of its working directory", errno));
  }
  return Workspace{std::move(root), std::string(buffer, static_cast<std::size_t>(length))};
}

}  // namespace varnock::review
