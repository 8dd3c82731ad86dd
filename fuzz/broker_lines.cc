// The broker line reader fed arbitrary bytes through a real socket: every
// line it gives is valid UTF-8, and together with the lines it refused the
// reader consumes the whole stream and then reports its end.
#include <sys/socket.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "broker_connection.h"
#include "json/text.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  int fds[2];
  if (socketpair(AF_UNIX, SOCK_STREAM, 0, fds) != 0) std::abort();
  int buffer = 1 << 20;
  setsockopt(fds[0], SOL_SOCKET, SO_SNDBUF, &buffer, sizeof buffer);
  setsockopt(fds[1], SOL_SOCKET, SO_RCVBUF, &buffer, sizeof buffer);
  std::size_t sent = 0;
  while (sent < size) {
    ssize_t n = write(fds[0], data + sent, size - sent);
    if (n <= 0) std::abort();
    sent += static_cast<std::size_t>(n);
  }
  close(fds[0]);
  varnock::BrokerConnection connection{varnock::UniqueFd(fds[1])};
  std::size_t consumed = 0;
  bool ended = false;
  // Each call consumes at least one byte or reports the end.
  for (std::size_t calls = 0; calls <= size + 1 && !ended; ++calls) {
    auto line = connection.read_line();
    if (!line.ok()) continue;  // an invalid line is consumed; read on
    if (!line.value()) {
      ended = true;
      continue;
    }
    if (!varnock::json::is_valid_utf8(*line.value())) std::abort();
    consumed += line.value()->size();
    if (consumed > size) std::abort();
  }
  if (!ended) std::abort();
  return 0;
}
