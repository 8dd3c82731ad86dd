// The review round trip with a real broker on a Unix-domain socket: the
// proposal line it receives, the decisions and other bytes it sends back,
// and its going away. Which requests reach the review at all is decided in
// process (dispatch_test).
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>

#include "write_file_wire.h"

namespace varnock::test {
namespace {

using ReviewWire = BrokerWireTest;

TEST_F(ReviewWire, AcceptedProposalGivesTheReceipt) {
  workspace_.write("notes.txt", "old \u00e9\r\n");
  const std::string before = workspace_.snapshot();
  const std::string line = propose(7, "notes.txt", "hello\n\"quoted\"\t/", "- adds a greeting");
  const std::string id = id_of(line);
  EXPECT_TRUE(is_proposal_id(id, 0)) << id;
  EXPECT_EQ(line, "{\"id\":\"" + id +
                      R"(","payload":{"after":"hello\n\"quoted\"\t/","before":"old )"
                      "\u00e9"
                      R"(\r\n","explanationInMarkdown":"- adds a greeting","path":"notes.txt"},)"
                      R"("type":"proposal"})");
  broker_->send(decision(id, true) + "\n");
  EXPECT_EQ(response(),
            R"({"id":7,"jsonrpc":"2.0","result":{"content":[{"text":"{\"received\":true,)"
            R"(\"path\":\"notes.txt\",\"message\":\"file written and accepted by reviewer\"}",)"
            R"("type":"text"}]}})");
  EXPECT_EQ(workspace_.snapshot(), before);
  EXPECT_EQ(err_after_start(), "");
}

// Anything but "accepted":true rejects (the forms are the protocol's own
// test); each round trip takes the next sequence number.
TEST_F(ReviewWire, RejectionAndSequenceNumbers) {
  for (std::uint64_t sequence = 0; sequence < 3; ++sequence) {
    const std::string id = id_of(propose(10, "a.txt", "x", "why"));
    EXPECT_TRUE(is_proposal_id(id, sequence)) << id;
    broker_->send(decision(id, sequence == 2) + "\n");
    EXPECT_EQ(response(), sequence == 2 ? result_response(10, receipt("a.txt", kAcceptedMessage))
                                        : error_response(10, kRejected));
  }
  EXPECT_EQ(err_after_start(), "");
}

// Blank lines, other proposals' decisions and non-JSON lines are skipped
// until the matching decision; only the non-JSON lines leave a notice. (Which
// JSON lines are the decision is broker_lines.tsv's.)
TEST_F(ReviewWire, SkipsEverythingButTheMatchingDecision) {
  const std::string id = id_of(propose(1, "a.txt", "x", "why"));
  std::string other = id;
  other.back() = '9';
  broker_->send("\n \t \r\n\u00a0\u3000\nok\n  {\"type\":\"decision\"  \r\n" +
                decision(other, false) +
                "\n[1,2]\n{}\n\ufeff{}\n\r\n \t{\"type\":\"decision\",\"id\":\"" + id +
                "\",\"accepted\":true}\r\n");
  EXPECT_EQ(response(), result_response(1, receipt("a.txt", kAcceptedMessage)));
  EXPECT_EQ(err_after_start(),
            "[varnock-mcp] ignoring invalid broker line: ok\n"
            "[varnock-mcp] ignoring invalid broker line: {\"type\":\"decision\"\n"
            "[varnock-mcp] ignoring invalid broker line: \ufeff{}\n");
}

// The first of two decisions decides; the second stays buffered and is
// skipped by the next round trip.
TEST_F(ReviewWire, TwoDecisionsAtOnce) {
  const std::string first = id_of(propose(1, "a.txt", "x", "why"));
  broker_->send(decision(first, true) + "\n" + decision(first, false) + "\n");
  EXPECT_EQ(response(), result_response(1, receipt("a.txt", kAcceptedMessage)));
  const std::string second = id_of(propose(2, "b.txt", "y", "why"));
  broker_->send(decision(first, true) + "\n" + decision(second, false) + "\n");
  EXPECT_EQ(response(), error_response(2, kRejected));
}

// An invalid line ends the call; the bytes after it serve the next call.
TEST_F(ReviewWire, InvalidUtf8EndsTheCallAndTheRestIsKept) {
  const std::string first = id_of(propose(1, "a.txt", "x", "why"));
  broker_->send("{\"type\":\"decision\",\"id\":\"\xff\"}\n" + decision(first, true) + "\n" +
                "\xc3");
  EXPECT_EQ(response(),
            error_response(1, "broker read failed: stream did not contain valid UTF-8"));
  const std::string second = id_of(propose(2, "a.txt", "x", "why"));
  EXPECT_TRUE(is_proposal_id(second, 1)) << second;
  broker_->send("\xa9\n" + decision(second, true) + "\n");  // completes "é"
  EXPECT_EQ(response(), result_response(2, receipt("a.txt", kAcceptedMessage)));
  EXPECT_EQ(err_after_start(), "[varnock-mcp] ignoring invalid broker line: \u00e9\n");
}

// A decision without its LF still counts when the stream ends after it; once
// the broker has gone, a call cannot be sent.
TEST_F(ReviewWire, DecisionAsTheLastBytesBeforeClosing) {
  const std::string id = id_of(propose(1, "a.txt", "x", "why"));
  broker_->send(decision(id, true));
  broker_->close_connection();
  broker_->stop_listening();
  EXPECT_EQ(response(), result_response(1, receipt("a.txt", kAcceptedMessage)));
  for (int call = 2; call <= 3; ++call) {
    server_->write(write_file_call(call, "a.txt", "x", "why"));
    EXPECT_EQ(response(), error_response(call, "Broken pipe (os error 32)"));
  }
  EXPECT_EQ(workspace_.snapshot(), "");
}

TEST_F(ReviewWire, ClosingBeforeTheDecision) {
  const std::string id = id_of(propose(1, "a.txt", "x", "why"));
  broker_->send(decision(id + "0", true) + "\n" + "{\"type\":\"decision\",\"id\":\"" + id);
  broker_->close_connection();
  EXPECT_EQ(response(), error_response(1, kClosedBeforeDecision));
  EXPECT_EQ(
      err_after_start(),
      "[varnock-mcp] ignoring invalid broker line: {\"type\":\"decision\",\"id\":\"" + id + "\n");
}

// The present content is read to at most 256 MiB, whatever size the file
// reports: a sparse file claiming a terabyte and a /proc file claiming
// nothing but reading on are proposed with an empty "before", and the
// server goes on serving.
TEST_F(ReviewWire, PresentContentPastTheLimitIsEmpty) {
  ASSERT_EQ(symlink("/proc/self/pagemap", workspace_.file("pagemap").c_str()), 0);
  workspace_.write("sparse", "");
  ASSERT_EQ(truncate(workspace_.file("sparse").c_str(), off_t{1} << 40), 0);
  workspace_.write("notes.txt", "kept");
  for (const std::string path : {"sparse", "pagemap"}) {
    SCOPED_TRACE(path);
    const std::string line = propose(1, path, "x", "why");
    const std::string id = id_of(line);
    EXPECT_EQ(line, proposal_line(id, path, "", "x", "why"));
    broker_->send(decision(id, true) + "\n");
    EXPECT_EQ(response(), result_response(1, receipt(path, kAcceptedMessage)));
  }
  const std::string line = propose(2, "notes.txt", "x", "why");
  EXPECT_EQ(line, proposal_line(id_of(line), "notes.txt", "kept", "x", "why"));
  broker_->send(decision(id_of(line), false) + "\n");
  EXPECT_EQ(response(), error_response(2, kRejected));
}

}  // namespace
}  // namespace varnock::test
