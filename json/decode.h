// Building blocks for decoding a Value into a record: the decoder messages.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "json/value.h"

namespace varnock::json {

// How a decoder message names a value it found: "null", "boolean `true`",
// "integer `5`", "floating point `1.5`", "string \"...\"", "sequence", "map".
std::string describe_found(const Value& value);

// "invalid type: <found>, expected <expected>"
std::string invalid_type(const Value& found, std::string_view expected);
// "missing field `<name>`"
std::string missing_field(std::string_view name);
// "invalid length <length>, expected <expected>"
std::string invalid_length(std::size_t length, std::string_view expected);

}  // namespace varnock::json
