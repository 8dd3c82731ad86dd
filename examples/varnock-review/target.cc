#include "target.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>
#include <memory>

#include "system_error.h"

namespace varnock::review {
namespace {

constexpr std::string_view kOutside = "the path leads outside the workspace";

// The components of `path` without empty ones and ".".
std::vector<std::string> components_of(std::string_view path) {
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

// Refuses paths that cannot name a file inside the workspace by their text.
Status check_text(std::string_view path) {
  if (path.empty()) return fail("the path is empty");
  if (path.find('\0') != std::string_view::npos) return fail("the path contains a NUL byte");
  const std::size_t last_slash = path.rfind('/');
  const std::string_view last =
      path.substr(last_slash == std::string_view::npos ? 0 : last_slash + 1);
  if (last.empty() || last == "." || last == "..") {
    return fail("the path names a directory, not a file");
  }
  for (const std::string& part : components_of(path)) {
    if (part == "..") return fail("the path contains a \"..\" component");
  }
  return {};
}

std::string join(const std::string& directory, const std::string& name) {
  return directory == "/" ? "/" + name : directory + "/" + name;
}

Result<std::string> real_path(const std::string& path) {
  std::unique_ptr<char, decltype(&std::free)> resolved(::realpath(path.c_str(), nullptr),
                                                       &std::free);
  if (!resolved) return fail(system_error("cannot resolve " + path, errno));
  return std::string(resolved.get());
}

// How many of `parents` exist below `base` as directories (following links).
Result<std::size_t> existing_depth(const std::string& base,
                                   const std::vector<std::string>& parents) {
  std::string directory = base;
  for (std::size_t i = 0; i < parents.size(); ++i) {
    const std::string next = join(directory, parents[i]);
    struct stat st;
    if (::lstat(next.c_str(), &st) != 0) {
      if (errno == ENOENT) return i;
      return fail(system_error("cannot inspect " + next, errno));
    }
    if (::stat(next.c_str(), &st) != 0) return fail(system_error("cannot follow " + next, errno));
    if (!S_ISDIR(st.st_mode)) return fail(next + " is not a directory");
    directory = next;
  }
  return parents.size();
}

// Resolves a final component that is a symbolic link to the file it names.
Result<Target> follow_final_link(const std::string& workspace, const std::string& link) {
  Result<std::string> real = real_path(link);
  if (!real.ok())
    return fail("the path is a symbolic link that cannot be followed: " + real.failure());
  if (!is_inside(real.value(), workspace)) return fail(std::string(kOutside));
  const std::size_t slash = real.value().rfind('/');
  Target target;
  target.directory = slash == 0 ? "/" : real.value().substr(0, slash);
  target.name = real.value().substr(slash + 1);
  target.exists = true;
  return target;
}

// The real path of the deepest existing directory along `parents` from
// `base`, checked against the workspace, and the directories missing below it.
Result<Target> resolve_parent(const std::string& workspace, const std::string& base,
                              const std::vector<std::string>& parents) {
  Result<std::size_t> depth = existing_depth(base, parents);
  if (!depth.ok()) return fail(depth.failure());
  std::string directory = base;
  for (std::size_t i = 0; i < depth.value(); ++i) directory = join(directory, parents[i]);
  Result<std::string> real = real_path(directory);
  if (!real.ok()) return fail(real.failure());
  if (!is_inside(real.value(), workspace)) return fail(std::string(kOutside));
  Target target;
  target.directory = std::move(real).value();
  target.missing.assign(parents.begin() + static_cast<std::ptrdiff_t>(depth.value()),
                        parents.end());
  return target;
}

// Completes a target whose directory exists: does the file exist, and is it
// a symbolic link to be followed?
Result<Target> resolve_final(const std::string& workspace, Target target) {
  const std::string file = join(target.directory, target.name);
  struct stat st;
  if (::lstat(file.c_str(), &st) != 0) {
    if (errno == ENOENT) return target;
    return fail(system_error("cannot inspect " + file, errno));
  }
  if (S_ISLNK(st.st_mode)) return follow_final_link(workspace, file);
  target.exists = true;
  return target;
}

}  // namespace

bool is_inside(std::string_view path, std::string_view workspace) {
  if (workspace == "/") return path.starts_with('/');
  if (!path.starts_with(workspace)) return false;
  return path.size() == workspace.size() || path[workspace.size()] == '/';
}

std::string absolute_path(const std::string& workspace, std::string_view path) {
  if (path.starts_with('/')) return std::string(path);
  return join(workspace, std::string(path));
}

Result<Target> resolve_target(const std::string& workspace, std::string_view path) {
  Status text = check_text(path);
  if (!text.ok()) return fail(text.failure());
  std::vector<std::string> parents = components_of(path);
  std::string name = parents.back();
  parents.pop_back();
  const std::string base = path.starts_with('/') ? "/" : workspace;
  Result<Target> target = resolve_parent(workspace, base, parents);
  if (!target.ok()) return target;
  target.value().name = std::move(name);
  if (!target.value().missing.empty()) return target;
  return resolve_final(workspace, std::move(target).value());
}

}  // namespace varnock::review
