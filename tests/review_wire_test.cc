// The review round trip as the broker sees it: whatever bytes the broker
// sends, however it splits them, and wherever it goes away.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>

#include "write_file_wire.h"

namespace varnock::test {
namespace {

using ReviewWire = BrokerWireTest;

std::string decision_line(const std::string& members) { return "{" + members + "}\n"; }

TEST_F(ReviewWire, DecisionMembersInAnyOrderAndWithExtras) {
  const char* forms[] = {
      R"("accepted":true,"id":"%","type":"decision")",
      R"("id":"%","accepted":true,"type":"decision","reason":{"why":[1,2]},"threadId":"t")",
      R"("type":"decision","type":"proposal","type":"decision","id":"%","accepted":true)",
  };
  for (const char* form : forms) {
    const std::string id = id_of(propose(1, "a.txt", "x", "why"));
    std::string members = form;
    members.replace(members.find('%'), 1, id);
    broker_->send(decision_line(members));
    EXPECT_EQ(response(), result_response(1, receipt("a.txt", kAcceptedMessage))) << form;
  }
}

// Blank, foreign and non-JSON lines are skipped until the matching decision;
// only the non-JSON lines leave a notice.
TEST_F(ReviewWire, SkipsEverythingButTheMatchingDecision) {
  const std::string id = id_of(propose(1, "a.txt", "x", "why"));
  std::string other = id;
  other.back() = '9';
  broker_->send(
      "\n \t \r\n\u00a0\u3000\n"  // blank lines
      "ok\n"
      "  {\"type\":\"decision\"  \r\n" +
      TestBroker::decision(other, false) +
      decision_line(R"("type":"Decision","id":")" + id + R"(","accepted":false)") +
      decision_line(R"("id":")" + id + R"(","accepted":false)") +
      decision_line(R"("type":"decision","id":1,"accepted":false)") +
      "[1,2]\n42\n\"decision\"\nnull\n{}\n\ufeff{}\n" +
      decision_line(R"("type":"proposal","id":")" + id + R"(","accepted":false)") +
      "\r\n \t{\"type\":\"decision\",\"id\":\"" + id + "\",\"accepted\":true}\r\n");
  EXPECT_EQ(response(), result_response(1, receipt("a.txt", kAcceptedMessage)));
  EXPECT_EQ(err_after_start(),
            "[varnock-mcp] ignoring invalid broker line: ok\n"
            "[varnock-mcp] ignoring invalid broker line: {\"type\":\"decision\"\n"
            "[varnock-mcp] ignoring invalid broker line: \ufeff{}\n");
}

TEST_F(ReviewWire, DecisionSplitIntoSmallDelayedPieces) {
  const std::string id = id_of(propose(1, "a.txt", "x", "why"));
  broker_->send("garbage\n" + TestBroker::decision(id, true), 3, 2);
  EXPECT_EQ(response(), result_response(1, receipt("a.txt", kAcceptedMessage)));
  EXPECT_EQ(err_after_start(), "[varnock-mcp] ignoring invalid broker line: garbage\n");
}

// Lines longer than the read buffer are read whole.
TEST_F(ReviewWire, LongLines) {
  const std::string id = id_of(propose(1, "a.txt", "x", "why"));
  const std::string padding(30000, 'p');
  broker_->send(std::string(20000, ' ') + "\n" + padding + "\n" +
                decision_line(R"("note":")" + padding + R"(","type":"decision","id":")" + id +
                              R"(","accepted":true)"));
  EXPECT_EQ(response(), result_response(1, receipt("a.txt", kAcceptedMessage)));
  EXPECT_EQ(err_after_start(), "[varnock-mcp] ignoring invalid broker line: " + padding + "\n");
}

// The first of two decisions decides; the second stays buffered and is
// skipped by the next round trip.
TEST_F(ReviewWire, TwoDecisionsAtOnce) {
  const std::string first = id_of(propose(1, "a.txt", "x", "why"));
  broker_->send(TestBroker::decision(first, true) + TestBroker::decision(first, false));
  EXPECT_EQ(response(), result_response(1, receipt("a.txt", kAcceptedMessage)));

  const std::string second = id_of(propose(2, "b.txt", "y", "why"));
  EXPECT_TRUE(is_proposal_id(second, 1)) << second;
  broker_->send(TestBroker::decision(first, true) + TestBroker::decision(second, false));
  EXPECT_EQ(response(), error_response(2, kRejected));
}

// An invalid line ends the call; the bytes after it serve the next call.
TEST_F(ReviewWire, InvalidUtf8EndsTheCallAndTheRestIsKept) {
  const std::string first = id_of(propose(1, "a.txt", "x", "why"));
  broker_->send("{\"type\":\"decision\",\"id\":\"\xff\"}\n" + TestBroker::decision(first, true) +
                "\xc3");
  EXPECT_EQ(response(),
            error_response(1, "broker read failed: stream did not contain valid UTF-8"));

  const std::string second = id_of(propose(2, "a.txt", "x", "why"));
  EXPECT_TRUE(is_proposal_id(second, 1)) << second;
  broker_->send("\xa9\n" + TestBroker::decision(second, true));  // completes "é"
  EXPECT_EQ(response(), result_response(2, receipt("a.txt", kAcceptedMessage)));
  EXPECT_EQ(err_after_start(), "[varnock-mcp] ignoring invalid broker line: \u00e9\n");
}

TEST_F(ReviewWire, DecisionAsTheLastBytesBeforeClosing) {
  const std::string id = id_of(propose(1, "a.txt", "x", "why"));
  std::string last = TestBroker::decision(id, true);
  last.pop_back();
  broker_->send(last);
  broker_->close_connection();
  EXPECT_EQ(response(), result_response(1, receipt("a.txt", kAcceptedMessage)));
  // The broker is gone for good: the next call cannot be sent.
  server_->write(write_file_call(2, "a.txt", "x", "why"));
  EXPECT_EQ(response(), error_response(2, "Broken pipe (os error 32)"));
}

TEST_F(ReviewWire, ClosingBeforeTheDecision) {
  const std::string id = id_of(propose(1, "a.txt", "x", "why"));
  broker_->send(TestBroker::decision(id + "0", true) + "{\"type\":\"decision\",\"id\":\"" + id);
  broker_->close_connection();
  EXPECT_EQ(response(), error_response(1, kClosedBeforeDecision));
  EXPECT_EQ(
      err_after_start(),
      "[varnock-mcp] ignoring invalid broker line: {\"type\":\"decision\",\"id\":\"" + id + "\n");
}

TEST_F(ReviewWire, ClosingRightAfterTheProposal) {
  ASSERT_NE(propose(1, "a.txt", "x", "why"), "<no proposal>");
  broker_->close_connection();
  EXPECT_EQ(response(), error_response(1, kClosedBeforeDecision));
}

// The broker vanishes without reading a large proposal: depending on how far
// the write got, sending fails or the wait ends in a reset. Either way the
// call fails with the system's text and the server keeps serving.
TEST_F(ReviewWire, VanishingWhileTheProposalIsInFlight) {
  const std::string gone[] = {
      error_response(1, "Broken pipe (os error 32)"),
      error_response(1, "Connection reset by peer (os error 104)"),
      error_response(1, "broker read failed: Connection reset by peer (os error 104)"),
  };
  server_->write(write_file_call(1, "a.txt", std::string(4 << 20, 'x'), "why"));
  broker_->close_connection();
  EXPECT_THAT(response(), ::testing::AnyOfArray(gone));
  server_->write(write_file_call(1, "a.txt", "x", "why"));
  EXPECT_THAT(response(), ::testing::AnyOfArray(gone));
  server_->write(write_file_call(2, "../a.txt", "x", "why"));
  EXPECT_EQ(response(), error_response(2, "path must stay inside the workspace"));
}

// After the broker has gone, every call fails and the server keeps serving.
TEST_F(ReviewWire, VanishedBrokerBeforeTheCall) {
  broker_->close_connection();
  broker_->stop_listening();
  for (int id = 1; id <= 3; ++id) {
    server_->write(write_file_call(id, "a.txt", "x", "why"));
    EXPECT_EQ(response(), error_response(id, "Broken pipe (os error 32)"));
  }
  server_->write(write_file_call(4, "a.txt", "", "why"));
  EXPECT_EQ(response(), error_response(4, std::string("write_file rejected: content is empty.") +
                                              " varnock_write_file does not create zero-byte"
                                              " files \u2014 supply the actual file contents, or"
                                              " if you genuinely meant to create an empty file,"
                                              " ask the user and use a shell command (`touch`)"
                                              " instead."));
  EXPECT_EQ(workspace_.snapshot(), "");
}

}  // namespace
}  // namespace varnock::test
