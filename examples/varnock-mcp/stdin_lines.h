// Line framing of standard input: lines of any length, read in large blocks.
#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <string_view>

namespace varnock {

// Splits the bytes read from a descriptor into lines. A line is everything up
// to the next LF; the LF goes, and so does one CR right before it. At end of
// input the bytes after the last LF, if any, are the last line (with any CR
// they end in). Lines are not checked for UTF-8 here.
//
// Reading is linear in the input: blocks of at least kBlockSize bytes are
// read into one buffer, which grows geometrically and is compacted only when
// a line is incomplete, and no byte is searched for a LF twice.
//
// Read errors: EINTR is repeated; EAGAIN (a non-blocking descriptor) waits
// in poll(). Any other failed read loses the line it interrupted, whole: the
// bytes of it already read are dropped and so is the rest of it up to the
// next LF, and reading goes on. After kMaxFailedReads failed reads in a row
// the input is treated as ended, so that an error that repeats on every
// attempt cannot make the caller spin.
class StdinLines {
 public:
  static constexpr std::size_t kBlockSize = 64 * 1024;
  static constexpr int kMaxFailedReads = 16;

  // Reads from `fd`, which stays owned by the caller.
  explicit StdinLines(int fd);

  // The next line, or nullopt at end of input. The view stays valid until
  // the next call to read_line() or release_memory().
  std::optional<std::string_view> read_line();

  // Gives back a buffer that one long line has grown, keeping the input not
  // yet returned. Ends the last returned line's view.
  void release_memory();

 private:
  std::string_view take_line(std::size_t line_feed);
  void fill();
  void make_room();
  void drop_interrupted_line();

  int fd_;
  struct FreeBuffer {
    void operator()(char* buffer) const;
  };
  using Buffer = std::unique_ptr<char[], FreeBuffer>;
  static Buffer allocate(std::size_t capacity);

  Buffer buffer_;
  std::size_t capacity_;
  std::size_t begin_ = 0;    // first byte not yet returned
  std::size_t scanned_ = 0;  // bytes from begin_ up to here hold no LF
  std::size_t end_ = 0;      // bytes read so far
  int failed_reads_ = 0;     // consecutive failed reads
  bool at_end_ = false;
  bool skipping_ = false;  // dropping the rest of an interrupted line
};

}  // namespace varnock
