// UTF-8 text helpers shared by every reader of lines.
#pragma once

#include <string_view>

namespace varnock::json {

// True when `bytes` is well-formed UTF-8 (no overlong forms, no surrogates,
// nothing above U+10FFFF).
bool is_valid_utf8(std::string_view bytes);

// `text` without the Unicode White_Space characters at either end. The 25
// characters are U+0009-U+000D, U+0020, U+0085, U+00A0, U+1680,
// U+2000-U+200A, U+2028, U+2029, U+202F, U+205F and U+3000. `text` must be
// valid UTF-8.
std::string_view trim_white_space(std::string_view text);

}  // namespace varnock::json
