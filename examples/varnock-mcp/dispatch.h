// The JSON-RPC endpoint: one parsed message in, an optional response out.
#pragma once

#include <functional>
#include <optional>
#include <string>

#include "base/result.h"
#include "json/value.h"
#include "mcp/schema.h"

namespace varnock {

// The review of a prepared write_file call: the outcome text of the tool
// result, or the failure text of the error response. The program binds
// request_review to its broker connection; tests pass their own.
using ReviewStep = std::function<Result<std::string>(mcp::VarnockMcpToolResult)>;

// Carries out `message` and returns its response object, or nothing when the
// message has no "id". `review` is called only for a write_file call that the
// write-file service has prepared. Every failure becomes an error response
// with code -32602.
std::optional<json::Value> handle_message(json::Value message, const ReviewStep& review);

// The tools/call result for an outcome text: {"content":[{"text":..,"type":"text"}]}.
json::Value text_tool_result(std::string text);

}  // namespace varnock
