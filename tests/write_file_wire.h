// Shared pieces of the write_file wire tests: the built program on pipes, a
// scripted broker on a real Unix-domain socket, and the exact lines expected.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <regex>
#include <string>
#include <string_view>

#include "json/parse.h"
#include "json/value.h"
#include "json/write.h"
#include "support/broker.h"
#include "support/process.h"
#include "support/temp_dir.h"

namespace varnock::test {

inline constexpr const char* kAcceptedMessage = "file written and accepted by reviewer";
inline constexpr const char* kRejected = "The request has been rejected.";
inline constexpr const char* kClosedBeforeDecision = "broker closed connection before decision";

inline std::string quoted(const std::string& text) {
  std::string out;
  json::write_string(text, out);
  return out;
}

// The hello line a server sends first, without its line feed: its pid, and
// its thread id as the JSON text it writes.
inline std::string hello(std::string_view pid, const std::string& thread_id_json) {
  return R"({"pid":)" + std::string(pid) + R"(,"role":"main","threadId":)" + thread_id_json +
         R"(,"type":"hello"})";
}

// The request line of a write_file call.
inline std::string write_file_call(std::int64_t id, const std::string& path,
                                   const std::string& content, const std::string& explanation) {
  return "{\"id\":" + std::to_string(id) +
         ",\"jsonrpc\":\"2.0\",\"method\":\"tools/call\",\"params\":{\"arguments\":{"
         "\"content\":" +
         quoted(content) + ",\"explanationInMarkdown\":" + quoted(explanation) +
         ",\"path\":" + quoted(path) + "},\"name\":\"write_file\"}}\n";
}

// The receipt text, members in declared order.
inline std::string receipt(const std::string& path, const std::string& message) {
  return "{\"received\":true,\"path\":" + quoted(path) + ",\"message\":" + quoted(message) + "}";
}

// The response line carrying `text` as the tool result.
inline std::string result_response(std::int64_t id, const std::string& text) {
  return "{\"id\":" + std::to_string(id) +
         ",\"jsonrpc\":\"2.0\",\"result\":{\"content\":[{\"text\":" + quoted(text) +
         ",\"type\":\"text\"}]}}";
}

inline std::string error_response(std::int64_t id, const std::string& message) {
  return "{\"error\":{\"code\":-32602,\"message\":" + quoted(message) +
         "},\"id\":" + std::to_string(id) + ",\"jsonrpc\":\"2.0\"}";
}

// The proposal line the broker must receive, without its line feed.
inline std::string proposal_line(const std::string& id, const std::string& path,
                                 const std::string& before, const std::string& after,
                                 const std::string& explanation) {
  return "{\"id\":" + quoted(id) + ",\"payload\":{\"after\":" + quoted(after) +
         ",\"before\":" + quoted(before) + ",\"explanationInMarkdown\":" + quoted(explanation) +
         ",\"path\":" + quoted(path) + "},\"type\":\"proposal\"}";
}

// A decision line as a broker writes it, without its line feed.
inline std::string decision(const std::string& id, bool accepted) {
  return "{\"type\":\"decision\",\"id\":" + quoted(id) +
         ",\"accepted\":" + (accepted ? "true" : "false") + "}";
}

// The "id" of a proposal line, or "" when the line has none.
inline std::string id_of(const std::string& line) {
  Result<json::Value> value = json::parse(line);
  if (!value.ok()) return "";
  const json::Value* id = json::member(value.value(), "id");
  return id != nullptr && id->is_string() ? id->as_string() : "";
}

// True when `id` is "edit-<nanoseconds>-<sequence>" with that sequence number;
// nanoseconds since the epoch have 19 digits from 2001 to 2286.
inline bool is_proposal_id(const std::string& id, std::uint64_t sequence) {
  return std::regex_match(id, std::regex("^edit-[1-9][0-9]{18}-" + std::to_string(sequence) + "$"));
}

// A server connected to a TestBroker, started in a scratch workspace.
class BrokerWireTest : public ::testing::Test {
 protected:
  void SetUp() override {
    broker_.emplace(sockets_.file("broker.sock"));
    ProcessOptions options;
    options.environment = {{"VARNOCK_SOCKET", broker_->socket_path()},
                           {"VARNOCK_THREAD_ID", "t-wire"}};
    options.working_directory = workspace_.path();
    server_.emplace(options);
    ASSERT_TRUE(broker_->accept());
    std::optional<std::string> hello = broker_->read_line();
    ASSERT_TRUE(hello.has_value());
    ASSERT_EQ(hello->rfind("{\"pid\":", 0), 0u) << *hello;
  }

  // A review left pending ends with the connection; every run exits with 0.
  void TearDown() override {
    broker_->close_connection();
    EXPECT_EQ(server_->finish(), 0);
  }

  // Sends one write_file call and gives the proposal line the broker gets.
  std::string propose(std::int64_t id, const std::string& path, const std::string& content,
                      const std::string& explanation) {
    server_->write(write_file_call(id, path, content, explanation));
    return broker_->read_line().value_or("<no proposal>");
  }

  std::string response() { return server_->read_line().value_or("<no response>"); }

  // The standard error expected besides the broker's start-up line.
  std::string err_after_start() {
    const std::string start = "[varnock-mcp] connected broker " + broker_->socket_path() + "\n";
    std::string err = server_->err();
    if (err.rfind(start, 0) != 0) return "<unexpected start> " + err;
    return err.substr(start.size());
  }

  TempDir workspace_;
  TempDir sockets_;
  std::optional<TestBroker> broker_;
  std::optional<ServerProcess> server_;
};

}  // namespace varnock::test
