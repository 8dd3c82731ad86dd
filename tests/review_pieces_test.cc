// varnock-review's pure decisions in process: where a path leads beneath a
// workspace (both ways of resolving), whether the present file still holds
// what the agent read, the apply, what the display escapes, the line
// bounds, the command line, and the core's first-answer-wins contract.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "apply.h"
#include "beneath.h"
#include "line_limits.h"
#include "options.h"
#include "review_core.h"
#include "support/temp_dir.h"
#include "support/vectors.h"
#include "target.h"
#include "terminal.h"
#include "visible_text.h"

namespace varnock::review {
namespace {

using test::TempDir;

Workspace open_at(const std::string& path) {
  return Workspace{UniqueFd(::open(path.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC)),
                   std::filesystem::canonical(path).string()};
}

// A scratch tree:
//   ws/file.txt "old"  ws/sub/kept.txt  ws/inner.txt -> file.txt  ws/subl -> sub
//   ws/out -> outside/  ws/leak.txt -> outside/secret.txt  ws/up -> ../ws/sub
//   ws/dangling.txt -> nowhere  ws/fifo  outside/secret.txt
class BeneathTest : public ::testing::TestWithParam<ResolveMethod> {
 protected:
  void SetUp() override {
    set_resolve_method(GetParam());
    tree_.write("ws/file.txt", "old");
    tree_.write("ws/sub/kept.txt", "kept");
    tree_.write("outside/secret.txt", "secret");
    const std::string ws = tree_.file("ws") + "/";
    for (const auto& [target, link] : {std::pair{"file.txt", "inner.txt"},
                                       {"sub", "subl"},
                                       {"../outside", "out"},
                                       {"../outside/secret.txt", "leak.txt"},
                                       {"../ws/sub", "up"},
                                       {"nowhere", "dangling.txt"}}) {
      ASSERT_EQ(::symlink(target, (ws + link).c_str()), 0) << link;
    }
    ASSERT_EQ(::mkfifo((ws + "fifo").c_str(), 0600), 0);
    workspace_ = open_at(ws);
  }
  void TearDown() override { set_resolve_method(ResolveMethod::kKernel); }

  // The shown target, or the refusal.
  std::string resolve(const std::string& path) {
    Result<Target> target = resolve_target(workspace_, path);
    return target.ok() ? target.value().shown : "refused: " + target.failure();
  }

  TempDir tree_;
  Workspace workspace_;
};

// The paths and what they give are in tests/vectors/review/beneath.tsv; the
// two without bound are made here.
TEST_P(BeneathTest, PathsResolveInsideOrAreRefusedWithTheirReason) {
  const std::map<std::string, std::string_view> reasons = {{"outside", kOutside},
                                                           {"not-regular", kNotRegular},
                                                           {"not-a-name", kNotAFileName},
                                                           {"too-long", kTooLong}};
  std::vector<std::pair<std::string, std::string>> cases = {
      {std::string(kMaxPathBytes + 1, 'a'), "refused: too-long"}, {"f", "refused: too-long"}};
  for (std::size_t i = 0; i < kMaxPathDepth; ++i) cases.back().first.insert(0, "d/");
  for (const test::VectorRecord& record : test::read_vectors("review/beneath.tsv")) {
    std::string path = test::unescape(record.columns.at(0));
    if (path.starts_with("{WS}")) path.replace(0, 4, workspace_.name);
    cases.emplace_back(path, record.columns.at(1));
  }
  for (auto [path, expected] : cases) {
    if (expected.starts_with("refused: "))
      expected = "refused: " + std::string(reasons.at(expected.substr(9)));
    EXPECT_EQ(resolve(path), expected) << path;
  }
}

TEST_P(BeneathTest, ApplyWritesTheResolvedFileAndKeepsItsMode) {
  ASSERT_EQ(::chmod(tree_.file("ws/file.txt").c_str(), 0751), 0);
  Result<std::string> applied = apply_proposal(workspace_, "inner.txt", "old", "new");
  ASSERT_TRUE(applied.ok()) << applied.failure();
  EXPECT_EQ(tree_.read("ws/file.txt"), "new");
  struct stat st;
  ASSERT_EQ(::lstat(tree_.file("ws/inner.txt").c_str(), &st), 0);
  EXPECT_TRUE(S_ISLNK(st.st_mode));
  ASSERT_EQ(::stat(tree_.file("ws/file.txt").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0751u);
  ASSERT_TRUE(apply_proposal(workspace_, "a/b/c.txt", "", "made").ok());
  EXPECT_EQ(tree_.read("ws/a/b/c.txt"), "made");
  const std::string before = tree_.snapshot();
  Result<std::string> stale = apply_proposal(workspace_, "file.txt", "old", "again");
  EXPECT_EQ(stale.ok() ? "" : stale.failure(), kChanged);
  EXPECT_EQ(tree_.snapshot(), before) << "no temporary file is left either";
}

INSTANTIATE_TEST_SUITE_P(BothMethods, BeneathTest,
                         ::testing::Values(ResolveMethod::kKernel, ResolveMethod::kWalk));

// The cases are in tests/vectors/review/present.tsv.
TEST(ReviewPresent, TheFileStillHoldsWhatTheAgentRead) {
  const std::map<std::string, std::string_view> reasons = {
      {"-", ""}, {"changed", kChanged}, {"not-text", kNotText}};
  for (const test::VectorRecord& record : test::read_vectors("review/present.tsv")) {
    std::optional<PresentFile> present;
    if (record.columns.at(0) != "-") present = PresentFile{test::unescape(record.columns[0]), 0644};
    EXPECT_EQ(compare_present(present, test::unescape(record.columns.at(1))),
              reasons.at(record.columns.at(2)))
        << "present.tsv line " << record.line;
  }
}

// The texts and how they are shown are in tests/vectors/review/display.tsv.
TEST(ReviewDisplay, HiddenAndControlCharactersAreEscapedAndFlagged) {
  for (const test::VectorRecord& record : test::read_vectors("review/display.tsv")) {
    const std::string text = test::unescape(record.columns.at(0));
    const std::string as_name = test::unescape(record.columns.at(2));
    const bool hidden = record.columns.at(3) == "yes";
    SCOPED_TRACE("display.tsv line " + std::to_string(record.line));
    EXPECT_EQ(visible_text(text).text, test::unescape(record.columns.at(1)));
    EXPECT_EQ(visible_name(text).text, as_name);
    EXPECT_EQ(visible_text(text).hidden, hidden);
    EXPECT_EQ(holds_hidden_characters(text, false), hidden);
    EXPECT_EQ(holds_hidden_characters(text, true), as_name != text);
  }
}

TEST(ReviewLimits, JsonValuesAreCountedOutsideStrings) {
  const std::pair<std::string, std::size_t> cases[] = {
      {R"({"type":"hello","pid":1})", 5},
      {R"({"a":"[,{:}]\"[,"})", 3},
      {"[1,2,3]", 4},
      {"[" + std::string(1000, '['), kMaxValuesPerLine + 1},
  };
  for (const auto& [line, count] : cases) {
    EXPECT_EQ(count_json_values(line, kMaxValuesPerLine), count) << line;
  }
}

TEST(ReviewOptions, CommandLine) {
  const std::vector<std::string_view> args = {
      "--socket=/s", "--workspace", "/w",         "--auto", "accept",
      "--journal",   "/j",          "--max-line", "2M",     "--memory-budget=1G"};
  Result<ReviewOptions> options = parse_options(args);
  ASSERT_TRUE(options.ok()) << options.failure();
  EXPECT_EQ(options.value().socket_path, "/s");
  EXPECT_EQ(options.value().workspace, "/w");
  EXPECT_EQ(options.value().journal, "/j");
  EXPECT_EQ(options.value().auto_answer, AutoAnswer::kAccept);
  EXPECT_EQ(options.value().limits.max_line, 2u << 20);
  EXPECT_EQ(options.value().limits.memory_budget, 1u << 30);
  const std::vector<std::vector<std::string_view>> refused = {
      {"--auto", "maybe"},      {"--socket"},        {"--bogus"},
      {"--max-line", "12X"},    {"--max-line", "0"}, {"--no-journal", "--journal", "/j"},
      {"--memory-budget", "-1"}};
  for (const auto& bad : refused) EXPECT_FALSE(parse_options(bad).ok()) << bad[0];
  EXPECT_EQ(parse_answer(" Yes \n"), Answer::kAccept);
  EXPECT_EQ(parse_answer("r"), Answer::kReject);
  EXPECT_EQ(parse_answer("H"), Answer::kHistory);
  EXPECT_EQ(parse_answer("ok"), Answer::kUnclear);
}

TEST(ReviewOptions, WebAddresses) {
  struct Case {
    std::vector<std::string_view> args;
    std::string host;
    std::uint16_t port;
    bool open;
  };
  const std::vector<Case> cases = {
      {{"--web"}, "127.0.0.1", 0, false},
      {{"--web", "127.0.0.2:8080"}, "127.0.0.2", 8080, false},
      {{"--web", "8080", "--open"}, "127.0.0.1", 8080, true},
      {{"--web=[::1]:8080"}, "::1", 8080, false},
      {{"--web", "--open"}, "127.0.0.1", 0, true},
      // Parsed here; refused when the desk starts (no --web-allow-remote).
      {{"--web", "0.0.0.0:1"}, "0.0.0.0", 1, false},
  };
  for (const Case& c : cases) {
    Result<ReviewOptions> options = parse_options(c.args);
    ASSERT_TRUE(options.ok()) << c.args.back() << ": " << options.failure();
    ASSERT_TRUE(options.value().web.has_value()) << c.args.back();
    EXPECT_EQ(options.value().web->host, c.host) << c.args.back();
    EXPECT_EQ(options.value().web->port, c.port) << c.args.back();
    EXPECT_EQ(options.value().open_browser, c.open) << c.args.back();
    EXPECT_FALSE(options.value().web_allow_remote) << c.args.back();
  }
  const std::vector<std::vector<std::string_view>> refused = {
      {"--open"}, {"--web-allow-remote"}, {"--web=host:"}, {"--web=70000"}, {"--web", "1.2.3.4:x"}};
  for (const auto& bad : refused) EXPECT_FALSE(parse_options(bad).ok()) << bad.back();
}

// A front end that records what it is told.
class RecordingFrontEnd : public FrontEnd {
 public:
  void proposal_queued(const QueuedProposal& p) override { events.push_back("queued " + p.id); }
  void proposal_decided(const QueuedProposal& p) override {
    events.push_back("decided " + p.id + " by " + p.answered_by);
  }
  void proposal_withdrawn(const QueuedProposal& p) override {
    events.push_back("withdrawn " + p.id);
  }
  void notice(std::string_view) override {}
  std::vector<std::string> events;
};

TEST(ReviewCoreContract, TheFirstAnswerWinsAndEveryFrontEndIsTold) {
  TempDir ws;
  Workspace workspace = open_at(ws.path());
  Journal journal;
  ReviewCore core(journal);
  RecordingFrontEnd terminal, desk;
  core.subscribe(terminal);
  core.subscribe(desk);
  std::vector<std::string> sent;
  ServerInfo server{1, workspace.name, 42, std::nullopt, "t"};
  core.server_ready(server, workspace, [&](std::string_view line) { sent.emplace_back(line); });
  core.receive(1, {"p-1", {"a.txt", "", "A", "why"}});
  core.receive(1, {"p-2", {"/etc/passwd", "", "B", "why"}});
  core.receive(1, {"p-3", {"c.txt", "", "C", "why"}});
  ASSERT_EQ(core.waiting().size(), 2u) << "the refused one is not waiting";
  const std::uint64_t first = core.waiting()[0]->number;
  EXPECT_TRUE(core.answer(first, true, "desk"));
  EXPECT_FALSE(core.answer(first, false, "terminal"));
  core.server_gone(1);
  EXPECT_TRUE(core.waiting().empty());
  EXPECT_EQ(ws.read("a.txt"), "A");
  const std::vector<std::string> expected = {"queued p-1", "queued p-2", "queued p-3",
                                             "decided p-1 by desk", "withdrawn p-3"};
  EXPECT_EQ(terminal.events, expected);
  EXPECT_EQ(desk.events, expected);
  const std::vector<std::string> decisions = {R"({"type":"decision","id":"p-2","accepted":false})",
                                              R"({"type":"decision","id":"p-1","accepted":true})"};
  EXPECT_EQ(sent, decisions);
  ASSERT_EQ(core.history().size(), 3u);
  EXPECT_EQ(core.history().back().state, ProposalState::kWithdrawn);
}

}  // namespace
}  // namespace varnock::review
