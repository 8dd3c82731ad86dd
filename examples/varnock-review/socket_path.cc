#include "socket_path.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "system_error.h"

namespace varnock::review {
namespace {

constexpr const char kSocketName[] = "varnock-review.sock";

bool is_directory(const char* path) {
  struct stat st;
  return ::stat(path, &st) == 0 && S_ISDIR(st.st_mode);
}

// XDG_RUNTIME_DIR when it is set to an absolute path of a directory.
const char* runtime_directory() {
  const char* dir = std::getenv("XDG_RUNTIME_DIR");
  if (dir == nullptr || dir[0] != '/' || !is_directory(dir)) return nullptr;
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

}  // namespace varnock::review
