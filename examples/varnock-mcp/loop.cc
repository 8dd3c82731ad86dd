#include "loop.h"

#include <cstdint>
#include <optional>
#include <string>
#include <utility>

#include "base/io.h"
#include "base/result.h"
#include "dispatch.h"
#include "fd_output.h"
#include "json/parse.h"
#include "json/text.h"
#include "json/write.h"
#include "stdin_lines.h"

namespace varnock {
namespace {

constexpr std::int64_t kParseErrorCode = -32700;
constexpr std::string_view kParseErrorPrefix = "invalid JSON-RPC message: ";

// {"error":{"code":-32700,"message":...},"id":null,"jsonrpc":"2.0"}
json::Value parse_error_response(std::string_view parse_error) {
  json::Value::Object error;
  error.emplace("code", json::Value(kParseErrorCode));
  error.emplace("message", json::Value(std::string(kParseErrorPrefix).append(parse_error)));
  json::Value::Object response;
  response.emplace("error", json::Value(std::move(error)));
  response.emplace("id", json::Value(nullptr));
  response.emplace("jsonrpc", json::Value("2.0"));
  return json::Value(std::move(response));
}

// The response's compact text and a LF, in one write where the system allows.
// A failure (the host closed its end: EPIPE, as SIGPIPE is ignored) is not
// reported and costs only this response.
void write_response(int output_fd, const json::Value& response) {
  std::string line;
  json::write_to(response, line);
  line.push_back('\n');
  (void)write_all(output_fd, line);
}

// The message on one line: nothing for a line that is not valid UTF-8 or is
// blank, else the value or the parse failure of the whole untrimmed line.
std::optional<Result<json::Value>> read_message(std::string_view line,
                                                Result<json::Value> (*parse)(std::string_view)) {
  if (!json::is_valid_utf8(line)) return std::nullopt;
  if (json::trim_white_space(line).empty()) return std::nullopt;
  return parse(line);
}

// The parse-error response, or whatever handle_message gives.
std::optional<json::Value> answer_message(Result<json::Value> message, const ReviewStep& review) {
  if (!message.ok()) return parse_error_response(message.failure());
  return handle_message(std::move(message).value(), review);
}

}  // namespace

std::optional<json::Value> answer_line(std::string_view line, const ReviewStep& review) {
  std::optional<Result<json::Value>> message = read_message(line, &json::parse);
  if (!message) return std::nullopt;
  return answer_message(std::move(*message), review);
}

void run_message_loop(int input_fd, int output_fd, const ReviewStep& review) {
  StdinLines lines(input_fd);
  while (std::optional<std::string_view> line = lines.read_line()) {
    std::optional<Result<json::Value>> message = read_message(*line, &json::parse);
    // The line is not looked at again; a request may wait long for review.
    lines.release_memory();
    if (!message) continue;
    if (std::optional<json::Value> response = answer_message(std::move(*message), review)) {
      write_response(output_fd, *response);
    }
  }
}

}  // namespace varnock
