// Where the reviewer listens when no --socket is given.
#pragma once

#include <string>

#include "base/result.h"

namespace varnock::review {

// The per-user socket path: "$XDG_RUNTIME_DIR/varnock-review.sock" when
// XDG_RUNTIME_DIR names an absolute directory (the user's own by
// convention), else "/tmp/varnock-review-<uid>/review.sock". The /tmp
// directory is created with mode 0700 if missing, and refused unless it is a
// real directory (not a symbolic link) owned by the user and closed to
// everyone else, so no other user can place or reach the socket.
Result<std::string> default_socket_path();

}  // namespace varnock::review
