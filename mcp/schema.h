// The records of a write_file call and the messages on the broker socket.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "base/result.h"
#include "json/value.h"

namespace varnock::mcp {

// The tool's arguments as the agent sends them.
struct WriteFilePayload {
  std::string path;
  std::string content;
  std::string explanation_in_markdown;
};

// What the reviewer is shown.
struct VarnockEditProposal {
  std::string path;
  std::string before;
  std::string after;
  std::string explanation_in_markdown;
};

// The tool call's answer on acceptance, or when no review takes place.
struct VarnockMcpReceipt {
  bool received = false;
  std::string path;
  std::string message;
};

// What the write-file service prepares and the review round trip consumes.
// Without a proposal no review takes place.
struct VarnockMcpToolResult {
  VarnockMcpReceipt receipt;
  std::optional<VarnockEditProposal> proposal;
};

// Decodes the tool's arguments; strings are moved out of `value`. Fails with
// the decoder's message ("missing field `path`", "invalid type: ...").
Result<WriteFilePayload> decode_write_file_payload(json::Value&& value);

// The receipt's text, members in declared order: received, path, message.
std::string encode_receipt(const VarnockMcpReceipt& receipt);

// The proposal as an object value (so it is written with sorted members).
json::Value to_value(VarnockEditProposal&& proposal);

}  // namespace varnock::mcp
