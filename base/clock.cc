#include "base/clock.h"

namespace varnock {

std::string utc_timestamp(std::time_t time) {
  std::tm parts{};
  ::gmtime_r(&time, &parts);
  char text[32];
  const std::size_t length = std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &parts);
  return std::string(text, length);
}

std::string utc_now() { return utc_timestamp(std::time(nullptr)); }

}  // namespace varnock
