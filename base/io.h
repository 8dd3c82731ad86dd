// Reading and writing descriptors with the interruption handling in one
// place: a signal that interrupts a call never surfaces as a failure. And
// the standard descriptors made safe to write to.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <string_view>

namespace varnock {

// One read(2) of at most `size` bytes, repeated when a signal interrupts it:
// the byte count, 0 at the end of the stream, or -1 with errno set.
ssize_t read_some(int fd, void* buffer, std::size_t size);

// Waits up to `timeout_ms` (without end when negative) until `fd` can be
// read or has hung up, repeating poll(2) when a signal interrupts it. False
// when the time runs out or poll fails.
bool wait_readable(int fd, int timeout_ms);

// Writes all of `bytes` with write(2), repeating partial and interrupted
// writes. Gives 0, or the error number of the write that failed (EAGAIN
// included: a non-blocking descriptor that is full is a failure here).
int write_all(int fd, std::string_view bytes);

// As write_all, with send(2) and MSG_NOSIGNAL, so that a socket whose peer
// has gone reports EPIPE instead of raising SIGPIPE.
int send_all(int fd, std::string_view bytes);

// Opens each closed standard descriptor (0, 1, 2) on /dev/null, so that no
// file or socket the program opens later takes its number and receives what
// is meant for standard output; aborts when that fails. For the start of a
// program.
void open_closed_standard_descriptors();

}  // namespace varnock
