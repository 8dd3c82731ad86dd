// Unix-domain stream sockets named by a path.
#pragma once

#include <sys/socket.h>
#include <sys/un.h>

#include <string_view>

#include "base/result.h"
#include "base/unique_fd.h"

namespace varnock {

struct UnixAddress {
  sockaddr_un address;
  socklen_t length;

  const sockaddr* get() const { return reinterpret_cast<const sockaddr*>(&address); }
};

// The address for `path`, or, with nothing tried, "paths must not contain
// interior null bytes" (the system would read the path only up to the NUL
// and name some other socket) or "path must be shorter than SUN_LEN". The
// length counts the terminating NUL after a non-empty path; an empty path
// contributes no byte, so the system refuses it rather than reading it as an
// abstract name.
Result<UnixAddress> unix_address(std::string_view path);

// One attempt, with no retry, to connect a new stream socket to `path`: the
// connected descriptor, an address failure above, or the system's text
// ("Connection refused (os error 111)"), of kind kNoListener when there is
// no socket at `path` or nothing listens on it.
Result<UniqueFd> connect_unix(std::string_view path);

// A new stream socket bound to `path` and listening; failures as above.
// Nothing at `path` is removed first.
Result<UniqueFd> listen_unix(std::string_view path, int backlog);

// The credentials (SO_PEERCRED) the kernel recorded for the other end of the
// connected socket `socket`: on an accepted connection, the process that
// connected, as it was then; on a connecting side, the process that called
// listen(2), as it was then. Gives 0 with `credentials` filled, or the error
// number of getsockopt, so that each caller words the failure its own way.
int peer_credentials(int socket, ucred& credentials);

}  // namespace varnock
