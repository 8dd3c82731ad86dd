// The exact reading path: the library's SAX events build the value, and a
// refused text gets its error from the syntax checker.
#pragma once

#include <string_view>

#include "base/result.h"
#include "json/value.h"

namespace varnock::json {

// Same contract as parse(); correct for every text, at the library's speed.
Result<Value> exact_parse(std::string_view text);

}  // namespace varnock::json
