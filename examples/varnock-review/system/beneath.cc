#include "system/beneath.h"

#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <deque>

namespace varnock::review {
namespace {

constexpr int kMaxLinks = 40;  // as the kernel's own limit on one walk
constexpr int kRetries = 16;   // openat2 gives EAGAIN while a rename races it

std::atomic<ResolveMethod> g_method{ResolveMethod::kKernel};

OpenedDirectory opened(int fd) {
  if (fd >= 0) return {UniqueFd(fd), 0};
  return {UniqueFd(), errno};
}

OpenedDirectory open_with_openat2(int root, const std::string& path) {
  open_how how{};
  how.flags = O_RDONLY | O_DIRECTORY | O_CLOEXEC;
  how.resolve = RESOLVE_BENEATH | RESOLVE_NO_MAGICLINKS;
  const char* text = path.empty() ? "." : path.c_str();
  for (int attempt = 0;; ++attempt) {
    const long fd = ::syscall(SYS_openat2, root, text, &how, sizeof how);
    if (fd >= 0 || (errno != EAGAIN && errno != EINTR) || attempt == kRetries) {
      return opened(static_cast<int>(fd));
    }
  }
}

// The link's text, or empty when `name` in `directory` is not a link.
std::string link_text(int directory, const std::string& name) {
  char buffer[4096];
  const ssize_t length = ::readlinkat(directory, name.c_str(), buffer, sizeof buffer);
  if (length <= 0 || static_cast<std::size_t>(length) == sizeof buffer) return {};
  return std::string(buffer, static_cast<std::size_t>(length));
}

// One step of the walk: `name` below the top of `stack`, splicing a link's
// components into `todo`. Gives 0 or an errno.
int step(std::vector<UniqueFd>& stack, std::deque<std::string>& todo, const std::string& name,
         int& links) {
  if (name == "..") {
    if (stack.size() == 1) return EXDEV;
    stack.pop_back();
    return 0;
  }
  const int top = stack.back().get();
  UniqueFd next(::openat(top, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  if (next.valid()) {
    stack.push_back(std::move(next));
    return 0;
  }
  const int error = errno;
  if (error != ELOOP && error != ENOTDIR) return error;
  const std::string target = link_text(top, name);
  if (target.empty()) return error;
  if (target.starts_with('/')) return EXDEV;
  if (++links > kMaxLinks) return ELOOP;
  const std::vector<std::string> parts = split_path(target);
  todo.insert(todo.begin(), parts.begin(), parts.end());
  return 0;
}

OpenedDirectory open_with_walk(int root, std::span<const std::string> components) {
  std::vector<UniqueFd> stack;
  stack.emplace_back(::openat(root, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!stack.back().valid()) return {UniqueFd(), errno};
  std::deque<std::string> todo(components.begin(), components.end());
  int links = 0;
  while (!todo.empty()) {
    const std::string name = std::move(todo.front());
    todo.pop_front();
    if (const int error = step(stack, todo, name, links); error != 0) return {UniqueFd(), error};
  }
  return {std::move(stack.back()), 0};
}

}  // namespace

void set_resolve_method(ResolveMethod method) { g_method.store(method); }

OpenedDirectory open_directory_beneath(int root, std::span<const std::string> components) {
  if (g_method.load() == ResolveMethod::kKernel) {
    OpenedDirectory result = open_with_openat2(root, join_path(components));
    if (result.error != ENOSYS) return result;
    g_method.store(ResolveMethod::kWalk);
  }
  return open_with_walk(root, components);
}

std::vector<std::string> split_path(std::string_view path) {
  std::vector<std::string> parts;
  while (!path.empty()) {
    const std::size_t end = path.find('/');
    const std::string_view part = path.substr(0, end);
    if (!part.empty() && part != ".") parts.emplace_back(part);
    if (end == std::string_view::npos) break;
    path.remove_prefix(end + 1);
  }
  return parts;
}

std::string join_path(std::span<const std::string> components) {
  std::string path;
  for (const std::string& part : components) {
    if (!path.empty()) path += '/';
    path += part;
  }
  return path;
}

}  // namespace varnock::review
