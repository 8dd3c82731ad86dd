// The descriptor of the one tool, write_file.
#pragma once

#include <string_view>

#include "json/value.h"

namespace varnock {

inline constexpr std::string_view kWriteFileToolName = "write_file";

// The write_file descriptor: name, description and input schema.
json::Value write_file_descriptor();

}  // namespace varnock
