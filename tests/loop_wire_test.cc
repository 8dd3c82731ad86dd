// The message loop as the host sees it: bytes on the program's standard
// input, response lines on its standard output. What each line answers is
// decided in process (dispatch_test); here only the framing, the parse path
// of the loop, and a host that goes away. (Lines of hundreds of megabytes
// are the stress test's, hostile_wire.)
#include <gtest/gtest.h>

#include <string>

#include "support/process.h"
#include "support/temp_dir.h"

namespace varnock::test {
namespace {

const std::string kParseError =
    R"({"error":{"code":-32700,"message":"invalid JSON-RPC message: expected value at line 1 column 1"},"id":null,"jsonrpc":"2.0"})";

std::string unsupported(const std::string& id) {
  return R"({"error":{"code":-32602,"message":"unsupported method: x"},"id":)" + id +
         R"(,"jsonrpc":"2.0"})";
}

std::string request(const std::string& id) { return R"({"id":)" + id + R"(,"method":"x"})"; }

// LF and CR LF endings, blank and invalid lines, a parse error, a tool call
// answered at once without a broker, and a last line without LF, each byte
// written on its own, so every line is split across reads.
TEST(MessageLoop, FramesLinesWrittenOneByteAtATime) {
  TempDir workspace;
  ServerProcess server({.working_directory = workspace.path()});
  const std::string input =
      request("1") + "\n" + request("2") + "\r\n\n \r\n\xff\nhello\n" +
      R"({"id":3,"method":"tools/call","params":{"name":"write_file","arguments":)"
      R"({"path":"a.txt","content":"x","explanationInMarkdown":"why"}}})" +
      "\n" + request("4");
  for (char byte : input) server.write(std::string(1, byte));
  EXPECT_EQ(server.finish(), 0);
  EXPECT_EQ(
      server.out(),
      unsupported("1") + "\n" + unsupported("2") + "\n" + kParseError + "\n" +
          R"({"id":3,"jsonrpc":"2.0","result":{"content":[{"text":"{\"received\":true,)"
          R"(\"path\":\"a.txt\",\"message\":\"not written: no review broker is connected\"}",)"
          R"("type":"text"}]}})"
          "\n" +
          unsupported("4") + "\n");
  EXPECT_EQ(server.err(), "");
  EXPECT_EQ(workspace.snapshot(), "");
}

// The host stops reading: every answer is lost, nothing else happens.
TEST(MessageLoop, SurvivesAClosedStandardOutput) {
  TempDir workspace;
  ServerProcess server({.working_directory = workspace.path()});
  server.close_stdout_reader();
  for (int i = 0; i < 50; ++i) server.write(request("1") + "\nhello\n");
  EXPECT_EQ(server.finish(), 0);
  EXPECT_EQ(server.err(), "");
}

}  // namespace
}  // namespace varnock::test
