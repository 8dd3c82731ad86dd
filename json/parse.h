// Reading one JSON text into a Value.
#pragma once

#include <cstddef>
#include <string_view>

#include "base/result.h"
#include "json/value.h"

namespace varnock::json {

// Arrays and objects nest at most this deep; a top-level array is depth 1.
inline constexpr int kMaxDepth = 127;

// Parses `text`, which must be valid UTF-8, as exactly one JSON value with
// optional JSON whitespace around it. A failure's text is
// "<message> at line <L> column <C>".
Result<Value> parse(std::string_view text);

// How many readable bytes parse_padded() needs after its text.
inline constexpr std::size_t kParsePadding = 64;

// parse() for a text followed in memory by at least kParsePadding readable
// bytes, of any value; the fast path then reads the text where it lies
// instead of copying it first.
Result<Value> parse_padded(std::string_view text);

}  // namespace varnock::json
