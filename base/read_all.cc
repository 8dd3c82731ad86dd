#include "base/read_all.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>

#include "base/io.h"
#include "base/os_error.h"

namespace varnock {
namespace {

// The room given at first when the size is unknown, and the least the room
// grows by.
constexpr std::size_t kChunk = 65536;

// The size `fd` reports when it is a regular file; 0 otherwise, or when it
// cannot be asked.
std::uint64_t reported_size(int fd) {
  struct stat status;
  if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode) || status.st_size < 0) return 0;
  return static_cast<std::uint64_t>(status.st_size);
}

Failure too_large(std::size_t limit) {
  return fail("more than " + std::to_string(limit) + " bytes", FailureKind::kTooLarge);
}

}  // namespace

Result<std::string> read_all(int fd, std::size_t limit) {
  const std::uint64_t claimed = reported_size(fd);
  if (claimed > limit) return too_large(limit);
  // The most ever held: one byte past the limit proves there is more.
  const std::size_t most = limit < kNoLimit ? limit + 1 : limit;
  // A byte past the claimed size, so that the read which finds the end
  // needs no more room.
  std::string data(claimed > 0 ? static_cast<std::size_t>(claimed) + 1 : std::min(kChunk, most),
                   '\0');
  std::size_t filled = 0;
  for (;;) {
    if (filled == data.size()) {
      if (filled > limit) return too_large(limit);
      data.resize(std::min(most, filled + std::max(filled, kChunk)));
    }
    const ssize_t count = read_some(fd, data.data() + filled, data.size() - filled);
    if (count < 0) return fail(system_error("cannot read", errno));
    if (count == 0) break;
    filled += static_cast<std::size_t>(count);
  }
  data.resize(filled);
  return data;
}

}  // namespace varnock
