// The mcp layer: the write_file records, the broker protocol's lines (their
// exact bytes are pinned at the wire: startup_wire and review_wire), the
// workspace path guard (judged from inside a scratch workspace), and the
// write-file service with its checks and the snapshot of the file.
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
#include "mcp/server.h"
#include "support/temp_dir.h"
#include "support/vectors.h"

namespace varnock::mcp {
namespace {

using namespace std::string_literals;

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

// The content can be very large, so it is moved out of the value, not copied.
TEST(DecodeWriteFilePayload, MovesTheStringsOutOfTheValue) {
  json::Value::Object object;
  object.emplace("path", json::Value(std::string(64, 'p')));
  object.emplace("content", json::Value(std::string(1 << 20, 'c')));
  object.emplace("explanationInMarkdown", json::Value(std::string(64, 'e')));
  json::Value value(std::move(object));
  const char* content_bytes = json::member(value, "content")->as_string().data();

  Result<WriteFilePayload> payload = decode_write_file_payload(std::move(value));
  ASSERT_TRUE(payload.ok()) << payload.failure();
  EXPECT_EQ(payload.value().content.data(), content_bytes);
  EXPECT_EQ(payload.value().content.size(), 1u << 20);
}

json::Value parsed(const std::string& text) {
  Result<json::Value> value = json::parse(text);
  EXPECT_TRUE(value.ok()) << text << ": " << (value.ok() ? "" : value.failure());
  return value.ok() ? std::move(value).value() : json::Value();
}

TEST(DecisionLine, TypeIdAcceptedInThatOrder) {
  EXPECT_EQ(decision_line("e\"1", false), R"({"type":"decision","id":"e\"1","accepted":false})");
  EXPECT_TRUE(is_decision_for(parsed(decision_line("edit-7", true)), "edit-7"));
  EXPECT_TRUE(decision_accepts(parsed(decision_line("edit-7", true))));
}

// Every record of broker_lines.tsv.
TEST(BrokerLines, DecisionsAndUnusableLines) {
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
    ServerMessage message = read_server_message(line);
    ASSERT_TRUE(std::holds_alternative<UnusableLine>(message));
    const UnusableLine& unusable = std::get<UnusableLine>(message);
    EXPECT_TRUE(unusable.reason.starts_with(record.columns[2])) << unusable.reason;
    EXPECT_EQ(unusable.reject_id.value_or("-"), record.columns[3]);
  }
}

TEST(ServerMessage, HelloAndProposalAreRecognised) {
  ServerMessage hello = read_server_message(hello_line(12, "t"));
  ASSERT_TRUE(std::holds_alternative<BrokerHello>(hello));
  EXPECT_EQ(std::get<BrokerHello>(hello).pid, 12u);
  EXPECT_EQ(std::get<BrokerHello>(hello).thread_id, "t");
  ServerMessage proposal = read_server_message(
      R"( {"id":"e1","payload":{"after":"b","before":"a","explanationInMarkdown":"w",)"
      R"("path":"p"},"type":"proposal"})"
      "\r\n");
  ASSERT_TRUE(std::holds_alternative<BrokerProposal>(proposal));
  const BrokerProposal& got = std::get<BrokerProposal>(proposal);
  EXPECT_EQ(got.id, "e1");
  EXPECT_EQ(got.edit.path, "p");
  EXPECT_EQ(got.edit.before, "a");
  EXPECT_EQ(got.edit.after, "b");
  EXPECT_EQ(got.edit.explanation_in_markdown, "w");
}

constexpr const char* kOk = "";
constexpr const char* kRequired = "path is required";
constexpr const char* kOutside = "path must stay inside the workspace";

// Runs each test inside a fresh workspace.
class PathGuardTest : public ::testing::Test {
 protected:
  // `path` with every "{ws}" replaced by the workspace directory.
  std::string in_workspace(std::string path) const {
    for (std::size_t at; (at = path.find("{ws}")) != std::string::npos;) {
      path.replace(at, 4, workspace_);
    }
    return path;
  }

  test::ScratchWorkspace workspace_dir_;
  const std::string workspace_ = workspace_dir_.cwd();  // as the system reports it
};

std::string judged(std::string_view path) {
  Status status = validate_relative_file_path(path);
  return status.ok() ? "" : status.failure();
}

// Every line of tests/vectors/paths.tsv: the path, then the failure or "-".
TEST_F(PathGuardTest, JudgesByComponents) {
  for (const test::VectorRecord& record : test::read_vectors("paths.tsv")) {
    Result<json::Value> path = json::parse(record.columns.at(0));
    ASSERT_TRUE(path.ok() && path.value().is_string()) << "paths.tsv line " << record.line;
    const std::string failure = record.columns.at(1) == "-" ? "" : record.columns.at(1);
    EXPECT_EQ(judged(in_workspace(path.value().as_string())), failure)
        << "paths.tsv line " << record.line;
  }
}

TEST_F(PathGuardTest, AbsolutePathsMustUseTheReportedWorkspaceForm) {
  // The parent of the workspace, a prefix of its last component, and a case change.
  const std::string parent = workspace_.substr(0, workspace_.rfind('/'));
  const std::string last = workspace_.substr(workspace_.rfind('/') + 1);
  EXPECT_EQ(judged(parent + "/a"), kOutside);
  EXPECT_EQ(judged(parent + "/" + last.substr(0, last.size() - 1)), kOutside);
  std::string other_case = workspace_;
  other_case.back() = static_cast<char>(std::islower(other_case.back()) ? 'A' : 'a');
  EXPECT_EQ(judged(other_case + "/a"), kOutside);

  // A symbolic link to the workspace is another form of it, and not accepted.
  test::TempDir elsewhere;
  const std::string link = elsewhere.file("via-link");
  ASSERT_EQ(symlink(workspace_.c_str(), link.c_str()), 0);
  EXPECT_EQ(judged(link + "/a"), kOutside);
}

TEST_F(PathGuardTest, DoesNotLookAtTheFileSystem) {
  ASSERT_EQ(symlink("/etc", workspace_dir_.file("out").c_str()), 0);
  EXPECT_EQ(judged("out/hosts"), kOk);
  EXPECT_EQ(judged("missing/dir/file"), kOk);
}

TEST_F(PathGuardTest, AsksForTheWorkspaceOnEveryAbsolutePath) {
  ASSERT_EQ(mkdir("inner", 0700), 0);
  EXPECT_EQ(judged(workspace_ + "/x"), kOk);
  ASSERT_EQ(chdir("inner"), 0);
  EXPECT_EQ(judged(workspace_ + "/x"), kOutside);
  EXPECT_EQ(judged(workspace_ + "/inner/x"), kOk);
}

TEST_F(PathGuardTest, RemovedWorkingDirectory) {
  ASSERT_EQ(mkdir("gone", 0700), 0);
  ASSERT_EQ(chdir("gone"), 0);
  ASSERT_EQ(rmdir((workspace_ + "/gone").c_str()), 0);

  const std::string unresolved =
      "failed to resolve workspace directory: No such file or directory (os error 2)";
  EXPECT_EQ(judged(workspace_ + "/gone/a.txt"), unresolved);
  EXPECT_EQ(judged("/etc/hosts"), unresolved);
  EXPECT_EQ(judged(" /x/../y"), unresolved);
  EXPECT_EQ(judged("a.txt"), kOk);
  EXPECT_EQ(judged("../a.txt"), kOutside);
  EXPECT_EQ(judged("  "), kRequired);
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
  // A file may claim no size and still hold text: it is read, not trusted.
  ASSERT_EQ(symlink("/proc/version", "version"), 0);
  const std::string version = workspace_.read("version");
  EXPECT_TRUE(version.starts_with("Linux version")) << version;
  EXPECT_EQ(before_of("version"), version);
}

}  // namespace
}  // namespace varnock::mcp
