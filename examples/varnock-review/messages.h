// The lines a varnock-mcp server sends on the review socket, and the one
// line the reviewer sends back.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <variant>

namespace varnock::review {

// {"pid":..,"role":..,"threadId":..,"type":"hello"}: the first line of a
// connection.
struct Hello {
  std::string pid;  // decimal text, "?" when the member is not an integer
  std::string thread_id;
};

// {"id":..,"payload":{"after","before","explanationInMarkdown","path"},
//  "type":"proposal"}: one edit to put before the person.
struct Proposal {
  std::string id;
  std::string path;
  std::string before;
  std::string after;
  std::string explanation;  // Markdown, shown as text
};

// A line that is neither. `text` says why, for the person (empty for a
// blank line, which deserves no mention); `reject_id` is set when the line
// looks like a proposal with a usable "id" but cannot be read, so the server
// waiting on it can be told no.
struct Unusable {
  std::string text;
  std::optional<std::string> reject_id;
};

using ServerMessage = std::variant<Hello, Proposal, Unusable>;

// Reads one line as received, without its LF. Whitespace around the JSON
// text (a CR before the LF among it) is ignored.
ServerMessage read_message(std::string_view line);

// {"type":"decision","id":"<id>","accepted":true|false}, without the LF.
std::string decision_line(std::string_view id, bool accepted);

}  // namespace varnock::review
