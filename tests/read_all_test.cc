// The bounded whole read (base/read_all.h) on what a path can name: the
// files, pipes, FIFO, directory and sparse file of base/read_all.tsv, and a
// /proc file that claims nothing.
#include "base/read_all.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "base/io.h"
#include "base/unique_fd.h"
#include "support/temp_dir.h"
#include "support/vectors.h"

namespace varnock {
namespace {

using test::TempDir;

constexpr std::size_t kLimit = 200000;
// A pipe's capacity in this test: more than the largest pipe of
// base/read_all.tsv, more than the reader's first chunk.
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

std::string outcome_of(const Result<std::string>& read) {
  if (read.ok()) return std::to_string(read.value().size());
  return read.kind() == FailureKind::kTooLarge ? "too large" : "fails";
}

// The source a row of base/read_all.tsv names, in `dir`.
UniqueFd source_of(const std::string& kind, std::size_t size, const TempDir& dir) {
  if (kind == "file") return file_of(dir, size);
  if (kind == "pipe") return pipe_of(size);
  if (kind == "sparse") {
    UniqueFd fd(::open(dir.file("sparse").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600));
    return ::ftruncate(fd.get(), static_cast<off_t>(size)) == 0 ? std::move(fd) : UniqueFd();
  }
  if (kind == "fifo") ::mkfifo(dir.file("fifo").c_str(), 0600);
  return open_read(kind == "fifo" ? dir.file("fifo") : dir.path());
}

TEST(ReadAll, ReadsToTheEndAndNeverPastTheLimit) {
  for (const test::VectorRecord& row : test::read_vectors("base/read_all.tsv")) {
    const std::vector<std::string>& c = row.columns;
    SCOPED_TRACE(c.at(0));
    TempDir dir;
    UniqueFd fd = source_of(c.at(1), std::stoul(c.at(2)), dir);
    ASSERT_TRUE(fd.valid());
    const Result<std::string> read =
        read_all(fd.get(), c.at(3) == "none" ? kNoLimit : std::stoul(c.at(3)));
    EXPECT_EQ(outcome_of(read), c.at(4));
    EXPECT_TRUE(!read.ok() || read.value() == pattern(read.value().size()));
    if (c.at(5) != "-") {
      EXPECT_EQ(c.at(1) == "pipe" ? waiting_in(fd.get()) : ::lseek(fd.get(), 0, SEEK_CUR),
                std::stoi(c.at(5)));
    }
  }
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
