// The lines a tool server and a review broker exchange on the broker's
// Unix-domain socket, built and recognised in one place. Each message is one
// compact JSON object on one line ending in LF; docs/broker-protocol.md
// describes the conversation for people writing a broker.
//
//   server -> broker  {"pid":731,"role":"main","threadId":"t-9","type":"hello"}
//   server -> broker  {"id":"edit-..","payload":{"after","before",
//                      "explanationInMarkdown","path"},"type":"proposal"}
//   broker -> server  {"type":"decision","id":"edit-..","accepted":true}
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

#include "json/value.h"
#include "mcp/schema.h"

namespace varnock::mcp {

// The longest present content a server reads and sends as a proposal's
// "before"; a longer file goes as the empty text. A broker need read no
// further to know that such a file cannot be what the agent read.
constexpr std::size_t kMaxPresentContent = std::size_t{256} << 20;

// The hello line, with its LF, that opens every connection.
std::string hello_line(std::uint32_t pid, std::string_view thread_id);

// The "proposal" message: {"id", "payload", "type"}, members sorted.
json::Value proposal_message(std::string id, VarnockEditProposal&& proposal);

// The decision line on proposal `id`, without its LF.
std::string decision_line(std::string_view id, bool accepted);

// True when `message` is the "decision" on the proposal `id`.
bool is_decision_for(const json::Value& message, std::string_view id);
// True only when the decision's "accepted" is the boolean true.
bool decision_accepts(const json::Value& decision);

// What a broker reads from a server's line.
struct BrokerHello {
  std::optional<std::uint64_t> pid;  // absent when not a non-negative integer
  std::string role;
  std::string thread_id;
};

struct BrokerProposal {
  std::string id;
  VarnockEditProposal edit;
};

// A line that is neither. `reason` says why, for the person (empty for a
// blank line, which deserves no mention); `reject_id` is set when the line
// is a proposal with a usable "id" whose payload cannot be read, so the
// server waiting on it can be told no.
struct UnusableLine {
  std::string reason;
  std::optional<std::string> reject_id;
};

using ServerMessage = std::variant<BrokerHello, BrokerProposal, UnusableLine>;

// Reads one line from a server, with or without its LF; whitespace around
// the JSON text is ignored. The longest string is decoded within the
// line's own buffer, so a line that is mostly one file costs its size once.
ServerMessage read_server_message(std::string line);

}  // namespace varnock::mcp
