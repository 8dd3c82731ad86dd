// Texts from files and agents made fit for a JSON document a browser reads.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace varnock::desk {

// `text` with every byte that does not belong to a well-formed UTF-8
// sequence (overlong forms, surrogates and code points past U+10FFFF
// included) replaced by U+FFFD, one replacement per byte. Valid text comes
// back unchanged.
std::string valid_utf8(std::string_view text);

// The number of UTF-16 code units of the valid UTF-8 `text`: the unit a
// JavaScript string is indexed in.
std::size_t utf16_length(std::string_view text);

}  // namespace varnock::desk
