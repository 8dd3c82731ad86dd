// varnock-mcp: a Model Context Protocol tool server on standard input and
// output whose one tool, write_file, puts each proposed edit before a human
// reviewer. Configured by VARNOCK_SOCKET and VARNOCK_THREAD_ID only.

#include <unistd.h>

#include <memory>
#include <utility>

#include "broker_connection.h"
#include "loop.h"
#include "review.h"
#include "startup.h"

int main() {
  varnock::prepare_process();
  std::unique_ptr<varnock::BrokerConnection> broker = varnock::connect_broker();
  const varnock::ReviewStep review = [&broker](varnock::mcp::VarnockMcpToolResult prepared) {
    return varnock::request_review(broker.get(), std::move(prepared));
  };
  varnock::run_message_loop(STDIN_FILENO, STDOUT_FILENO, review);
  // The connection closes here, with nothing sent first.
  broker.reset();
  return 0;
}
