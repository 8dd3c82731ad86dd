// The review round trip: puts one proposal before the reviewer and waits for
// the verdict, with no time limit.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "base/result.h"
#include "broker_connection.h"
#include "mcp/schema.h"

namespace varnock {

// The process-wide proposal sequence; each proposal sent takes one number.
extern std::atomic<std::uint64_t> PROPOSAL_SEQ;

// Without a broker or a proposal, gives the receipt text at once. Otherwise
// sends the proposal line and reads broker lines until the matching decision:
// acceptance gives the receipt text, anything else a failure text.
Result<std::string> request_review(BrokerConnection* broker, mcp::VarnockMcpToolResult result);

}  // namespace varnock
