// The JSON-RPC endpoint: one parsed message in, an optional response out.
#pragma once

#include <optional>
#include <string>

#include "broker_connection.h"
#include "json/value.h"

namespace varnock {

// Carries out `message` and returns its response object, or nothing when the
// message has no "id". `broker` is the connection or nullptr, lent for the
// call. Every failure becomes an error response with code -32602.
std::optional<json::Value> handle_message(json::Value message, BrokerConnection* broker);

// The tools/call result for an outcome text: {"content":[{"text":..,"type":"text"}]}.
json::Value text_tool_result(std::string text);

}  // namespace varnock
