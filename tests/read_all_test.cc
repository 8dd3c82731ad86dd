// The bounded whole read (base/read_all.h) on what a path can name: files
// of every size about the limit, a sparse file that claims gigabytes, a
// /proc file that claims nothing, pipes, a FIFO and a directory.
#include "base/read_all.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <functional>
#include <string>

#include "base/io.h"
#include "base/unique_fd.h"
#include "support/temp_dir.h"

namespace varnock {
namespace {

using test::TempDir;

constexpr std::size_t kLimit = 200000;
// A pipe's capacity in this test: more than kLimit + 1, more than the
// reader's first chunk.
constexpr int kPipeSize = 1 << 20;

UniqueFd open_read(const std::string& path) {
  return UniqueFd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
}

// The bytes every source below holds: "abcdefg" over and over, so that a
// byte out of place shows.
std::string pattern(std::size_t size) {
  std::string bytes(size, '\0');
  for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>('a' + i % 7);
  return bytes;
}

// A file in `dir` holding `size` bytes, opened for reading.
UniqueFd file_of(const TempDir& dir, std::size_t size) {
  dir.write("file", pattern(size));
  return open_read(dir.file("file"));
}

// The read end of a pipe whose writer put `size` bytes in and closed.
UniqueFd pipe_of(std::size_t size) {
  int ends[2];
  if (::pipe2(ends, O_CLOEXEC) != 0) return {};
  UniqueFd write_end(ends[1]);
  ::fcntl(ends[0], F_SETPIPE_SZ, kPipeSize);
  if (write_all(write_end.get(), pattern(size)) != 0) return {};
  return UniqueFd(ends[0]);
}

// The bytes still waiting in a pipe.
int waiting_in(int fd) {
  int count = -1;
  return ::ioctl(fd, FIONREAD, &count) == 0 ? count : -1;
}

struct Case {
  const char* name;
  std::function<UniqueFd(const TempDir&)> open;
  std::size_t limit;
  std::string outcome;    // "too large", "fails", or how many bytes are read
  int left_in_pipe = -1;  // for a pipe: the bytes it still holds afterwards
};

std::string outcome_of(const Result<std::string>& read) {
  if (read.ok()) return std::to_string(read.value().size());
  return read.kind() == FailureKind::kTooLarge ? "too large" : "fails";
}

TEST(ReadAll, ReadsToTheEndAndNeverPastTheLimit) {
  const Case cases[] = {
      {"a small file", [](const TempDir& d) { return file_of(d, 5); }, kLimit, "5"},
      {"an empty file", [](const TempDir& d) { return file_of(d, 0); }, kLimit, "0"},
      {"a file at the limit", [](const TempDir& d) { return file_of(d, kLimit); }, kLimit,
       std::to_string(kLimit)},
      {"a file one past the limit", [](const TempDir& d) { return file_of(d, kLimit + 1); }, kLimit,
       "too large"},
      {"nothing at a limit of 0", [](const TempDir& d) { return file_of(d, 0); }, 0, "0"},
      {"a pipe at the limit", [](const TempDir&) { return pipe_of(kLimit); }, kLimit,
       std::to_string(kLimit), 0},
      {"a pipe past the limit", [](const TempDir&) { return pipe_of(kLimit + 5000); }, kLimit,
       "too large", 4999},
      {"a pipe without limit", [](const TempDir&) { return pipe_of(kLimit + 5000); }, kNoLimit,
       std::to_string(kLimit + 5000), 0},
      {"a FIFO with no writer",
       [](const TempDir& d) {
         ::mkfifo(d.file("fifo").c_str(), 0600);
         return open_read(d.file("fifo"));
       },
       kLimit, "0"},
      {"a directory", [](const TempDir& d) { return open_read(d.path()); }, kLimit, "fails"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    UniqueFd fd = c.open(dir);
    ASSERT_TRUE(fd.valid());
    const Result<std::string> read = read_all(fd.get(), c.limit);
    EXPECT_EQ(outcome_of(read), c.outcome);
    EXPECT_TRUE(!read.ok() || read.value() == pattern(read.value().size()));
    if (c.left_in_pipe >= 0) {
      EXPECT_EQ(waiting_in(fd.get()), c.left_in_pipe);
    }
  }
}

// A sparse file that claims 3 GiB fails at once: nothing is read.
TEST(ReadAll, ASparseFileClaimingGigabytesIsRefusedUnread) {
  TempDir dir;
  UniqueFd fd(::open(dir.file("sparse").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600));
  ASSERT_EQ(::ftruncate(fd.get(), off_t{3} << 30), 0);
  const Result<std::string> read = read_all(fd.get(), std::size_t{256} << 20);
  EXPECT_EQ(outcome_of(read), "too large");
  EXPECT_EQ(::lseek(fd.get(), 0, SEEK_CUR), 0) << "nothing was read";
}

// A /proc file claims size 0 and is still read to its end, within the limit.
TEST(ReadAll, AProcFileThatClaimsNothingIsReadOn) {
  const std::string path = "/proc/self/status";
  struct stat status;
  ASSERT_EQ(::stat(path.c_str(), &status), 0);
  ASSERT_EQ(status.st_size, 0);
  const Result<std::string> read = read_all(open_read(path).get(), kLimit);
  ASSERT_TRUE(read.ok()) << read.failure();
  EXPECT_TRUE(read.value().starts_with("Name:")) << read.value();
  EXPECT_EQ(outcome_of(read_all(open_read(path).get(), 16)), "too large");
}

}  // namespace
}  // namespace varnock
