// Lines out of bytes: the first line of a text in hand, a splitter that is
// fed bytes as they arrive, and a reader that feeds one from a descriptor.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/result.h"

namespace varnock {

// Cuts the first line off the front of `text` and gives it, with its LF
// when it has one; the view points into the text. "" when `text` is empty.
std::string_view cut_line(std::string_view& text);

// Cuts a stream into lines, each ending with its line feed. However the
// stream is cut into pieces, each byte is searched for a line feed once and
// moved at most a constant number of times, so a long line costs linear
// time. A line that begins the buffer is handed out as the buffer itself,
// uncopied, whatever follows it. Lines are handed out as bytes; nothing
// checks them for UTF-8.
class LineSplitter {
 public:
  void append(std::string_view bytes);

  // The next complete line with its LF, or nullopt while none is complete.
  std::optional<std::string> take_line();

  // The bytes of the unfinished line, for the end of the stream; afterwards
  // the splitter is empty.
  std::string take_rest();

  // Bytes held that belong to no complete line handed out yet.
  std::size_t pending() const { return buffer_.size() - begin_; }

  // Makes room for `bytes` held at once, so that a long line then grows in
  // place: appending copies only the bytes appended, and the memory is taken
  // page by page as they arrive. False when the room cannot be had.
  bool reserve(std::size_t bytes);

 private:
  std::string buffer_;
  std::size_t begin_ = 0;    // first byte not handed out
  std::size_t scanned_ = 0;  // bytes from begin_ up to here hold no LF
};

// Reads lines from a descriptor it does not own, `block_size` bytes per
// read(2). Bytes after a line stay buffered for the next call.
class LineReader {
 public:
  LineReader(int fd, std::size_t block_size);

  // The next line with its LF, or the rest of the stream when it ends
  // without one; nullopt at the end of the stream with nothing left. Fails
  // with the system's text ("Connection reset by peer (os error 104)"),
  // keeping what was buffered.
  Result<std::optional<std::string>> read_line();

  // The unfinished line, for a caller that has seen the end of the stream.
  std::string take_rest() { return lines_.take_rest(); }

  int fd() const { return fd_; }

 private:
  int fd_;
  std::vector<char> block_;
  LineSplitter lines_;
};

}  // namespace varnock
