#include "mcp/system_io.h"

#include <unistd.h>

#include <cerrno>

namespace varnock::mcp {

ssize_t read_some(int fd, char* buffer, std::size_t size) {
  ssize_t count;
  do {
    count = read(fd, buffer, size);
  } while (count < 0 && errno == EINTR);
  return count;
}

}  // namespace varnock::mcp
