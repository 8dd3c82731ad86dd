// The desk's secret (kept across runs by system/kept_token.h).
#pragma once

#include <string>

#include "base/result.h"

namespace varnock::desk {

// 256 bits from the kernel's random source (getrandom), as 64 lowercase
// hexadecimal digits: safe in a URL, a cookie and a header.
Result<std::string> random_token();

}  // namespace varnock::desk
