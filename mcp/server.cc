#include "mcp/server.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <string_view>
#include <utility>

#include "base/read_all.h"
#include "base/unique_fd.h"
#include "json/text.h"
#include "mcp/broker_protocol.h"
#include "mcp/path_guard.h"

namespace varnock::mcp {
namespace {

constexpr std::string_view kEmptyContent =
    "write_file rejected: content is empty. varnock_write_file does not create zero-byte files "
    "\u2014 supply the actual file contents, or if you genuinely meant to create an empty file, "
    "ask the user and use a shell command (`touch`) instead.";
// The explanation's member name as the agent is told it is missing.
constexpr std::string_view kExplanationMember = "explanation_in_markdown";
constexpr std::string_view kIsRequired = " is required";
constexpr std::string_view kReceiptMessage = "file written and accepted by reviewer";

// The whole present content of the regular file at `path`, or the empty text
// when it cannot be read as UTF-8 text for any reason, or is longer than
// kMaxPresentContent, whatever size it reports. A path holding a NUL byte
// names no file, so it never reaches open(2), which would see only the part
// before the NUL. O_NONBLOCK keeps the open of a FIFO from waiting for a
// writer; only a regular file is then read.
std::string read_present_content(const std::string& path) {
  if (path.find('\0') != std::string::npos) return {};
  UniqueFd file(open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
  if (!file.valid()) return {};
  struct stat status;
  if (fstat(file.get(), &status) != 0 || !S_ISREG(status.st_mode)) return {};
  Result<std::string> content = read_all(file.get(), kMaxPresentContent);
  if (!content.ok() || !json::is_valid_utf8(content.value())) return {};
  return std::move(content).value();
}

Status check_request(const WriteFilePayload& payload) {
  if (Status path = validate_relative_file_path(payload.path); !path.ok()) return path;
  if (payload.content.empty()) return fail(std::string(kEmptyContent));
  if (json::trim_white_space(payload.explanation_in_markdown).empty()) {
    return fail(std::string(kExplanationMember) + std::string(kIsRequired));
  }
  return {};
}

}  // namespace

Result<VarnockMcpToolResult> VarnockMcpServer::write_file(WriteFilePayload payload) const {
  if (Status checked = check_request(payload); !checked.ok()) return fail(checked.failure());
  VarnockMcpToolResult result;
  result.receipt = VarnockMcpReceipt{true, payload.path, std::string(kReceiptMessage)};
  std::string before = read_present_content(payload.path);
  result.proposal =
      VarnockEditProposal{std::move(payload.path), std::move(before), std::move(payload.content),
                          std::move(payload.explanation_in_markdown)};
  return result;
}

}  // namespace varnock::mcp
