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
// `padded` promises kParsePadding readable bytes after the text, which is
// then read in place; otherwise the parser works on a padded copy.
std::optional<Value> fast_parse(std::string_view text, bool padded = false);

}  // namespace varnock::json
