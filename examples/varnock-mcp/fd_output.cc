#include "fd_output.h"

#include <unistd.h>

#include <cerrno>
#include <string>

namespace varnock {
namespace {

constexpr std::string_view kDiagnosticPrefix = "[varnock-mcp] ";

}  // namespace

bool write_all(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    ssize_t written = ::write(fd, bytes.data(), bytes.size());
    if (written < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    bytes.remove_prefix(static_cast<std::size_t>(written));
  }
  return true;
}

void write_diagnostic(std::string_view text) {
  std::string line;
  line.reserve(kDiagnosticPrefix.size() + text.size() + 1);
  line.append(kDiagnosticPrefix).append(text).push_back('\n');
  (void)write_all(STDERR_FILENO, line);
}

}  // namespace varnock
