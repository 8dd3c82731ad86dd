// Where the reviewer listens when no --socket is given, and the socket a
// service manager may have passed instead.
#pragma once

#include <optional>
#include <string>

#include "base/result.h"
#include "base/unique_fd.h"

namespace varnock::review {

// The per-user socket path: "$XDG_RUNTIME_DIR/varnock-review.sock" when
// XDG_RUNTIME_DIR names a directory (not a symbolic link) owned by the user
// with mode 0700, else "/tmp/varnock-review-<uid>/review.sock". The /tmp
// directory is created with mode 0700 if missing, and refused unless it is a
// real directory owned by the user and closed to everyone else, so no other
// user can place or reach the socket.
Result<std::string> default_socket_path();

// The listening socket passed by socket activation: when LISTEN_PID is this
// process and LISTEN_FDS is at least 1, descriptor 3 (made close-on-exec),
// and the activation variables are removed from the environment so no child
// takes them for its own. nullopt when no socket was passed; a failure when
// descriptor 3 is not a listening Unix stream socket.
Result<std::optional<UniqueFd>> activated_socket();

// The path a socket is bound to ("" for an unnamed or abstract one).
std::string bound_path(int socket);

}  // namespace varnock::review
