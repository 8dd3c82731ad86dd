// What the kernel says about the process at the other end of a connection.
#pragma once

#include <sys/types.h>

#include "base/result.h"
#include "target.h"

namespace varnock::review {

struct Peer {
  pid_t pid = 0;
  uid_t uid = 0;
};

// The credentials the kernel recorded when `socket`'s peer connected.
Result<Peer> peer_of(int socket);

// The working directory of process `pid`, opened O_PATH | O_DIRECTORY
// through /proc, and its name. Fails when the process has gone or is not
// ours to look at.
Result<Workspace> open_workspace(pid_t pid);

}  // namespace varnock::review
