// What the desk's JSON routes reply, and the pieces of a reply they share.
#pragma once

#include <cstddef>
#include <limits>
#include <string>
#include <string_view>

#include "json/value.h"
#include "text_lines.h"

namespace varnock::desk {

// At most this many lines per lines request.
inline constexpr std::size_t kMaxLinesPerRequest = 5000;

struct Reply {
  int status = 200;
  std::string content_type = "application/json";
  std::string body;
};

// {"error":"message"} with `status`.
Reply json_error(int status, std::string_view message);
// A JSON string of `value` made valid UTF-8 first.
json::Value json_text(std::string_view value);
// The decimal number `text` is, or `fallback` when it is not one.
std::size_t number_or(std::string_view text, std::size_t fallback);

// The reply to a lines request: the lines "?from=F&count=C" of `text`
// names, or 400 for a range that is not 1 <= F, 1 <= C <= kMaxLinesPerRequest.
Reply lines_reply(const TextLines& text, std::string_view target);

// The item "?from=K" names, or kNoCursor when K is no number.
inline constexpr std::size_t kNoCursor = std::numeric_limits<std::size_t>::max();
std::size_t cursor_of(std::string_view target);

}  // namespace varnock::desk
