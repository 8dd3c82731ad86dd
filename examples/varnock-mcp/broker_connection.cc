#include "broker_connection.h"

#include <utility>

#include "base/io.h"
#include "base/os_error.h"
#include "json/text.h"

namespace varnock {
namespace {

constexpr std::string_view kInvalidUtf8 = "stream did not contain valid UTF-8";

// A line handed out must be text; its bytes are consumed either way.
Result<std::optional<std::string>> checked_line(std::string line) {
  if (!json::is_valid_utf8(line)) return fail(std::string(kInvalidUtf8));
  return std::optional<std::string>(std::move(line));
}

}  // namespace

BrokerConnection::BrokerConnection(UniqueFd socket)
    : socket_(std::move(socket)), lines_(socket_.get(), kReadBufferSize) {}

Status BrokerConnection::write_all(std::string_view bytes) {
  // send_all: a vanished broker is a failure to report, not a signal.
  if (const int error = send_all(socket_.get(), bytes); error != 0) {
    return fail(os_error_text(error));
  }
  return {};
}

Result<std::optional<std::string>> BrokerConnection::read_line() {
  Result<std::optional<std::string>> line = lines_.read_line();
  if (!line.ok() || !line.value()) return line;
  return checked_line(std::move(*line.value()));
}

}  // namespace varnock
