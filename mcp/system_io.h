// Thin wrappers over the system's descriptor calls.
#pragma once

#include <sys/types.h>

#include <cstddef>

namespace varnock::mcp {

// One read(2) of at most `size` bytes, repeated when a signal interrupts it:
// the byte count, 0 at the end of the stream, or -1 with errno set.
ssize_t read_some(int fd, char* buffer, std::size_t size);

}  // namespace varnock::mcp
