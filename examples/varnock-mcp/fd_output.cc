#include "fd_output.h"

#include <unistd.h>

#include <string>

#include "base/io.h"

namespace varnock {
namespace {

constexpr std::string_view kDiagnosticPrefix = "[varnock-mcp] ";

}  // namespace

void write_diagnostic(std::string_view text) {
  std::string line;
  line.reserve(kDiagnosticPrefix.size() + text.size() + 1);
  line.append(kDiagnosticPrefix).append(text).push_back('\n');
  (void)write_all(STDERR_FILENO, line);
}

}  // namespace varnock
