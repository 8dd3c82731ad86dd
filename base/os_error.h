// The operating system's words for an error number.
#pragma once

#include <string>
#include <string_view>

namespace varnock {

// The system's description alone, e.g. "Broken pipe".
std::string error_description(int error_number);

// "<description> (os error <number>)", e.g. "Broken pipe (os error 32)":
// the form the tool server reports to the agent and on its diagnostics.
std::string os_error_text(int error_number);

// "<what>: <description>", e.g. "cannot open /dev/tty: No such device or
// address": the form shown to the person running the reviewer.
std::string system_error(std::string_view what, int error_number);

}  // namespace varnock
