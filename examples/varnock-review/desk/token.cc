#include "token.h"

#include <sys/random.h>

#include <cerrno>
#include <cstdint>

#include "base/hex.h"
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
  return to_hex({reinterpret_cast<const char*>(bytes), sizeof bytes});
}

}  // namespace varnock::desk
