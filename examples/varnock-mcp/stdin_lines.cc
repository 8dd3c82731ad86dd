#include "stdin_lines.h"

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "base/io.h"

namespace varnock {
namespace {

constexpr std::size_t kInitialCapacity = 2 * StdinLines::kBlockSize;
// An idle buffer larger than this, left by one long line, is given back.
constexpr std::size_t kMaxIdleCapacity = 1024 * 1024;

// Buffers from this size on are backed by huge pages where the system allows:
// a line of many megabytes is then read with a fraction of the page faults.
constexpr std::size_t kHugePage = std::size_t{2} << 20;

}  // namespace

void StdinLines::FreeBuffer::operator()(char* buffer) const { std::free(buffer); }

// Without memory for the input there is nothing sensible left to do.
StdinLines::Buffer StdinLines::allocate(std::size_t capacity) {
  char* buffer = nullptr;
  if (capacity < kHugePage) {
    buffer = static_cast<char*>(std::malloc(capacity));
  } else {
    const std::size_t rounded = (capacity + kHugePage - 1) / kHugePage * kHugePage;
    buffer = static_cast<char*>(std::aligned_alloc(kHugePage, rounded));
    if (buffer != nullptr) madvise(buffer, rounded, MADV_HUGEPAGE);
  }
  if (buffer == nullptr) std::abort();
  return Buffer(buffer);
}

StdinLines::StdinLines(int fd)
    : fd_(fd), buffer_(allocate(kInitialCapacity)), capacity_(kInitialCapacity) {}

std::optional<std::string_view> StdinLines::read_line() {
  for (;;) {
    const char* data = buffer_.get();
    if (const void* found = std::memchr(data + scanned_, '\n', end_ - scanned_)) {
      std::string_view line = take_line(static_cast<const char*>(found) - data);
      if (std::exchange(skipping_, false)) continue;
      if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
      return line;
    }
    scanned_ = end_;
    if (at_end_) {
      if (begin_ == end_ || std::exchange(skipping_, false)) {
        begin_ = end_;
        return std::nullopt;
      }
      std::string_view last(data + begin_, end_ - begin_);
      begin_ = end_;
      return last;
    }
    fill();
  }
}

// The bytes from begin_ up to the LF at `line_feed`, which is consumed.
std::string_view StdinLines::take_line(std::size_t line_feed) {
  std::string_view line(buffer_.get() + begin_, line_feed - begin_);
  begin_ = scanned_ = line_feed + 1;
  return line;
}

// Reads the next block, or notes the end of input.
void StdinLines::fill() {
  make_room();
  for (;;) {
    const ssize_t count = read_some(fd_, buffer_.get() + end_, capacity_ - end_);
    if (count > 0) {
      end_ += static_cast<std::size_t>(count);
      failed_reads_ = 0;
      return;
    }
    if (count == 0) {
      at_end_ = true;
      return;
    }
    if ((errno == EAGAIN || errno == EWOULDBLOCK) && wait_readable(fd_, -1)) continue;
    drop_interrupted_line();
    if (++failed_reads_ >= kMaxFailedReads) at_end_ = true;
    return;
  }
}

// Makes at least kBlockSize bytes free after end_: moves the incomplete line
// to the front (each byte moves at most once, as the line then starts at 0),
// then doubles the buffer as often as needed.
void StdinLines::make_room() {
  if (begin_ == end_ && capacity_ > kMaxIdleCapacity) {
    buffer_ = allocate(kInitialCapacity);
    capacity_ = kInitialCapacity;
    begin_ = scanned_ = end_ = 0;
  }
  if (begin_ > 0) {
    std::memmove(buffer_.get(), buffer_.get() + begin_, end_ - begin_);
    end_ -= begin_;
    scanned_ -= begin_;
    begin_ = 0;
  }
  if (capacity_ - end_ >= kBlockSize) return;
  std::size_t capacity = capacity_;
  while (capacity - end_ < kBlockSize) capacity *= 2;
  auto grown = allocate(capacity);
  std::memcpy(grown.get(), buffer_.get(), end_);
  buffer_ = std::move(grown);
  capacity_ = capacity;
}

void StdinLines::release_memory() {
  if (capacity_ <= kMaxIdleCapacity) return;
  const std::size_t pending = end_ - begin_;
  std::size_t capacity = kInitialCapacity;
  while (capacity - pending < kBlockSize) capacity *= 2;
  if (capacity >= capacity_) return;
  auto smaller = allocate(capacity);
  std::memcpy(smaller.get(), buffer_.get() + begin_, pending);
  buffer_ = std::move(smaller);
  capacity_ = capacity;
  scanned_ -= begin_;
  end_ = pending;
  begin_ = 0;
}

void StdinLines::drop_interrupted_line() {
  if (begin_ < end_) skipping_ = true;
  begin_ = scanned_ = end_;
}

}  // namespace varnock
