#include "base/io.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>

namespace varnock {
namespace {

// Repeats `put` (which behaves like write(2)) until every byte is out.
template <class Put>
int put_all(std::string_view bytes, Put put) {
  while (!bytes.empty()) {
    const ssize_t count = put(bytes.data(), bytes.size());
    if (count < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    bytes.remove_prefix(static_cast<std::size_t>(count));
  }
  return 0;
}

// Opens `fd` on /dev/null when it is closed; aborts when that fails.
void open_on_null_device_if_closed(int fd) {
  if (fcntl(fd, F_GETFD) != -1 || errno != EBADF) return;
  const int opened = open("/dev/null", O_RDWR);
  if (opened < 0) std::abort();
  // The lowest free number is taken, which is `fd` itself when the lower
  // standard descriptors are open; move it there otherwise.
  if (opened != fd) {
    if (dup2(opened, fd) < 0) std::abort();
    close(opened);
  }
}

}  // namespace

void open_closed_standard_descriptors() {
  for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) open_on_null_device_if_closed(fd);
}

ssize_t read_some(int fd, void* buffer, std::size_t size) {
  ssize_t count;
  do {
    count = ::read(fd, buffer, size);
  } while (count < 0 && errno == EINTR);
  return count;
}

bool wait_readable(int fd, int timeout_ms) {
  using Clock = std::chrono::steady_clock;
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
  for (int left = timeout_ms;;) {
    pollfd entry{fd, POLLIN, 0};
    const int ready = ::poll(&entry, 1, left);
    if (ready > 0) return true;
    if (ready == 0 || errno != EINTR) return false;
    if (timeout_ms < 0) continue;
    const auto rest =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    left = static_cast<int>(std::max<long long>(0, rest.count()));
  }
}

int write_all(int fd, std::string_view bytes) {
  return put_all(bytes,
                 [fd](const char* data, std::size_t size) { return ::write(fd, data, size); });
}

int send_all(int fd, std::string_view bytes) {
  return put_all(bytes, [fd](const char* data, std::size_t size) {
    return ::send(fd, data, size, MSG_NOSIGNAL);
  });
}

}  // namespace varnock
