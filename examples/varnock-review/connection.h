// One server's connection to the reviewer, framed into lines.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/result.h"
#include "messages.h"
#include "unique_fd.h"

namespace varnock::review {

// What one read from a connection brought.
struct Received {
  std::vector<std::string> lines;  // complete lines, without their LF
  bool closed = false;             // the server has gone (or the read failed)
  std::size_t dropped_bytes = 0;   // an unfinished last line, discarded on close
};

class Connection {
 public:
  // `number` names the connection to the person ("server #3").
  Connection(int number, UniqueFd fd) : number_(number), fd_(std::move(fd)) {}

  int number() const { return number_; }
  int fd() const { return fd_.get(); }

  // One read of what the socket holds, split at LF. Call only when the
  // descriptor is readable. Bytes after the last LF wait for the next read.
  Received receive();

  // Writes `line` and one LF, all of it, without blocking on a closed peer.
  Status send_line(std::string_view line);

  // The hello, once it has come; before it, the server is known by number only.
  std::optional<Hello> hello;

 private:
  int number_;
  UniqueFd fd_;
  std::string pending_;      // bytes after the last LF seen so far
  std::size_t scanned_ = 0;  // prefix of pending_ known to hold no LF
};

// Moves every complete line of `pending` into `lines`, starting the search
// for LF at `scanned`, and updates `scanned` so long lines are not rescanned.
void take_lines(std::string& pending, std::size_t& scanned, std::vector<std::string>& lines);

}  // namespace varnock::review
