#include "mcp/path_guard.h"

#include <errno.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "base/os_error.h"
#include "json/text.h"

namespace varnock::mcp {
namespace {

constexpr std::string_view kPathRequired = "path is required";
constexpr std::string_view kOutsideWorkspace = "path must stay inside the workspace";
constexpr std::string_view kWorkspaceUnresolved = "failed to resolve workspace directory: ";

constexpr std::string_view kParentDirectory = "..";
constexpr std::string_view kCurrentDirectory = ".";
constexpr std::size_t kFirstCwdBufferSize = 4096;

// The components after the root of an absolute path, or of a relative path:
// repeated separators count as one and "." components are dropped. (A
// leading "." of a relative path is a component of its own, but the guard
// only asks about "..", so dropping it judges the same.)
std::vector<std::string_view> components(std::string_view path) {
  std::vector<std::string_view> parts;
  std::size_t start = 0;
  while (start < path.size()) {
    std::size_t end = path.find('/', start);
    if (end == std::string_view::npos) end = path.size();
    std::string_view part = path.substr(start, end - start);
    if (!part.empty() && part != kCurrentDirectory) parts.push_back(part);
    start = end + 1;
  }
  return parts;
}

bool has_parent_component(const std::vector<std::string_view>& parts) {
  for (std::string_view part : parts) {
    if (part == kParentDirectory) return true;
  }
  return false;
}

bool is_absolute(std::string_view path) { return !path.empty() && path.front() == '/'; }

// The current working directory as the system reports it, of any length.
Result<std::string> current_directory() {
  std::string buffer(kFirstCwdBufferSize, '\0');
  while (getcwd(buffer.data(), buffer.size()) == nullptr) {
    if (errno != ERANGE) return fail(os_error_text(errno));
    buffer.resize(buffer.size() * 2);
  }
  buffer.resize(buffer.find('\0'));
  return buffer;
}

// Both paths are absolute, so their root components match; the rest must
// begin with every component of the workspace, compared byte for byte.
bool lies_under(const std::vector<std::string_view>& path,
                const std::vector<std::string_view>& workspace) {
  if (path.size() < workspace.size()) return false;
  for (std::size_t i = 0; i < workspace.size(); ++i) {
    if (path[i] != workspace[i]) return false;
  }
  return true;
}

Status judge_absolute(std::string_view path) {
  Result<std::string> workspace = current_directory();
  if (!workspace.ok()) return fail(std::string(kWorkspaceUnresolved) + workspace.failure());
  const std::vector<std::string_view> parts = components(path);
  if (!lies_under(parts, components(workspace.value())))
    return fail(std::string(kOutsideWorkspace));
  if (has_parent_component(parts)) return fail(std::string(kOutsideWorkspace));
  return {};
}

Status judge_relative(std::string_view path) {
  if (has_parent_component(components(path))) return fail(std::string(kOutsideWorkspace));
  return {};
}

}  // namespace

Status validate_relative_file_path(std::string_view path) {
  const std::string_view trimmed = json::trim_white_space(path);
  if (trimmed.empty()) return fail(std::string(kPathRequired));
  return is_absolute(trimmed) ? judge_absolute(trimmed) : judge_relative(trimmed);
}

}  // namespace varnock::mcp
