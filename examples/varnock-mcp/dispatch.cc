#include "dispatch.h"

#include <cstdint>
#include <string_view>
#include <utility>

#include "base/result.h"
#include "catalogue.h"
#include "mcp/schema.h"
#include "mcp/server.h"
#include "varnock/version.h"

namespace varnock {
namespace {

constexpr std::string_view kJsonRpcVersion = "2.0";
// Every failure a method reports goes out with this code (invalid params),
// an unsupported method included.
constexpr std::int64_t kFailureCode = -32602;

constexpr std::string_view kInitialize = "initialize";
constexpr std::string_view kToolsList = "tools/list";
constexpr std::string_view kToolsCall = "tools/call";

constexpr std::string_view kProtocolVersion = "2025-06-18";
constexpr std::string_view kServerName = "varnock-mcp";

constexpr std::string_view kUnsupportedMethod = "unsupported method: ";
constexpr std::string_view kToolNameRequired = "tool name is required";
constexpr std::string_view kUnknownTool = "unknown tool: ";

// Takes the member `key` out of `value`, when `value` is an object that has it.
std::optional<json::Value> take_member(json::Value& value, std::string_view key) {
  json::Value* found = json::member(value, key);
  if (found == nullptr) return std::nullopt;
  return std::move(*found);
}

json::Value success_response(json::Value id, json::Value result) {
  json::Value::Object response;
  response.emplace("id", std::move(id));
  response.emplace("jsonrpc", json::Value(kJsonRpcVersion));
  response.emplace("result", std::move(result));
  return json::Value(std::move(response));
}

json::Value error_response(json::Value id, std::string message) {
  json::Value::Object error;
  error.emplace("code", json::Value(kFailureCode));
  error.emplace("message", json::Value(std::move(message)));
  json::Value::Object response;
  response.emplace("error", json::Value(std::move(error)));
  response.emplace("id", std::move(id));
  response.emplace("jsonrpc", json::Value(kJsonRpcVersion));
  return json::Value(std::move(response));
}

// The same for every request: the client's "params" are not read.
json::Value initialize_result() {
  json::Value::Object capabilities;
  capabilities.emplace("tools", json::Value(json::Value::Object()));
  json::Value::Object server_info;
  server_info.emplace("name", json::Value(kServerName));
  server_info.emplace("version", json::Value(kVersion));
  json::Value::Object result;
  result.emplace("capabilities", json::Value(std::move(capabilities)));
  result.emplace("protocolVersion", json::Value(kProtocolVersion));
  result.emplace("serverInfo", json::Value(std::move(server_info)));
  return json::Value(std::move(result));
}

json::Value tools_list_result() {
  json::Value::Array tools;
  tools.push_back(write_file_descriptor());
  json::Value::Object result;
  result.emplace("tools", json::Value(std::move(tools)));
  return json::Value(std::move(result));
}

// The write_file call: decode, the write-file service, then the review,
// each step only when the one before succeeded. The arguments are moved all
// the way down, as "content" may be very large.
Result<json::Value> call_write_file(json::Value arguments, const ReviewStep& review) {
  Result<mcp::WriteFilePayload> payload = mcp::decode_write_file_payload(std::move(arguments));
  if (!payload.ok()) return fail(std::move(payload).failure());
  Result<mcp::VarnockMcpToolResult> prepared =
      mcp::VarnockMcpServer{}.write_file(std::move(payload).value());
  if (!prepared.ok()) return fail(std::move(prepared).failure());
  Result<std::string> outcome = review(std::move(prepared).value());
  if (!outcome.ok()) return fail(std::move(outcome).failure());
  return text_tool_result(std::move(outcome).value());
}

// tools/call: the tool name is checked before it is compared, and compared
// before anything is decoded, so a bad call never reaches the review.
Result<json::Value> call_tool(std::optional<json::Value> params, const ReviewStep& review) {
  json::Value call = params ? std::move(*params) : json::Value(json::Value::Object());
  const json::Value* name = json::member(call, "name");
  if (name == nullptr || !name->is_string()) return fail(std::string(kToolNameRequired));
  if (name->as_string() != kWriteFileToolName) {
    return fail(std::string(kUnknownTool).append(name->as_string()));
  }
  std::optional<json::Value> arguments = take_member(call, "arguments");
  return call_write_file(arguments ? std::move(*arguments) : json::Value(json::Value::Object()),
                         review);
}

Result<json::Value> run_method(std::string_view method, json::Value& message,
                               const ReviewStep& review) {
  if (method == kInitialize) return initialize_result();
  if (method == kToolsList) return tools_list_result();
  if (method == kToolsCall) return call_tool(take_member(message, "params"), review);
  return fail(std::string(kUnsupportedMethod).append(method));
}

}  // namespace

std::optional<json::Value> handle_message(json::Value message, const ReviewStep& review) {
  std::optional<json::Value> id = take_member(message, "id");
  const json::Value* method_member = json::member(message, "method");
  std::string method = method_member != nullptr && method_member->is_string()
                           ? method_member->as_string()
                           : std::string();
  // A notification is never carried out, whatever its method.
  if (!id) return std::nullopt;
  Result<json::Value> result = run_method(method, message, review);
  if (!result.ok()) return error_response(std::move(*id), std::move(result).failure());
  return success_response(std::move(*id), std::move(result).value());
}

json::Value text_tool_result(std::string text) {
  json::Value::Object item;
  item.emplace("text", json::Value(std::move(text)));
  item.emplace("type", json::Value("text"));
  json::Value::Array content;
  content.emplace_back(std::move(item));
  json::Value::Object result;
  result.emplace("content", json::Value(std::move(content)));
  return json::Value(std::move(result));
}

}  // namespace varnock
