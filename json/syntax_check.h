// Finds the first syntax error of a JSON text, with the system's message
// and position. parse() consults it only for texts the library refuses, so
// the messages never depend on how the library words its own.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace varnock::json {

// The error text "<message> at line <L> column <C>" of the first fault in
// `text`, or nullopt when `text` is exactly one valid JSON value (nesting at
// most kMaxDepth) with optional JSON whitespace around it.
std::optional<std::string> find_syntax_error(std::string_view text);

}  // namespace varnock::json
