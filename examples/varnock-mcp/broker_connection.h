// The one connection to the review broker: a connected Unix-domain stream
// socket with an 8192-byte read buffer.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "base/line_reader.h"
#include "base/result.h"
#include "base/unique_fd.h"

namespace varnock {

class BrokerConnection {
 public:
  static constexpr std::size_t kReadBufferSize = 8192;

  explicit BrokerConnection(UniqueFd socket);
  BrokerConnection(const BrokerConnection&) = delete;
  BrokerConnection& operator=(const BrokerConnection&) = delete;

  // Writes all of `bytes` straight to the socket, past the read buffer,
  // repeating partial and interrupted writes. Fails with the system's text
  // ("Broken pipe (os error 32)").
  Status write_all(std::string_view bytes);

  // Reads the next line through the buffer: everything up to and including
  // the next line feed, or the rest of the stream when it ends without one.
  // Gives nullopt at the end of the stream with nothing read. Fails with the
  // system's text, or "stream did not contain valid UTF-8" once the invalid
  // line has been consumed. Bytes after the line stay buffered for the next
  // call, which is why the buffer lives as long as the connection.
  Result<std::optional<std::string>> read_line();

 private:
  UniqueFd socket_;
  LineReader lines_;
};

}  // namespace varnock
