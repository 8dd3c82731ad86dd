#include "system/state_dir.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "base/os_error.h"

namespace varnock::review {
namespace {

const char* absolute_env(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr && value[0] == '/' ? value : nullptr;
}

}  // namespace

Status make_directories(const std::string& path) {
  for (std::size_t slash = path.find('/', 1);; slash = path.find('/', slash + 1)) {
    const std::string directory = path.substr(0, slash);
    if (::mkdir(directory.c_str(), 0700) != 0 && errno != EEXIST) {
      return fail(system_error("cannot create " + directory, errno));
    }
    if (slash == std::string::npos) return {};
  }
}

Result<std::string> state_directory_path() {
  if (const char* xdg = absolute_env("XDG_STATE_HOME")) return std::string(xdg) + "/varnock-review";
  if (const char* home = absolute_env("HOME")) {
    return std::string(home) + "/.local/state/varnock-review";
  }
  return fail("neither XDG_STATE_HOME nor HOME is an absolute path");
}

Result<PrivateDirectory> open_private_directory(const std::string& path) {
  if (Status made = make_directories(path); !made.ok()) return fail(made.failure());
  UniqueFd directory(::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  if (!directory.valid()) return fail(system_error("cannot open " + path, errno));
  struct stat st;
  if (::fstat(directory.get(), &st) != 0)
    return fail(system_error("cannot inspect " + path, errno));
  if (st.st_uid != ::geteuid() || (st.st_mode & 077) != 0) {
    return fail(path + " is not private to you (mode 0700, yours)");
  }
  return PrivateDirectory{std::move(directory), path};
}

Result<PrivateDirectory> open_state_directory() {
  Result<std::string> path = state_directory_path();
  if (!path.ok()) return fail(path.failure());
  return open_private_directory(path.value());
}

}  // namespace varnock::review
