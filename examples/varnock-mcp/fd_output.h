// The server's diagnostics on standard error.
#pragma once

#include <string_view>

namespace varnock {

// Writes "[varnock-mcp] " + `text` + LF to standard error in one write. A
// diagnostic that cannot be written is dropped: there is nowhere to say so.
void write_diagnostic(std::string_view text);

}  // namespace varnock
