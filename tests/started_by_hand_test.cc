// A person who starts varnock-mcp at a terminal is told, in one line on
// standard error, what the program expects; it then serves as always.
#include <gtest/gtest.h>

#include <string>

#include "support/process.h"

namespace varnock::test {
namespace {

TEST(StartedByHand, SaysInOneLineWhatItIsAndStillServes) {
  ProcessOptions options;
  options.terminal = true;
  ServerProcess server(options);
  server.write(std::string(R"({"jsonrpc":"2.0","id":1,"method":"initialize"})") + "\n\x04");
  EXPECT_EQ(server.finish(), 0);
  EXPECT_EQ(server.err(),
            "[varnock-mcp] this is an MCP server that an MCP host starts: it reads JSON-RPC "
            "messages on standard input, one per line (manual: man varnock-mcp)\n");
  // The screen shows what was typed (echoed by the terminal), then the answer.
  EXPECT_NE(server.out().find(R"({"id":1,"jsonrpc":"2.0","result":)"), std::string::npos);
}

}  // namespace
}  // namespace varnock::test
