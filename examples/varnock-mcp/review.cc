#include "review.h"

#include <time.h>

#include <string_view>
#include <utility>

#include "fd_output.h"
#include "json/parse.h"
#include "json/text.h"
#include "json/write.h"
#include "mcp/broker_protocol.h"

namespace varnock {

std::atomic<std::uint64_t> PROPOSAL_SEQ{0};

namespace {

constexpr std::string_view kNoBrokerMessage = "not written: no review broker is connected";
constexpr std::string_view kRejected = "The request has been rejected.";
constexpr std::string_view kClosedBeforeDecision = "broker closed connection before decision";
constexpr std::string_view kReadFailed = "broker read failed: ";
constexpr std::string_view kInvalidLineNotice = "ignoring invalid broker line: ";
constexpr std::string_view kIdPrefix = "edit-";
constexpr long kNanosecondsPerSecond = 1'000'000'000;
constexpr std::size_t kProposalPieceSize = std::size_t{1} << 20;

// Nanoseconds since the Unix epoch in decimal; "0" before the epoch. The
// value is seconds * 10^9 + nanoseconds, which would need 128 bits as a
// number; as text it is the seconds followed by the nanoseconds padded to
// nine digits, so nothing can overflow.
std::string clock_reading() {
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  if (now.tv_sec < 0 || now.tv_nsec < 0 || now.tv_nsec >= kNanosecondsPerSecond) return "0";
  if (now.tv_sec == 0) return std::to_string(now.tv_nsec);
  std::string nanoseconds = std::to_string(now.tv_nsec);
  return std::to_string(now.tv_sec) + std::string(9 - nanoseconds.size(), '0') + nanoseconds;
}

// Only uniqueness matters, so the count needs no ordering with other memory.
std::uint64_t take_sequence_number() {
  return PROPOSAL_SEQ.fetch_add(1, std::memory_order_relaxed);
}

// "edit-<nanoseconds>-<sequence number>"; takes a number from PROPOSAL_SEQ.
std::string make_proposal_id() {
  std::string id(kIdPrefix);
  id += clock_reading();
  id += '-';
  id += std::to_string(take_sequence_number());
  return id;
}

// The whole proposal line, on the socket before the wait begins. It is
// written in pieces as it is made, so a proposal carrying two large texts is
// never held a second time as one line.
Status send_proposal(BrokerConnection& broker, std::string id, mcp::VarnockEditProposal&& edit) {
  const json::Value message = mcp::proposal_message(std::move(id), std::move(edit));
  Status sent;
  json::StreamWriter writer(
      [&](std::string_view piece) {
        sent = broker.write_all(piece);
        return sent.ok();
      },
      kProposalPieceSize);
  if (writer.write(message) && writer.write_raw("\n")) writer.flush();
  return sent;
}

// Reads broker lines until the decision on `id`: whether it accepts, or the
// failure text. Lines for other proposals, and anything else, are skipped.
Result<bool> await_decision(BrokerConnection& broker, std::string_view id) {
  for (;;) {
    Result<std::optional<std::string>> line = broker.read_line();
    if (!line.ok()) return fail(std::string(kReadFailed) + line.failure());
    if (!line.value()) return fail(std::string(kClosedBeforeDecision));
    const std::string_view text = json::trim_white_space(*line.value());
    if (text.empty()) continue;
    Result<json::Value> message = json::parse(text);
    if (!message.ok()) {
      write_diagnostic(std::string(kInvalidLineNotice).append(text));
      continue;
    }
    if (mcp::is_decision_for(message.value(), id)) return mcp::decision_accepts(message.value());
  }
}

}  // namespace

Result<std::string> request_review(BrokerConnection* broker, mcp::VarnockMcpToolResult result) {
  if (broker == nullptr) {
    // Nothing reaches the reviewer, so nothing will be written.
    result.receipt.message = kNoBrokerMessage;
    return mcp::encode_receipt(result.receipt);
  }
  if (!result.proposal) return mcp::encode_receipt(result.receipt);
  std::string id = make_proposal_id();
  Status sent = send_proposal(*broker, id, std::move(*result.proposal));
  result.proposal.reset();
  if (!sent.ok()) return fail(sent.failure());
  Result<bool> accepted = await_decision(*broker, id);
  if (!accepted.ok()) return fail(std::move(accepted).failure());
  if (!accepted.value()) return fail(std::string(kRejected));
  return mcp::encode_receipt(result.receipt);
}

}  // namespace varnock
