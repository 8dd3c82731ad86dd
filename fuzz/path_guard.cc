// The path guard on any UTF-8 text: an accepted path, once trimmed, has no
// ".." component, and an accepted absolute path lies under the working
// directory by whole components.
#include "mcp/path_guard.h"

#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "json/text.h"

namespace {

bool has_parent_component(std::string_view path) {
  std::size_t start = 0;
  while (start <= path.size()) {
    std::size_t end = path.find('/', start);
    if (end == std::string_view::npos) end = path.size();
    if (path.substr(start, end - start) == "..") return true;
    start = end + 1;
  }
  return false;
}

bool under(std::string_view path, std::string_view directory) {
  if (directory == "/") return true;
  if (path.substr(0, directory.size()) != directory) return false;
  return path.size() == directory.size() || path[directory.size()] == '/';
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view path(reinterpret_cast<const char*>(data), size);
  if (!varnock::json::is_valid_utf8(path)) return 0;
  if (!varnock::mcp::validate_relative_file_path(path).ok()) return 0;
  std::string_view trimmed = varnock::json::trim_white_space(path);
  if (trimmed.empty() || has_parent_component(trimmed)) std::abort();
  if (trimmed.front() == '/') {
    char cwd[4096];
    if (getcwd(cwd, sizeof cwd) == nullptr) return 0;
    // Repeated and trailing separators and "." components may differ; the
    // guard compares components, so only a plain prefix is checked here.
    std::string_view directory(cwd);
    if (trimmed.find("//") == std::string_view::npos &&
        trimmed.find("/./") == std::string_view::npos && !under(trimmed, directory)) {
      std::abort();
    }
  }
  return 0;
}
