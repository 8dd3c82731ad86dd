#include "messages.h"

#include "json/parse.h"
#include "json/text.h"
#include "json/value.h"
#include "json/write.h"

namespace varnock::review {
namespace {

using json::Value;

constexpr std::string_view kHello = "hello";
constexpr std::string_view kProposal = "proposal";
constexpr std::string_view kDecision = "decision";

// The string member `key` of `object`, if it is one.
const std::string* string_member(const Value& object, std::string_view key) {
  const Value* found = json::member(object, key);
  if (found == nullptr || !found->is_string()) return nullptr;
  return &found->as_string();
}

std::string pid_text(const Value* pid) {
  if (pid == nullptr) return "?";
  if (pid->kind() == Value::Kind::kUnsigned) return std::to_string(pid->as_unsigned());
  if (pid->kind() == Value::Kind::kSigned) return std::to_string(pid->as_signed());
  return "?";
}

Hello read_hello(const Value& message) {
  const std::string* thread = string_member(message, "threadId");
  return Hello{pid_text(json::member(message, "pid")), thread ? *thread : ""};
}

ServerMessage read_proposal(const Value& message) {
  const std::string* id = string_member(message, "id");
  if (id == nullptr) return Unusable{"a proposal without a string \"id\"", std::nullopt};
  const Value* payload = json::member(message, "payload");
  const std::string* path = payload ? string_member(*payload, "path") : nullptr;
  const std::string* before = payload ? string_member(*payload, "before") : nullptr;
  const std::string* after = payload ? string_member(*payload, "after") : nullptr;
  const std::string* why = payload ? string_member(*payload, "explanationInMarkdown") : nullptr;
  if (!path || !before || !after || !why) {
    return Unusable{"proposal " + *id + " lacks one of the payload's four strings", *id};
  }
  return Proposal{*id, *path, *before, *after, *why};
}

}  // namespace

ServerMessage read_message(std::string_view line) {
  if (!json::is_valid_utf8(line)) return Unusable{"a line that is not UTF-8", std::nullopt};
  const std::string_view text = json::trim_white_space(line);
  if (text.empty()) return Unusable{"", std::nullopt};
  Result<Value> parsed = json::parse(text);
  if (!parsed.ok()) return Unusable{"a line that is not JSON: " + parsed.failure(), std::nullopt};
  const std::string* type = string_member(parsed.value(), "type");
  if (type != nullptr && *type == kHello) return read_hello(parsed.value());
  if (type != nullptr && *type == kProposal) return read_proposal(parsed.value());
  return Unusable{"a message that is neither hello nor proposal", std::nullopt};
}

std::string decision_line(std::string_view id, bool accepted) {
  json::RecordWriter writer;
  writer.add("type", kDecision).add("id", id).add("accepted", accepted);
  return std::move(writer).finish();
}

}  // namespace varnock::review
