#include "system/listener.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

#include "base/os_error.h"
#include "base/unix_socket.h"

namespace varnock::review {
namespace {

constexpr int kBacklog = 16;

UniqueFd new_stream_socket() { return UniqueFd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0)); }

// True when something accepts connections at `path`; false when the
// socket file is stale. Other errors are failures.
Result<bool> someone_listens(const std::string& path) {
  Result<UniqueFd> probe = connect_unix(path);
  if (probe.ok()) return true;
  if (probe.kind() == FailureKind::kNoListener) return false;
  return fail("cannot check " + path + ": " + probe.failure());
}

// Clears the way for bind: nothing there, or a stale socket (removed).
Status clear_stale_socket(const std::string& path) {
  struct stat st;
  if (::lstat(path.c_str(), &st) != 0) {
    if (errno == ENOENT) return {};
    return fail(system_error("cannot inspect " + path, errno));
  }
  if (!S_ISSOCK(st.st_mode)) {
    return fail(path + " exists and is not a socket; not replacing it");
  }
  Result<bool> live = someone_listens(path);
  if (!live.ok()) return fail(live.failure());
  if (live.value()) return fail("another reviewer is already listening on " + path);
  if (::unlink(path.c_str()) != 0 && errno != ENOENT) {
    return fail(system_error("cannot remove the stale socket " + path, errno));
  }
  return {};
}

// Binds with a umask that leaves the socket file owner-only from the start,
// so there is no moment in which others could connect.
Status bind_private(int fd, const UnixAddress& address, const std::string& path) {
  const mode_t saved = ::umask(0177);
  const int bound = ::bind(fd, address.get(), address.length);
  const int bind_errno = errno;
  ::umask(saved);
  if (bound != 0) {
    if (bind_errno == EADDRINUSE) return fail("another reviewer is already listening on " + path);
    return fail(system_error("cannot bind " + path, bind_errno));
  }
  if (::chmod(path.c_str(), 0600) != 0) return fail(system_error("cannot chmod " + path, errno));
  return {};
}

}  // namespace

Result<Listener> Listener::open(const std::string& path) {
  Result<UnixAddress> address = unix_address(path);
  if (!address.ok()) return fail(address.failure());
  Status cleared = clear_stale_socket(path);
  if (!cleared.ok()) return fail(cleared.failure());
  UniqueFd fd = new_stream_socket();
  if (!fd.valid()) return fail(system_error("cannot create a socket", errno));
  Status bound = bind_private(fd.get(), address.value(), path);
  if (!bound.ok()) return fail(bound.failure());
  struct stat st;
  if (::stat(path.c_str(), &st) != 0 || ::listen(fd.get(), kBacklog) != 0 ||
      ::fcntl(fd.get(), F_SETFL, O_NONBLOCK) != 0) {
    const int error = errno;
    ::unlink(path.c_str());
    return fail(system_error("cannot listen on " + path, error));
  }
  return Listener(path, std::move(fd), st.st_dev, st.st_ino);
}

Listener::Listener(Listener&& other) noexcept
    : path_(std::move(other.path_)),
      fd_(std::move(other.fd_)),
      device_(other.device_),
      inode_(other.inode_),
      owns_file_(std::exchange(other.owns_file_, false)) {}

Listener::~Listener() {
  if (!owns_file_) return;
  struct stat st;
  if (::lstat(path_.c_str(), &st) == 0 && st.st_dev == device_ && st.st_ino == inode_) {
    ::unlink(path_.c_str());
  }
}

Listener Listener::adopt(UniqueFd fd, std::string path) {
  Listener listener(std::move(path), std::move(fd), 0, 0);
  listener.owns_file_ = false;
  return listener;
}

}  // namespace varnock::review
