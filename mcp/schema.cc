#include "mcp/schema.h"

#include <array>
#include <utility>

#include "json/decode.h"
#include "json/write.h"

namespace varnock::mcp {
namespace {

// Wire names of the payload members, in declared order.
constexpr std::string_view kPath = "path";
constexpr std::string_view kContent = "content";
constexpr std::string_view kExplanation = "explanationInMarkdown";
constexpr std::array<std::string_view, 3> kPayloadMembers = {kPath, kContent, kExplanation};

// What the decoder messages say it expected.
constexpr std::string_view kExpectedString = "a string";
constexpr std::string_view kExpectedPayload = "struct WriteFilePayload";
constexpr std::string_view kExpectedThreeElements = "struct WriteFilePayload with 3 elements";
constexpr std::string_view kExpectedFewerElements = "fewer elements in array";

// The payload's members by declared position; empty until decoded.
using PayloadSlots = std::array<std::optional<std::string>, 3>;

WriteFilePayload payload_from(PayloadSlots&& slots) {
  return WriteFilePayload{std::move(*slots[0]), std::move(*slots[1]), std::move(*slots[2])};
}

// Moves the string out of `value` into `slot`, or names the wrong kind.
Status take_string(json::Value& value, std::optional<std::string>& slot) {
  if (!value.is_string()) return fail(json::invalid_type(value, kExpectedString));
  slot = std::move(value.as_string());
  return {};
}

// The position of `name` among the payload members, or -1 for any other name.
int payload_member_index(std::string_view name) {
  for (std::size_t i = 0; i < kPayloadMembers.size(); ++i) {
    if (kPayloadMembers[i] == name) return static_cast<int>(i);
  }
  return -1;
}

// Walks the members in key order, failing on the first payload member of the
// wrong kind; only then are absent members reported, in declared order.
Result<WriteFilePayload> decode_object(json::Value::Object& object) {
  PayloadSlots slots;
  for (auto& [name, value] : object) {
    const int index = payload_member_index(name);
    if (index < 0) continue;
    if (Status taken = take_string(value, slots[index]); !taken.ok()) {
      return fail(taken.failure());
    }
  }
  for (std::size_t i = 0; i < slots.size(); ++i) {
    if (!slots[i]) return fail(json::missing_field(kPayloadMembers[i]));
  }
  return payload_from(std::move(slots));
}

// Takes the elements as path, content and explanation, one after the other.
Result<WriteFilePayload> decode_array(json::Value::Array& array) {
  PayloadSlots slots;
  for (std::size_t i = 0; i < slots.size(); ++i) {
    if (i >= array.size()) return fail(json::invalid_length(array.size(), kExpectedThreeElements));
    if (Status taken = take_string(array[i], slots[i]); !taken.ok()) {
      return fail(taken.failure());
    }
  }
  if (array.size() > slots.size()) {
    return fail(json::invalid_length(array.size(), kExpectedFewerElements));
  }
  return payload_from(std::move(slots));
}

}  // namespace

Result<WriteFilePayload> decode_write_file_payload(json::Value&& value) {
  if (value.is_object()) return decode_object(value.as_object());
  if (value.is_array()) return decode_array(value.as_array());
  return fail(json::invalid_type(value, kExpectedPayload));
}

std::string encode_receipt(const VarnockMcpReceipt& receipt) {
  json::RecordWriter writer;
  writer.add("received", receipt.received)
      .add("path", receipt.path)
      .add("message", receipt.message);
  return std::move(writer).finish();
}

json::Value to_value(VarnockEditProposal&& proposal) {
  json::Value::Object object;
  object.emplace("path", json::Value(std::move(proposal.path)));
  object.emplace("before", json::Value(std::move(proposal.before)));
  object.emplace("after", json::Value(std::move(proposal.after)));
  object.emplace("explanationInMarkdown", json::Value(std::move(proposal.explanation_in_markdown)));
  return json::Value(std::move(object));
}

}  // namespace varnock::mcp
