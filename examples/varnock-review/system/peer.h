// What the kernel says about the process at the other end of a connection.
#pragma once

#include <sys/types.h>

#include <cstdint>

#include "base/result.h"
#include "system/target.h"

namespace varnock::review {

struct Peer {
  pid_t pid = 0;
  uid_t uid = 0;
};

// The credentials the kernel recorded when `socket`'s peer connected.
Result<Peer> peer_of(int socket);

// What /proc/<pid>/stat says of a process: its parent, and when it started
// (clock ticks after boot), which tells it from a later process that is
// given the same pid.
struct ProcessStat {
  pid_t parent = 0;
  std::uint64_t start_time = 0;
};

// The status of process `pid`, a pid the kernel gave (peer_of), never one a
// client claims. Fails when the process has gone.
Result<ProcessStat> process_stat(pid_t pid);

// The working directory of process `pid`, opened O_PATH | O_DIRECTORY
// through /proc, and its name. Fails when the process has gone or is not
// ours to look at.
Result<Workspace> open_workspace(pid_t pid);

}  // namespace varnock::review
