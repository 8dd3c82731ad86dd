// The operating system's text for an error number.
#pragma once

#include <string>

namespace varnock::mcp {

// "<description> (os error <number>)", e.g. "Broken pipe (os error 32)".
std::string os_error_text(int error_number);

}  // namespace varnock::mcp
