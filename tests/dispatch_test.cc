// The dispatcher in process: request lines through answer_line with a
// scripted review step, compared byte for byte with tests/vectors/dispatch.tsv
// and server.tsv.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <string_view>

#include "json/write.h"
#include "loop.h"
#include "review.h"
#include "support/temp_dir.h"
#include "support/vectors.h"
#include "varnock/version.h"

namespace varnock::test {
namespace {

// The line as StdinLines gives it: without its LF and one CR before it.
std::string without_line_ending(std::string line) {
  if (line.ends_with('\n')) line.pop_back();
  if (line.ends_with('\r')) line.pop_back();
  return line;
}

// Answers lines in a workspace holding the files dispatch.tsv reads (text,
// not text, not files at all, and a file that claims no size), which must
// come out of every call unchanged.
class Dispatch : public ::testing::Test {
 protected:
  void SetUp() override {
    workspace_.write("notes.txt", "old \u00e9\r\n");
    workspace_.write(" notes.txt ", "with blanks");
    workspace_.write("latin1.txt", "caf\xe9");
    workspace_.write("nul.txt", std::string("a\0b", 3));
    workspace_.write("dir/inside.txt", "x");
    ASSERT_EQ(mkfifo("fifo", 0600), 0);  // must not wait for a writer
    ASSERT_EQ(symlink("/dev/zero", "zero"), 0);
    ASSERT_EQ(symlink("/proc/sys/kernel/ostype", "ostype"), 0);  // claims size 0
    before_ = workspace_.snapshot();
  }
  void TearDown() override { EXPECT_EQ(workspace_.snapshot(), before_); }

  // The response line to `line`, or "-" for none. `review` is dispatch.tsv's
  // column: "-" when the review step must not be called, else "accept " or
  // "reject " and the proposal it must be given; it accepts with the
  // receipt it was given, or fails.
  std::string answer(std::string_view line, const std::string& review = "-") {
    std::string seen = "-";
    const ReviewStep step = [&](mcp::VarnockMcpToolResult prepared) -> Result<std::string> {
      seen = prepared.proposal ? json::write(mcp::to_value(std::move(*prepared.proposal)))
                               : "<no proposal>";
      if (review.starts_with("accept ")) return mcp::encode_receipt(prepared.receipt);
      return fail("The request has been rejected.");
    };
    std::optional<json::Value> response = answer_line(line, step);
    EXPECT_EQ(seen, review == "-" ? review : review.substr(review.find(' ') + 1)) << "review step";
    return response ? json::write(*response) : "-";
  }

  ScratchWorkspace workspace_;
  std::string before_;
};

// The version in the expected lines is the one the program is built with.
std::string with_version(std::string text) {
  constexpr std::string_view kPlaceholder = "@VERSION@";
  const std::size_t at = text.find(kPlaceholder);
  if (at != std::string::npos) text.replace(at, kPlaceholder.size(), kVersion);
  return text;
}

TEST_F(Dispatch, EveryLineOfDispatchTsv) {
  for (const VectorRecord& record : read_vectors("dispatch.tsv")) {
    SCOPED_TRACE("dispatch.tsv line " + std::to_string(record.line));
    ASSERT_EQ(record.columns.size(), 3u);
    EXPECT_EQ(answer(record.columns[0], record.columns[1]), with_version(record.columns[2]));
  }
}

TEST_F(Dispatch, EveryLineOfServerTsv) {
  for (const VectorRecord& record : read_vectors("server.tsv")) {
    SCOPED_TRACE("server.tsv line " + std::to_string(record.line));
    ASSERT_EQ(record.columns.size(), 3u);
    EXPECT_EQ(answer(without_line_ending(from_hex(record.columns[1]))), record.columns[2]);
  }
}

// Lines that are blank by the Unicode White_Space rule or not UTF-8 get no
// answer; any other character makes the line a parse error (quiet_lines.tsv).
TEST_F(Dispatch, BlankAndInvalidLines) {
  for (const VectorRecord& record : read_vectors("quiet_lines.tsv")) {
    SCOPED_TRACE("quiet_lines.tsv line " + std::to_string(record.line));
    EXPECT_EQ(answer(unescape(record.columns.at(0))), record.columns.at(1));
  }
}

}  // namespace
}  // namespace varnock::test
