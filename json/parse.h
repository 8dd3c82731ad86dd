// Reading one JSON text into a Value: the entry point of the JSON layer.
//
// What must not change. Clients read these texts, so they are part of the
// wire, byte for byte:
// - A refused text's failure, "<message> at line <L> column <C>" (the
//   messages are in json/exact_parse.cc; lines count line feeds from 1,
//   columns count bytes); it is sent after "invalid JSON-RPC message: ".
// - What a text reads as: integers in the 64-bit ranges stay exact (u64
//   without a sign, i64 with one), "-0" is the float -0.0, other numbers
//   are the nearest double and must be finite (too small reads as a signed
//   zero), a later duplicate member replaces an earlier one, nesting stops
//   at kMaxDepth, a byte-order mark or NUL outside a string is refused.
// - How json/write.h writes a value back: members in ascending byte order,
//   its string escapes, its integer and float forms ("1.0", "1e-6",
//   "1e+16"); ids are echoed in that form.
// - The decoder messages of json/decode.h.
// tests/vectors/ pins all of these. Two paths read a text: simdjson for the
// valid texts it can represent exactly (json/fast_parse.h), and the strict
// reader for every other text (json/exact_parse.h); they must give the same
// value for every text the first one takes.
#pragma once

#include <cstddef>
#include <string>
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

// As parse(), for a text the caller gives up, by the exact path alone. The
// longest string that is an object member's value and spans at least
// `long_string` bytes of the text is decoded over the text's own bytes and
// keeps its buffer, so a text that is mostly one string costs its size
// once rather than twice; other such strings are copied out of it.
Result<Value> parse_taking(std::string&& text, std::size_t long_string = std::size_t{64} << 10);

}  // namespace varnock::json
