// The write-file service: checks a write_file request and prepares its
// proposal and receipt. It never writes, creates or truncates a file.
#pragma once

#include "base/result.h"
#include "mcp/schema.h"

namespace varnock::mcp {

class VarnockMcpServer {
 public:
  // Checks the path, the content and the explanation in that order, then
  // reads the file's present content (empty when it cannot be read).
  Result<VarnockMcpToolResult> write_file(WriteFilePayload payload) const;
};

}  // namespace varnock::mcp
