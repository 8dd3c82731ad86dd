// The mcp layer: the write_file records, the broker protocol's lines (their
// exact bytes are pinned at the wire: startup_wire and review_wire), the
// workspace path guard (judged from inside a scratch workspace). The
// write-file checks and the snapshot of the file are dispatch.tsv's.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <string>
#include <vector>

#include "json/parse.h"
#include "json/write.h"
#include "mcp/broker_protocol.h"
#include "mcp/path_guard.h"
#include "mcp/schema.h"
#include "support/temp_dir.h"
#include "support/vectors.h"

namespace varnock::mcp {
namespace {

// "ERR <message>" or the decoded strings as a JSON array, as decode.tsv has them.
std::string decode_outcome(const std::string& text) {
  Result<json::Value> value = json::parse(text);
  if (!value.ok()) return "ERR\t" + value.failure();
  Result<WriteFilePayload> payload = decode_write_file_payload(std::move(value).value());
  if (!payload.ok()) return "ERR\t" + payload.failure();
  json::Value::Array strings = {json::Value(payload.value().path),
                                json::Value(payload.value().content),
                                json::Value(payload.value().explanation_in_markdown)};
  return "OK\t" + json::write(json::Value(std::move(strings)));
}

TEST(DecodeWriteFilePayload, EveryVectorOfDecodeTsv) {
  const std::vector<test::VectorRecord> records = test::read_vectors("decode.tsv");
  ASSERT_GT(records.size(), 100u);
  for (const test::VectorRecord& record : records) {
    ASSERT_EQ(record.columns.size(), 3u) << "decode.tsv line " << record.line;
    EXPECT_EQ(decode_outcome(test::from_hex(record.columns[0])),
              record.columns[1] + "\t" + record.columns[2])
        << "decode.tsv line " << record.line;
  }
}

json::Value parsed(const std::string& text) {
  Result<json::Value> value = json::parse(text);
  EXPECT_TRUE(value.ok()) << text << ": " << (value.ok() ? "" : value.failure());
  return value.ok() ? std::move(value).value() : json::Value();
}

// Every record of broker_lines.tsv.
TEST(BrokerLines, EveryLineOfBrokerLinesTsv) {
  for (const test::VectorRecord& record : test::read_vectors("broker_lines.tsv")) {
    SCOPED_TRACE("broker_lines.tsv line " + std::to_string(record.line));
    ASSERT_EQ(record.columns.size(), 4u);
    const std::string line = test::unescape(record.columns[1]);
    if (record.columns[0] == "decision") {
      const json::Value message = parsed(line);
      EXPECT_EQ(is_decision_for(message, "edit-7"), record.columns[2] == "yes");
      EXPECT_EQ(decision_accepts(message), record.columns[3] == "yes");
      continue;
    }
    const ServerMessage message = read_server_message(line);
    const std::string& kind = record.columns[0];
    if (const auto* hello = std::get_if<BrokerHello>(&message)) {
      EXPECT_EQ(kind + " " + std::to_string(hello->pid.value_or(0)) + " " + hello->thread_id,
                "hello " + record.columns[2] + " " + record.columns[3]);
    } else if (const auto* proposal = std::get_if<BrokerProposal>(&message)) {
      const VarnockEditProposal& edit = proposal->edit;
      EXPECT_EQ(kind + " " + proposal->id + " " + edit.path + "|" + edit.before + "|" + edit.after +
                    "|" + edit.explanation_in_markdown,
                "proposal " + record.columns[2] + " " + record.columns[3]);
    } else {
      const UnusableLine& unusable = std::get<UnusableLine>(message);
      EXPECT_EQ(kind, "unusable");
      EXPECT_TRUE(unusable.reason.starts_with(record.columns[2])) << unusable.reason;
      EXPECT_EQ(unusable.reject_id.value_or("-"), record.columns[3]);
    }
  }
}

constexpr const char* kOk = "";
constexpr const char* kOutside = "path must stay inside the workspace";

std::string judged(std::string_view path) {
  Status status = validate_relative_file_path(path);
  return status.ok() ? "" : status.failure();
}

// Runs each test inside a fresh workspace, which holds a link `out` to /etc.
class PathGuardTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(symlink("/etc", workspace_dir_.file("out").c_str()), 0); }

  test::ScratchWorkspace workspace_dir_;
  const std::string workspace_ = workspace_dir_.cwd();  // as the system reports it
};

// Every line of tests/vectors/paths.tsv, its names for the workspace's
// forms replaced: as the system reports it, its parent, its name cut by one
// byte, its last letter in the other case, its first component renamed, and
// a link to it from elsewhere.
TEST_F(PathGuardTest, JudgesByComponents) {
  test::TempDir elsewhere;
  ASSERT_EQ(symlink(workspace_.c_str(), elsewhere.file("link").c_str()), 0);
  std::string other_case = workspace_;
  other_case.back() = static_cast<char>(std::islower(other_case.back()) ? 'A' : 'a');
  std::string other_root = workspace_;
  other_root.insert(other_root.find('/', 1), "x");
  const std::pair<std::string, std::string> forms[] = {
      {"{ws}", workspace_},
      {"{parent}", workspace_.substr(0, workspace_.rfind('/'))},
      {"{cut}", workspace_.substr(0, workspace_.size() - 1)},
      {"{case}", other_case},
      {"{root}", other_root},
      {"{link}", elsewhere.file("link")}};
  for (const test::VectorRecord& record : test::read_vectors("paths.tsv")) {
    Result<json::Value> parsed = json::parse(record.columns.at(0));
    ASSERT_TRUE(parsed.ok() && parsed.value().is_string()) << "paths.tsv line " << record.line;
    std::string path = parsed.value().as_string();
    for (const auto& [name, form] : forms) {
      for (std::size_t at; (at = path.find(name)) != std::string::npos;)
        path.replace(at, name.size(), form);
    }
    const std::string failure = record.columns.at(1) == "-" ? "" : record.columns.at(1);
    EXPECT_EQ(judged(path), failure) << "paths.tsv line " << record.line;
  }
}

// Absolute paths are judged against the working directory of the moment,
// asked for each time; once it is removed, only relative paths are judged.
TEST_F(PathGuardTest, FollowsTheWorkingDirectory) {
  ASSERT_EQ(mkdir("inner", 0700), 0);
  EXPECT_EQ(judged(workspace_ + "/x"), kOk);
  ASSERT_EQ(chdir("inner"), 0);
  EXPECT_EQ(judged(workspace_ + "/x"), kOutside);
  EXPECT_EQ(judged(workspace_ + "/inner/x"), kOk);
  ASSERT_EQ(rmdir((workspace_ + "/inner").c_str()), 0);
  const std::string unresolved =
      "failed to resolve workspace directory: No such file or directory (os error 2)";
  EXPECT_EQ(judged(workspace_ + "/inner/a.txt"), unresolved);
  EXPECT_EQ(judged(" /x/../y"), unresolved);
  EXPECT_EQ(judged("a.txt"), kOk);
  EXPECT_EQ(judged("../a.txt"), kOutside);
  EXPECT_EQ(judged("  "), "path is required");
}

// A working directory longer than the first buffer (and than PATH_MAX) is
// still found in full.
TEST_F(PathGuardTest, DeepWorkingDirectory) {
  const std::string name(200, 'd');
  constexpr int kLevels = 25;
  std::string deep = workspace_;
  for (int level = 0; level < kLevels; ++level) {
    ASSERT_EQ(mkdir(name.c_str(), 0700), 0);
    ASSERT_EQ(chdir(name.c_str()), 0);
    deep += "/" + name;
  }
  ASSERT_GT(deep.size(), 5000u);
  EXPECT_EQ(judged(deep + "/a.txt"), kOk);
  EXPECT_EQ(judged(deep.substr(0, deep.size() - 1) + "/a.txt"), kOutside);
  // Too deep for the temporary directory's own clean-up: undo it by relative names.
  for (int level = 0; level < kLevels; ++level) {
    ASSERT_EQ(chdir(".."), 0);
    ASSERT_EQ(rmdir(name.c_str()), 0);
  }
}

}  // namespace
}  // namespace varnock::mcp
