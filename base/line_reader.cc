#include "base/line_reader.h"

#include <cerrno>
#include <cstring>
#include <new>
#include <utility>

#include "base/io.h"
#include "base/os_error.h"

namespace varnock {
namespace {

// A buffer larger than this is let go when it empties.
constexpr std::size_t kKeptCapacity = std::size_t{1} << 20;

}  // namespace

std::string_view cut_line(std::string_view& text) {
  const std::size_t feed = text.find('\n');
  const std::string_view line = text.substr(0, feed == text.npos ? text.size() : feed + 1);
  text.remove_prefix(line.size());
  return line;
}

void LineSplitter::append(std::string_view bytes) {
  // Drop what was handed out once it is at least half the buffer, or when
  // the buffer grows anyway, so each byte is moved a bounded number of
  // times, and a long line that fills the buffer is handed out uncopied.
  const bool grows = buffer_.size() + bytes.size() > buffer_.capacity();
  if (begin_ > 0 && (begin_ * 2 >= buffer_.size() || grows)) {
    buffer_.erase(0, begin_);
    scanned_ -= begin_;
    begin_ = 0;
  }
  buffer_.append(bytes);
}

std::optional<std::string> LineSplitter::take_line() {
  const char* from = buffer_.data() + scanned_;
  const void* feed = std::memchr(from, '\n', buffer_.size() - scanned_);
  if (feed == nullptr) {
    scanned_ = buffer_.size();
    return std::nullopt;
  }
  const std::size_t end =
      static_cast<std::size_t>(static_cast<const char*>(feed) - buffer_.data()) + 1;
  std::string line;
  if (begin_ == 0 && end * 2 >= buffer_.size()) {
    // The line is most of the buffer: it leaves with the buffer, and what
    // follows it, the smaller part, is copied.
    line = std::move(buffer_);
    buffer_.assign(line, end);
    line.resize(end);
    begin_ = scanned_ = 0;
    return line;
  }
  line.assign(buffer_, begin_, end - begin_);
  begin_ = scanned_ = end;
  if (begin_ >= buffer_.size()) {
    // Room a long line needed is given back once nothing is left in it.
    if (buffer_.capacity() > kKeptCapacity) std::string().swap(buffer_);
    buffer_.clear();
    begin_ = scanned_ = 0;
  }
  return line;
}

bool LineSplitter::reserve(std::size_t bytes) {
  if (bytes <= buffer_.capacity() - begin_) return true;
  buffer_.erase(0, begin_);
  scanned_ -= begin_;
  begin_ = 0;
  try {
    buffer_.reserve(bytes);
  } catch (const std::bad_alloc&) {
    return false;
  }
  return true;
}

std::string LineSplitter::take_rest() {
  std::string rest = begin_ == 0 ? std::move(buffer_) : buffer_.substr(begin_);
  buffer_.clear();
  begin_ = scanned_ = 0;
  return rest;
}

LineReader::LineReader(int fd, std::size_t block_size) : fd_(fd), block_(block_size) {}

Result<std::optional<std::string>> LineReader::read_line() {
  for (;;) {
    if (std::optional<std::string> line = lines_.take_line()) return line;
    const ssize_t count = read_some(fd_, block_.data(), block_.size());
    if (count < 0) return fail(os_error_text(errno));
    if (count > 0) {
      lines_.append(std::string_view(block_.data(), static_cast<std::size_t>(count)));
      continue;
    }
    if (lines_.pending() == 0) return std::optional<std::string>();
    return std::optional<std::string>(lines_.take_rest());
  }
}

}  // namespace varnock
