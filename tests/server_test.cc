// The write-file service: its checks in order, and the snapshot of the file.
#include "mcp/server.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "support/temp_dir.h"

namespace varnock::mcp {
namespace {

using namespace std::string_literals;

const std::string kEmptyContent =
    "write_file rejected: content is empty. varnock_write_file does not create zero-byte files "
    "\u2014 supply the actual file contents, or if you genuinely meant to create an empty file, "
    "ask the user and use a shell command (`touch`) instead.";
const std::string kNoExplanation = "explanation_in_markdown is required";

// Calls the service inside a fresh workspace, which it must leave unchanged.
class WriteFileServiceTest : public ::testing::Test {
 protected:
  // The failure text, or "" on success (then `result` holds the records).
  std::string call(WriteFilePayload payload) {
    const std::string before = workspace_.snapshot();
    Result<VarnockMcpToolResult> outcome = VarnockMcpServer().write_file(std::move(payload));
    EXPECT_EQ(workspace_.snapshot(), before) << "the workspace changed";
    if (!outcome.ok()) return outcome.failure();
    result_ = std::move(outcome).value();
    return "";
  }

  // The "before" text proposed for `path`, with valid content and explanation.
  std::string before_of(const std::string& path) {
    EXPECT_EQ(call({path, "new", "why"}), "") << path;
    return result_.proposal ? result_.proposal->before : "<no proposal>";
  }

  test::ScratchWorkspace workspace_;
  const std::string cwd_ = workspace_.cwd();
  VarnockMcpToolResult result_;
};

struct CheckCase {
  const char* path;
  const char* content;
  const char* explanation;
  std::string failure;
};

TEST_F(WriteFileServiceTest, ChecksPathThenContentThenExplanation) {
  const CheckCase cases[] = {
      {"", "", "", "path is required"},
      {" \t", "x", "why", "path is required"},
      {"../x", "", "", "path must stay inside the workspace"},
      {"/etc/hosts", "x", "why", "path must stay inside the workspace"},
      {"a.txt", "", "", kEmptyContent},
      {"a.txt", "", "why", kEmptyContent},
      {"a.txt", "x", "", kNoExplanation},
      {"a.txt", "x", " \n\t\r\n ", kNoExplanation},
      {"a.txt", "x", "\u00a0\u3000\u2028", kNoExplanation},
      {"a.txt", " ", "why", ""},
      {"a.txt", "\n", "why", ""},
      {"a.txt", "x", "\u200b", ""},
  };
  for (const CheckCase& c : cases) {
    EXPECT_EQ(call({c.path, c.content, c.explanation}), c.failure)
        << c.path << " / " << c.content << " / " << c.explanation;
  }
}

// A path is judged trimmed but read as received.
TEST_F(WriteFileServiceTest, SnapshotUsesThePathAsReceived) {
  workspace_.write("notes.txt", "trimmed name");
  EXPECT_EQ(before_of(cwd_ + "/notes.txt"), "trimmed name");
  EXPECT_EQ(before_of(" " + cwd_ + "/notes.txt"), "");  // no such file
}

TEST_F(WriteFileServiceTest, UnreadableSnapshotsAreEmpty) {
  workspace_.write("latin1.txt", "caf\xe9");
  workspace_.write("dir/inside.txt", "x");
  workspace_.write("secret.txt", "hidden");
  ASSERT_EQ(chmod("secret.txt", 0), 0);
  ASSERT_EQ(mkfifo("pipe", 0600), 0);
  ASSERT_EQ(symlink("/dev/zero", "zero"), 0);

  EXPECT_EQ(before_of("missing.txt"), "");
  EXPECT_EQ(before_of("missing/dir/file"), "");
  EXPECT_EQ(before_of("latin1.txt"), "");
  EXPECT_EQ(before_of("dir"), "");
  EXPECT_EQ(before_of("."), "");
  EXPECT_EQ(before_of(cwd_), "");
  EXPECT_EQ(before_of("pipe"), "");  // must not wait for a writer
  EXPECT_EQ(before_of("zero"), "");  // a device is not read
  if (geteuid() != 0) {
    EXPECT_EQ(before_of("secret.txt"), "");  // root reads it anyway
  }
}

// A NUL byte cannot be part of a file name: the part before it is never opened.
TEST_F(WriteFileServiceTest, PathWithNulNamesNoFile) {
  workspace_.write("a.txt", "must not be read");
  EXPECT_EQ(before_of("a.txt\0.bak"s), "");
  EXPECT_EQ(result_.proposal->path, "a.txt\0.bak"s);
  EXPECT_EQ(result_.receipt.path, "a.txt\0.bak"s);
}

TEST_F(WriteFileServiceTest, ReadsTheWholeFile) {
  std::string large;
  for (int i = 0; large.size() < (1u << 20); ++i)
    large += "line " + std::to_string(i) + " \u00e9\n";
  workspace_.write("large.txt", large);
  workspace_.write("empty.txt", "");
  workspace_.write("nul.txt", "a\0b"s);
  EXPECT_EQ(before_of("large.txt"), large);
  EXPECT_EQ(before_of("empty.txt"), "");
  EXPECT_EQ(before_of("nul.txt"), "a\0b"s);
}

}  // namespace
}  // namespace varnock::mcp
