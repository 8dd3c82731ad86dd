#include "system_error.h"

#include <cstring>

namespace varnock::review {

std::string system_error(std::string_view what, int error_number) {
  std::string text(what);
  text += ": ";
  text += std::strerror(error_number);
  return text;
}

}  // namespace varnock::review
