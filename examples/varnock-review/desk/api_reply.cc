#include "api_reply.h"

#include <charconv>

#include "diff_model.h"
#include "json/write.h"
#include "request_check.h"
#include "utf8_text.h"

namespace varnock::desk {

Reply json_error(int status, std::string_view message) {
  json::Value::Object object;
  object["error"] = json::Value(std::string(message));
  return {status, "application/json", json::write(json::Value(std::move(object)))};
}

json::Value json_text(std::string_view value) { return json::Value(valid_utf8(value)); }

std::size_t number_or(std::string_view text, std::size_t fallback) {
  std::size_t number = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), number);
  return error == std::errc() && end == text.data() + text.size() ? number : fallback;
}

Reply lines_reply(const TextLines& text, std::string_view target) {
  const std::size_t from = number_or(query_value(target, "from"), 0);
  const std::size_t count = number_or(query_value(target, "count"), 0);
  if (from == 0 || count == 0 || count > kMaxLinesPerRequest) return json_error(400, "bad range");
  return {200, "application/json", lines_json(text, from, count)};
}

std::size_t cursor_of(std::string_view target) {
  return number_or(query_value(target, "from"), kNoCursor);
}

}  // namespace varnock::desk
