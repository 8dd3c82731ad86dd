// Bytes as text: digests, tokens and nonces.
#pragma once

#include <string>
#include <string_view>

namespace varnock {

// `bytes` as lowercase hexadecimal digits, two a byte.
std::string to_hex(std::string_view bytes);

}  // namespace varnock
