// Line framing of standard input, driven through real descriptors.

#include "stdin_lines.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace varnock {
namespace {

// Writes `input` into a pipe from another thread, `piece` bytes per write,
// and gives every line StdinLines reads from the other end.
std::vector<std::string> lines_of(const std::string& input, std::size_t piece = 0,
                                  bool non_blocking = false) {
  int fds[2];
  EXPECT_EQ(pipe(fds), 0);
  if (non_blocking) fcntl(fds[0], F_SETFL, O_NONBLOCK);
  std::thread writer([&input, piece, fd = fds[1]] {
    std::size_t step = piece == 0 ? input.size() : piece;
    for (std::size_t offset = 0; offset < input.size(); offset += step) {
      std::size_t size = std::min(step, input.size() - offset);
      EXPECT_EQ(write(fd, input.data() + offset, size), static_cast<ssize_t>(size));
      if (piece != 0) std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    close(fd);
  });
  std::vector<std::string> lines;
  StdinLines reader(fds[0]);
  while (std::optional<std::string_view> line = reader.read_line()) lines.emplace_back(*line);
  writer.join();
  close(fds[0]);
  return lines;
}

using Lines = std::vector<std::string>;

// Each input whole, one byte per write, and three bytes per write to a
// reader that does not block.
TEST(StdinLines, SplitsOnLineFeedAndDropsOneCarriageReturnBeforeIt) {
  const std::pair<std::string, Lines> cases[] = {
      {"", {}},
      {"\n", {""}},
      {"a\nb\r\n\r\nc", {"a", "b", "", "c"}},
      {"a\r\r\nb\rc\n", {"a\r", "b\rc"}},
      // A last line without LF keeps its CR: only a CR before a LF goes.
      {"a\nb\r", {"a", "b\r"}},
      {std::string("\0\n\xff\n", 4), {std::string(1, '\0'), "\xff"}},
      {"{\"id\":1}\r\n\nsecond line\nlast", {"{\"id\":1}", "", "second line", "last"}},
  };
  for (const auto& [input, expected] : cases) {
    for (std::size_t piece : {0, 1, 3}) EXPECT_EQ(lines_of(input, piece, piece == 3), expected);
  }
}

TEST(StdinLines, ReadsLinesOfAnyLengthAcrossBlocks) {
  const std::string huge(5 * 1024 * 1024 + 7, 'h');
  const std::string block_sized(StdinLines::kBlockSize, 'b');
  const std::string input =
      "a\n" + huge + "\r\nb\n" + block_sized + "\n" + block_sized + block_sized + "\nc\n" + huge;
  EXPECT_EQ(lines_of(input),
            (Lines{"a", huge, "b", block_sized, block_sized + block_sized, "c", huge}));
}

// An error that repeats on every read (here EISDIR, or EBADF) ends the input
// instead of making the reader spin.
TEST(StdinLines, EndsOnAReadErrorThatRepeats) {
  int directory = open(".", O_RDONLY | O_DIRECTORY);
  ASSERT_GE(directory, 0);
  for (int fd : {directory, -1}) {
    StdinLines reader(fd);
    EXPECT_EQ(reader.read_line(), std::nullopt);
    EXPECT_EQ(reader.read_line(), std::nullopt);
  }
  close(directory);
}

}  // namespace
}  // namespace varnock
