// The exact reading path: one strict pass over the text that builds the
// value as it goes and, for a refused text, names the first fault with its
// position.
#pragma once

#include <string_view>

#include "base/result.h"
#include "json/value.h"

namespace varnock::json {

// Same contract as parse(), for every text; parse() takes this path for the
// texts the fast path refuses.
Result<Value> exact_parse(std::string_view text);

}  // namespace varnock::json
