// Reading one JSON text into a Value.
#pragma once

#include <string_view>

#include "json/result.h"
#include "json/value.h"

namespace varnock::json {

// Arrays and objects nest at most this deep; a top-level array is depth 1.
inline constexpr int kMaxDepth = 127;

// Parses `text`, which must be valid UTF-8, as exactly one JSON value with
// optional JSON whitespace around it. A failure's text is
// "<message> at line <L> column <C>".
Result<Value> parse(std::string_view text);

}  // namespace varnock::json
