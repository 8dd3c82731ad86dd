// Keeps every path of a write_file call inside the workspace, the process's
// current working directory.
#pragma once

#include <string_view>

#include "base/result.h"

namespace varnock::mcp {

// Judges `path` lexically after trimming Unicode White_Space: it must not be
// empty, must have no ".." component, and when absolute must lie under the
// current working directory (asked anew on every call), compared by whole
// components. Never consults the file system otherwise.
Status validate_relative_file_path(std::string_view path);

}  // namespace varnock::mcp
