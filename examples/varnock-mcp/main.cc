// varnock-mcp: a Model Context Protocol tool server on standard input and
// output whose one tool, write_file, puts each proposed edit before a human
// reviewer. Configured by VARNOCK_SOCKET and VARNOCK_THREAD_ID only.

#include <unistd.h>

#include <memory>
#include <string_view>
#include <utility>

#include "broker_connection.h"
#include "fd_output.h"
#include "loop.h"
#include "review.h"
#include "startup.h"

namespace {

constexpr std::string_view kStartedByHand =
    "this is an MCP server that an MCP host starts: it reads JSON-RPC messages on standard "
    "input, one per line (manual: man varnock-mcp)";

// A host starts the server on pipes; a terminal on standard input means a
// person started it by hand and is owed one line on what it expects.
void note_if_started_by_hand() {
  if (isatty(STDIN_FILENO) == 1) varnock::write_diagnostic(kStartedByHand);
}

}  // namespace

int main() {
  varnock::prepare_process();
  note_if_started_by_hand();
  std::unique_ptr<varnock::BrokerConnection> broker = varnock::connect_broker();
  const varnock::ReviewStep review = [&broker](varnock::mcp::VarnockMcpToolResult prepared) {
    return varnock::request_review(broker.get(), std::move(prepared));
  };
  varnock::run_message_loop(STDIN_FILENO, STDOUT_FILENO, review);
  // The connection closes here, with nothing sent first.
  broker.reset();
  return 0;
}
