// Describing operating-system failures to the person at the terminal.
#pragma once

#include <string>
#include <string_view>

namespace varnock::review {

// "<what>: <the system's text for error_number>", e.g.
// "cannot open /dev/tty: No such device or address".
std::string system_error(std::string_view what, int error_number);

}  // namespace varnock::review
