// The broker protocol: the lines a server sends and a broker reads, and
// the decision a broker sends back.
#include "mcp/broker_protocol.h"

#include <gtest/gtest.h>

#include <string>

#include "json/parse.h"
#include "json/write.h"

namespace varnock::mcp {
namespace {

json::Value parsed(const std::string& text) {
  Result<json::Value> value = json::parse(text);
  EXPECT_TRUE(value.ok()) << text << ": " << (value.ok() ? "" : value.failure());
  return value.ok() ? std::move(value).value() : json::Value();
}

TEST(HelloLine, SortedMembersAndALineFeed) {
  EXPECT_EQ(hello_line(731, "t-9"), R"({"pid":731,"role":"main","threadId":"t-9","type":"hello"})"
                                    "\n");
}

TEST(DecisionLine, TypeIdAcceptedInThatOrder) {
  EXPECT_EQ(decision_line("e\"1", false), R"({"type":"decision","id":"e\"1","accepted":false})");
  EXPECT_TRUE(is_decision_for(parsed(decision_line("edit-7", true)), "edit-7"));
  EXPECT_TRUE(decision_accepts(parsed(decision_line("edit-7", true))));
}

TEST(ProposalMessage, SortedMembersAndThePayloadObject) {
  json::Value message =
      proposal_message("edit-1764936000500000000-0",
                       VarnockEditProposal{"notes.txt", "", "hello\n", "- adds a greeting"});
  EXPECT_EQ(
      json::write(message),
      R"({"id":"edit-1764936000500000000-0","payload":{"after":"hello\n","before":"",)"
      R"("explanationInMarkdown":"- adds a greeting","path":"notes.txt"},"type":"proposal"})");
}

struct DecisionCase {
  const char* line;
  bool for_edit_7;
  bool accepts;
};

const DecisionCase kDecisionCases[] = {
    {R"({"type":"decision","id":"edit-7","accepted":true})", true, true},
    {R"({"accepted":true,"id":"edit-7","type":"decision"})", true, true},
    {R"({"type":"decision","id":"edit-7","accepted":true,"reason":"ok","x":null})", true, true},
    {R"({"type":"decision","id":"edit-7","accepted":false})", true, false},
    {R"({"type":"decision","id":"edit-7","accepted":"true"})", true, false},
    {R"({"type":"decision","id":"edit-7","accepted":1})", true, false},
    {R"({"type":"decision","id":"edit-7","accepted":null})", true, false},
    {R"({"type":"decision","id":"edit-7"})", true, false},
    {R"({"type":"decision","id":"edit-8","accepted":true})", false, true},
    {R"({"type":"decision","id":"edit-70","accepted":true})", false, true},
    {R"({"type":"Decision","id":"edit-7","accepted":true})", false, true},
    {R"({"id":"edit-7","accepted":true})", false, true},
    {R"({"type":"decision","id":7,"accepted":true})", false, true},
    {R"({"type":"decision","accepted":true})", false, true},
    {R"([{"type":"decision","id":"edit-7","accepted":true}])", false, false},
    {R"("decision")", false, false},
};

TEST(Decision, RecognisedOnlyForItsIdAndAcceptedOnlyByTrue) {
  for (const DecisionCase& c : kDecisionCases) {
    const json::Value message = parsed(c.line);
    EXPECT_EQ(is_decision_for(message, "edit-7"), c.for_edit_7) << c.line;
    EXPECT_EQ(decision_accepts(message), c.accepts) << c.line;
  }
}

TEST(ServerMessage, HelloAndProposalAreRecognised) {
  ServerMessage hello = read_server_message(hello_line(12, "t"));
  ASSERT_TRUE(std::holds_alternative<BrokerHello>(hello));
  EXPECT_EQ(std::get<BrokerHello>(hello).pid, 12u);
  EXPECT_EQ(std::get<BrokerHello>(hello).thread_id, "t");
  ServerMessage proposal = read_server_message(
      R"( {"id":"e1","payload":{"after":"b","before":"a","explanationInMarkdown":"w",)"
      R"("path":"p"},"type":"proposal"})"
      "\r\n");
  ASSERT_TRUE(std::holds_alternative<BrokerProposal>(proposal));
  const BrokerProposal& got = std::get<BrokerProposal>(proposal);
  EXPECT_EQ(got.id, "e1");
  EXPECT_EQ(got.edit.path, "p");
  EXPECT_EQ(got.edit.before, "a");
  EXPECT_EQ(got.edit.after, "b");
  EXPECT_EQ(got.edit.explanation_in_markdown, "w");
}

struct UnusableCase {
  const char* line;
  const char* reason_start;
  const char* reject_id;  // nullptr: nobody to answer
};

const UnusableCase kUnusableCases[] = {
    {"  \t", "", nullptr},
    {"\xff", "a line that is not UTF-8", nullptr},
    {"{", "a line that is not JSON: ", nullptr},
    {R"({"type":"decision","id":"e"})", "a message that is neither", nullptr},
    {R"({"type":"proposal","payload":{}})", "a proposal without a string", nullptr},
    {R"({"type":"proposal","id":"e2","payload":{"path":"p"}})", "proposal e2 lacks", "e2"},
    {R"({"type":"proposal","id":"e3"})", "proposal e3 lacks", "e3"},
};

TEST(ServerMessage, UnusableLinesSayWhyAndWhomToAnswer) {
  for (const UnusableCase& c : kUnusableCases) {
    ServerMessage message = read_server_message(c.line);
    ASSERT_TRUE(std::holds_alternative<UnusableLine>(message)) << c.line;
    const UnusableLine& unusable = std::get<UnusableLine>(message);
    EXPECT_EQ(unusable.reason.rfind(c.reason_start, 0), 0u) << c.line << ": " << unusable.reason;
    EXPECT_EQ(unusable.reject_id.has_value(), c.reject_id != nullptr) << c.line;
    if (c.reject_id != nullptr && unusable.reject_id) {
      EXPECT_EQ(*unusable.reject_id, c.reject_id);
    }
  }
}

}  // namespace
}  // namespace varnock::mcp
