#include "token.h"

#include <sys/random.h>

#include <cerrno>
#include <cstdint>

#include "base/os_error.h"

namespace varnock::desk {

Result<std::string> random_token() {
  std::uint8_t bytes[32];
  std::size_t filled = 0;
  while (filled < sizeof bytes) {
    const ssize_t count = ::getrandom(bytes + filled, sizeof bytes - filled, 0);
    if (count < 0 && errno == EINTR) continue;
    if (count < 0) return fail(system_error("cannot read random bytes", errno));
    filled += static_cast<std::size_t>(count);
  }
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string token;
  for (const std::uint8_t byte : bytes) {
    token += kDigits[byte >> 4];
    token += kDigits[byte & 0xF];
  }
  return token;
}

}  // namespace varnock::desk
