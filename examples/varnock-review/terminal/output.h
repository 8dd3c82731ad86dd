// What the reviewer prints, to standard output or to the terminal it asks
// on, is written by a thread of its own. A terminal paused with Ctrl-S, a
// pager or a pipe that nobody reads would otherwise stop the one event loop,
// and with it every server, the desk and the journal.
#pragma once

#include <chrono>
#include <cstddef>
#include <string_view>

namespace varnock::review {

// Output that would make more than this wait to be written is dropped, and
// a line says how much when writing goes on. A text of any size is queued
// when nothing waits, so a large diff still reaches a terminal that reads.
inline constexpr std::size_t kMaxWaitingOutput = std::size_t{64} << 20;

// Queues `text` for descriptor `fd`; texts are written in the order they
// were queued. Never waits for the reader.
void print_to(int fd, std::string_view text);

// How long output still queued at the end may wait for a reader.
inline constexpr std::chrono::seconds kLastOutputWait{2};

// Waits until everything queued is written, or `limit` has passed; false
// when some is still waiting. For the end of the program, and before a
// descriptor that output was queued for is closed.
bool flush_output(std::chrono::milliseconds limit);

}  // namespace varnock::review
