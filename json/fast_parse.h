// The fast reading path for valid texts.
#pragma once

#include <optional>
#include <string_view>

#include "json/value.h"

namespace varnock::json {

// The value of `text` when the fast parser can give exactly what
// exact_parse() gives; nullopt for every text it refuses or cannot
// represent exactly (errors, integers beyond 64 bits, nesting past the
// limit, an ambiguous "-0"), which then take the exact path.
std::optional<Value> fast_parse(std::string_view text);

}  // namespace varnock::json
