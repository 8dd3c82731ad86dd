#include "system/socket_place.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <string_view>

#include "base/os_error.h"

namespace varnock::review {
namespace {

constexpr const char kSocketName[] = "varnock-review.sock";
constexpr int kFirstPassedFd = 3;

// True for a directory (not a link) owned by the user, mode 0700 exactly.
bool is_private_directory(const char* path) {
  struct stat st;
  return ::lstat(path, &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::getuid() &&
         (st.st_mode & 07777) == 0700;
}

// XDG_RUNTIME_DIR when it is absolute and private to the user.
const char* runtime_directory() {
  const char* dir = std::getenv("XDG_RUNTIME_DIR");
  if (dir == nullptr || dir[0] != '/' || !is_private_directory(dir)) return nullptr;
  return dir;
}

// Creates `dir` (mode 0700) when missing and checks that it is private.
Status make_private_directory(const std::string& dir) {
  if (::mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) {
    return fail(system_error("cannot create " + dir, errno));
  }
  struct stat st;
  if (::lstat(dir.c_str(), &st) != 0) return fail(system_error("cannot inspect " + dir, errno));
  if (!S_ISDIR(st.st_mode) || st.st_uid != ::getuid() || (st.st_mode & 077) != 0) {
    return fail("refusing to use " + dir +
                ": it is not a directory that only you own and can enter; remove it or pass "
                "--socket");
  }
  return {};
}

std::optional<long> number_in(const char* name) {
  const char* text = std::getenv(name);
  if (text == nullptr) return std::nullopt;
  const std::string_view view(text);
  long number = 0;
  const auto [end, error] = std::from_chars(view.data(), view.data() + view.size(), number);
  if (error != std::errc() || end != view.data() + view.size()) return std::nullopt;
  return number;
}

}  // namespace

Result<std::string> default_socket_path() {
  if (const char* runtime = runtime_directory()) {
    return std::string(runtime) + "/" + kSocketName;
  }
  const std::string dir = "/tmp/varnock-review-" + std::to_string(::getuid());
  Status made = make_private_directory(dir);
  if (!made.ok()) return fail(made.failure());
  return dir + "/review.sock";
}

Result<std::optional<UniqueFd>> activated_socket() {
  const std::optional<long> pid = number_in("LISTEN_PID");
  const std::optional<long> count = number_in("LISTEN_FDS");
  if (!pid || !count || *pid != ::getpid() || *count < 1) return std::optional<UniqueFd>();
  ::unsetenv("LISTEN_PID");
  ::unsetenv("LISTEN_FDS");
  ::unsetenv("LISTEN_FDNAMES");
  int listening = 0;
  socklen_t size = sizeof listening;
  if (::getsockopt(kFirstPassedFd, SOL_SOCKET, SO_ACCEPTCONN, &listening, &size) != 0 ||
      listening == 0) {
    return fail("the socket passed by the service manager (descriptor 3) is not listening");
  }
  ::fcntl(kFirstPassedFd, F_SETFD, FD_CLOEXEC);
  return std::optional<UniqueFd>(UniqueFd(kFirstPassedFd));
}

std::string bound_path(int socket) {
  sockaddr_un address{};
  socklen_t size = sizeof address;
  if (::getsockname(socket, reinterpret_cast<sockaddr*>(&address), &size) != 0) return {};
  if (address.sun_family != AF_UNIX || size <= sizeof(sa_family_t) || address.sun_path[0] == '\0')
    return {};
  return std::string(address.sun_path);
}

}  // namespace varnock::review
