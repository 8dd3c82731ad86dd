#include "mcp/broker_protocol.h"

#include <utility>

#include "json/parse.h"
#include "json/text.h"
#include "json/write.h"

namespace varnock::mcp {
namespace {

constexpr std::string_view kHelloType = "hello";
constexpr std::string_view kProposalType = "proposal";
constexpr std::string_view kDecisionType = "decision";
constexpr std::string_view kMainRole = "main";

// The string member `key` of `value`, if it is one; const or not as `value`.
template <class V>
auto* string_member(V& value, std::string_view key) {
  auto* found = json::member(value, key);
  return found != nullptr && found->is_string() ? &found->as_string() : nullptr;
}

std::string take_string(json::Value& value, std::string_view key) {
  std::string* text = string_member(value, key);
  return text != nullptr ? std::move(*text) : std::string();
}

BrokerHello read_hello(json::Value& message) {
  BrokerHello hello;
  const json::Value* pid = json::member(message, "pid");
  if (pid != nullptr && pid->kind() == json::Value::Kind::kUnsigned) hello.pid = pid->as_unsigned();
  hello.role = take_string(message, "role");
  hello.thread_id = take_string(message, "threadId");
  return hello;
}

ServerMessage read_proposal(json::Value& message) {
  std::string* id = string_member(message, "id");
  if (id == nullptr) return UnusableLine{"a proposal without a string \"id\"", std::nullopt};
  json::Value* payload = json::member(message, "payload");
  std::string* path = payload ? string_member(*payload, "path") : nullptr;
  std::string* before = payload ? string_member(*payload, "before") : nullptr;
  std::string* after = payload ? string_member(*payload, "after") : nullptr;
  std::string* why = payload ? string_member(*payload, "explanationInMarkdown") : nullptr;
  if (!path || !before || !after || !why) {
    return UnusableLine{"proposal " + *id + " lacks one of the payload's four strings", *id};
  }
  return BrokerProposal{std::move(*id), VarnockEditProposal{std::move(*path), std::move(*before),
                                                            std::move(*after), std::move(*why)}};
}

}  // namespace

std::string hello_line(std::uint32_t pid, std::string_view thread_id) {
  json::Value::Object hello;
  hello.emplace("pid", json::Value(std::uint64_t{pid}));
  hello.emplace("role", json::Value(kMainRole));
  hello.emplace("threadId", json::Value(thread_id));
  hello.emplace("type", json::Value(kHelloType));
  std::string line = json::write(json::Value(std::move(hello)));
  line.push_back('\n');
  return line;
}

json::Value proposal_message(std::string id, VarnockEditProposal&& proposal) {
  json::Value::Object object;
  object.emplace("id", json::Value(std::move(id)));
  object.emplace("payload", to_value(std::move(proposal)));
  object.emplace("type", json::Value(kProposalType));
  return json::Value(std::move(object));
}

std::string decision_line(std::string_view id, bool accepted) {
  json::RecordWriter writer;
  writer.add("type", kDecisionType).add("id", id).add("accepted", accepted);
  return std::move(writer).finish();
}

bool is_decision_for(const json::Value& message, std::string_view id) {
  const std::string* type = string_member(message, "type");
  const std::string* decided = string_member(message, "id");
  return type != nullptr && *type == kDecisionType && decided != nullptr && *decided == id;
}

bool decision_accepts(const json::Value& decision) {
  const json::Value* accepted = json::member(decision, "accepted");
  return accepted != nullptr && accepted->is_bool() && accepted->as_bool();
}

ServerMessage read_server_message(std::string line) {
  if (!json::is_valid_utf8(line)) return UnusableLine{"a line that is not UTF-8", std::nullopt};
  const std::string_view text = json::trim_white_space(line);
  if (text.empty()) return UnusableLine{"", std::nullopt};
  const auto start = static_cast<std::size_t>(text.data() - line.data());
  line.resize(start + text.size());
  line.erase(0, start);
  Result<json::Value> parsed = json::parse_taking(std::move(line));
  if (!parsed.ok()) {
    return UnusableLine{"a line that is not JSON: " + parsed.failure(), std::nullopt};
  }
  const std::string* type = string_member(parsed.value(), "type");
  if (type != nullptr && *type == kHelloType) return read_hello(parsed.value());
  if (type != nullptr && *type == kProposalType) return read_proposal(parsed.value());
  return UnusableLine{"a message that is neither hello nor proposal", std::nullopt};
}

}  // namespace varnock::mcp
