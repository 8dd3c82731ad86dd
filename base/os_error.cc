#include "base/os_error.h"

#include <string.h>

namespace varnock {
namespace {

// strerror_r comes in two forms; these overloads accept either, so the text
// is taken from a caller-owned buffer and no shared static is touched.
[[maybe_unused]] const char* description_from(char* gnu_result, const char*) { return gnu_result; }
[[maybe_unused]] const char* description_from(int xsi_result, const char* buffer) {
  return xsi_result == 0 ? buffer : "Unknown error";
}

}  // namespace

std::string error_description(int error_number) {
  char buffer[256] = {};
  return description_from(strerror_r(error_number, buffer, sizeof buffer), buffer);
}

std::string os_error_text(int error_number) {
  return error_description(error_number) + " (os error " + std::to_string(error_number) + ')';
}

std::string system_error(std::string_view what, int error_number) {
  return std::string(what) + ": " + error_description(error_number);
}

}  // namespace varnock
