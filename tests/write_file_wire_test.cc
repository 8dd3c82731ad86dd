// write_file end to end: request line in, proposal on the broker socket,
// decision back, response line out; and the answers without a broker.
#include "write_file_wire.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

namespace varnock::test {
namespace {

const std::string kEmptyContent =
    "write_file rejected: content is empty. varnock_write_file does not create zero-byte files "
    "\u2014 supply the actual file contents, or if you genuinely meant to create an empty file, "
    "ask the user and use a shell command (`touch`) instead.";

TEST(WriteFileWithoutBroker, AnswersAtOnceWithTheNotWrittenReceipt) {
  TempDir workspace;
  workspace.write("notes.txt", "old\n");
  const std::string before = workspace.snapshot();
  ProcessOptions options;
  options.working_directory = workspace.path();

  ProcessOutput output = run_server(write_file_call(1, "notes.txt", "hello\n", "- greet") +
                                        write_file_call(2, "new/a \"b\".txt", "x", "why"),
                                    options);

  EXPECT_EQ(
      output.out,
      R"({"id":1,"jsonrpc":"2.0","result":{"content":[{"text":"{\"received\":true,)"
      R"(\"path\":\"notes.txt\",\"message\":\"not written: no review broker is connected\"}",)"
      R"("type":"text"}]}})"
      "\n" +
          result_response(2, receipt("new/a \"b\".txt", kNoBrokerMessage)) + "\n");
  EXPECT_EQ(output.err, "");
  EXPECT_EQ(output.exit_status, 0);
  EXPECT_EQ(workspace.snapshot(), before);
}

TEST(WriteFileWithoutBroker, FailedConnectGivesTheSameReceipt) {
  TempDir workspace;
  ProcessOptions options;
  options.environment = {{"VARNOCK_SOCKET", workspace.file("nobody-listens.sock")}};
  options.working_directory = workspace.path();
  ProcessOutput output = run_server(write_file_call(3, "a.txt", "x", "why"), options);
  EXPECT_EQ(output.out, result_response(3, receipt("a.txt", kNoBrokerMessage)) + "\n");
  EXPECT_EQ(output.exit_status, 0);
}

TEST(WriteFileWithoutBroker, SpecialFilesAreNotWaitedFor) {
  TempDir workspace;
  ASSERT_EQ(mkfifo(workspace.file("pipe").c_str(), 0600), 0);
  ASSERT_EQ(symlink("/dev/zero", workspace.file("zero").c_str()), 0);
  ProcessOptions options;
  options.working_directory = workspace.path();
  ProcessOutput output = run_server(
      write_file_call(1, "pipe", "x", "why") + write_file_call(2, "zero", "x", "why"), options);
  EXPECT_EQ(output.out, result_response(1, receipt("pipe", kNoBrokerMessage)) + "\n" +
                            result_response(2, receipt("zero", kNoBrokerMessage)) + "\n");
}

using WriteFileReview = BrokerWireTest;

TEST_F(WriteFileReview, AcceptedProposalGivesTheReceipt) {
  workspace_.write("notes.txt", "old \u00e9\r\n");
  const std::string before = workspace_.snapshot();

  const std::string line = propose(7, "notes.txt", "hello\n\"quoted\"\t/", "- adds a greeting");
  const std::string id = id_of(line);
  EXPECT_TRUE(is_proposal_id(id, 0)) << id;
  EXPECT_EQ(line, proposal_line(id, "notes.txt", "old \u00e9\r\n", "hello\n\"quoted\"\t/",
                                "- adds a greeting"));
  EXPECT_EQ(line, "{\"id\":\"" + id +
                      R"(","payload":{"after":"hello\n\"quoted\"\t/","before":"old )"
                      "\u00e9"
                      R"(\r\n","explanationInMarkdown":"- adds a greeting","path":"notes.txt"},)"
                      R"("type":"proposal"})");

  broker_->send(TestBroker::decision(id, true));
  EXPECT_EQ(response(),
            R"({"id":7,"jsonrpc":"2.0","result":{"content":[{"text":"{\"received\":true,)"
            R"(\"path\":\"notes.txt\",\"message\":\"file written and accepted by reviewer\"}",)"
            R"("type":"text"}]}})");
  EXPECT_EQ(workspace_.snapshot(), before);
  EXPECT_EQ(err_after_start(), "");
}

TEST_F(WriteFileReview, RefusedCallsNeverReachTheBrokerNorTakeANumber) {
  server_->write(write_file_call(1, "/etc/passwd", "x", "why"));
  EXPECT_EQ(response(), error_response(1, "path must stay inside the workspace"));
  server_->write(write_file_call(2, "a.txt", "", "why"));
  EXPECT_EQ(response(), error_response(2, kEmptyContent));
  server_->write(write_file_call(5, "a.txt", "x", "\u3000\n"));
  EXPECT_EQ(response(), error_response(5, "explanation_in_markdown is required"));
  server_->write(write_file_call(3, json::Value(json::Value::Array{json::Value("a.txt")})));
  EXPECT_EQ(
      response(),
      error_response(3, "invalid length 1, expected struct WriteFilePayload with 3 elements"));

  const std::string id = id_of(propose(4, "a.txt", "x", "why"));
  EXPECT_TRUE(is_proposal_id(id, 0)) << id;
  broker_->send(TestBroker::decision(id, true));
  EXPECT_EQ(response(), result_response(4, receipt("a.txt", kAcceptedMessage)));
  EXPECT_EQ(workspace_.snapshot(), "");
}

// Every value of "accepted" but the boolean true rejects; each round trip
// takes the next sequence number, and the server goes on serving.
TEST_F(WriteFileReview, RejectionFormsAndSequenceNumbers) {
  const std::string endings[] = {
      R"(,"accepted":false})",
      R"(,"accepted":"true"})",
      R"(,"accepted":1})",
      R"(,"accepted":null})",
      R"(})",
      R"(,"accepted":{}})",
  };
  std::uint64_t sequence = 0;
  for (const std::string& ending : endings) {
    const std::string id = id_of(propose(10, "a.txt", "x", "why"));
    EXPECT_TRUE(is_proposal_id(id, sequence++)) << id;
    broker_->send("{\"type\":\"decision\",\"id\":" + quoted(id) + ending + "\n");
    EXPECT_EQ(response(), error_response(10, kRejected)) << ending;
  }
  const std::string id = id_of(propose(11, "a.txt", "x", "why"));
  EXPECT_TRUE(is_proposal_id(id, sequence)) << id;
  broker_->send(TestBroker::decision(id, true));
  EXPECT_EQ(response(), result_response(11, receipt("a.txt", kAcceptedMessage)));
  EXPECT_EQ(workspace_.snapshot(), "");
  EXPECT_EQ(err_after_start(), "");
}

TEST_F(WriteFileReview, UnchangedContentIsStillProposed) {
  workspace_.write("same.txt", "same\n");
  const std::string line = propose(1, "same.txt", "same\n", "no change");
  const std::string id = id_of(line);
  EXPECT_EQ(line, proposal_line(id, "same.txt", "same\n", "same\n", "no change"));
  broker_->send(TestBroker::decision(id, false));
  EXPECT_EQ(response(), error_response(1, kRejected));
}

// The snapshot of a FIFO or a device is empty, and the proposal goes out at once.
TEST_F(WriteFileReview, SpecialFilesGiveAnEmptyBefore) {
  ASSERT_EQ(mkfifo(workspace_.file("pipe").c_str(), 0600), 0);
  ASSERT_EQ(symlink("/dev/zero", workspace_.file("zero").c_str()), 0);
  workspace_.write("latin1.txt", "caf\xe9");
  const std::string before = workspace_.snapshot();
  for (const std::string path : {"pipe", "zero", "latin1.txt", ".", " notes.txt"}) {
    const std::string line = propose(1, path, "x", "why");
    const std::string id = id_of(line);
    EXPECT_EQ(line, proposal_line(id, path, "", "x", "why"));
    broker_->send(TestBroker::decision(id, true));
    EXPECT_EQ(response(), result_response(1, receipt(path, kAcceptedMessage)));
  }
  EXPECT_EQ(workspace_.snapshot(), before);
}

// A path with surrounding blanks is judged trimmed but read and reported as sent.
TEST_F(WriteFileReview, PathIsUsedAsReceived) {
  workspace_.write(" notes.txt ", "with blanks");
  workspace_.write("notes.txt", "without");
  const std::string line = propose(1, " notes.txt ", "new", "  why  ");
  const std::string id = id_of(line);
  EXPECT_EQ(line, proposal_line(id, " notes.txt ", "with blanks", "new", "  why  "));
  broker_->send(TestBroker::decision(id, true));
  EXPECT_EQ(response(), result_response(1, receipt(" notes.txt ", kAcceptedMessage)));
}

TEST_F(WriteFileReview, LargeContentTravelsWhole) {
  std::string before(3 << 20, 'b');
  std::string after;
  while (after.size() < (5u << 20)) after += "line \u00e9 \"x\"\n";
  workspace_.write("big.txt", before);
  const std::string line = propose(1, "big.txt", after, "why");
  const std::string id = id_of(line);
  EXPECT_TRUE(line == proposal_line(id, "big.txt", before, after, "why"))
      << "proposal of " << line.size() << " bytes differs";
  broker_->send(TestBroker::decision(id, true));
  EXPECT_EQ(response(), result_response(1, receipt("big.txt", kAcceptedMessage)));
}

}  // namespace
}  // namespace varnock::test
