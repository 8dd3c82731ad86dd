// varnock-review's pure decisions in process: where a path leads beneath a
// workspace (both ways of resolving), whether the present file still holds
// what the agent read, the apply, what the display escapes, the line
// bounds, the command line, and the core's first-answer-wins contract.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <string>
#include <vector>

#include "apply.h"
#include "beneath.h"
#include "line_limits.h"
#include "options.h"
#include "review_core.h"
#include "support/temp_dir.h"
#include "target.h"
#include "terminal.h"
#include "visible_text.h"

namespace varnock::review {
namespace {

using test::TempDir;

std::string real(const std::string& path) {
  char* resolved = ::realpath(path.c_str(), nullptr);
  std::string out = resolved ? resolved : path;
  std::free(resolved);
  return out;
}

Workspace open_at(const std::string& path) {
  return Workspace{UniqueFd(::open(path.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC)), real(path)};
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
    const std::string ws = tree_.file("ws");
    ASSERT_EQ(::symlink("file.txt", (ws + "/inner.txt").c_str()), 0);
    ASSERT_EQ(::symlink("sub", (ws + "/subl").c_str()), 0);
    ASSERT_EQ(::symlink(tree_.file("outside").c_str(), (ws + "/out").c_str()), 0);
    ASSERT_EQ(::symlink("../outside/secret.txt", (ws + "/leak.txt").c_str()), 0);
    ASSERT_EQ(::symlink("../ws/sub", (ws + "/up").c_str()), 0);
    ASSERT_EQ(::symlink("nowhere", (ws + "/dangling.txt").c_str()), 0);
    ASSERT_EQ(::mkfifo((ws + "/fifo").c_str(), 0600), 0);
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

TEST_P(BeneathTest, PathsResolveInsideOrAreRefusedWithTheirReason) {
  const std::string outside = "refused: " + std::string(kOutside);
  const std::string not_regular = "refused: " + std::string(kNotRegular);
  const std::string not_a_name = "refused: " + std::string(kNotAFileName);
  std::string deep;
  for (std::size_t i = 0; i < kMaxPathDepth; ++i) deep += "d/";
  const std::pair<std::string, std::string> cases[] = {
      {"file.txt", "file.txt"},
      {"./sub//kept.txt", "sub/kept.txt"},
      {"new/dir/made.txt", "new/dir/made.txt"},
      {"inner.txt", "file.txt"},
      {"subl/kept.txt", "sub/kept.txt"},
      {"dangling.txt", "nowhere"},
      {workspace_.name + "/sub/kept.txt", "sub/kept.txt"},
      {"out/secret.txt", outside},
      {"out/new.txt", outside},
      {"leak.txt", outside},
      {"up/kept.txt", outside},
      {"sub/../file.txt", outside},
      {"/etc/passwd", outside},
      {workspace_.name + "x/a.txt", outside},
      {"sub", not_regular},
      {"fifo", not_regular},
      {"file.txt/x", not_regular},
      {"", not_a_name},
      {"sub/", not_a_name},
      {".", not_a_name},
      {deep + "f", "refused: " + std::string(kTooLong)},
      {std::string(kMaxPathBytes + 1, 'a'), "refused: " + std::string(kTooLong)},
  };
  for (const auto& [path, expected] : cases) EXPECT_EQ(resolve(path), expected) << path;
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

TEST(ReviewPresent, TheFileStillHoldsWhatTheAgentRead) {
  struct Case {
    std::optional<std::string> present;
    std::string before;
    std::string_view reason;
  };
  const Case cases[] = {
      {std::nullopt, "", ""},
      {"same", "same", ""},
      {"", "", ""},
      {std::nullopt, "was here", kChanged},
      {"edited", "original", kChanged},
      {"appeared", "", kChanged},
      {std::string("\xff\xfe", 2), "", kNotText},
      {std::string("\xff\xfe", 2), "something", kChanged},
  };
  for (const Case& c : cases) {
    std::optional<PresentFile> present;
    if (c.present) present = PresentFile{*c.present, 0644};
    EXPECT_EQ(compare_present(present, c.before), c.reason) << c.present.value_or("<none>");
  }
}

TEST(ReviewDisplay, HiddenAndControlCharactersAreEscapedAndFlagged) {
  struct Case {
    std::string text;
    std::string as_text;
    std::string as_name;
    bool hidden;
  };
  const Case cases[] = {
      {"plain é ✓ 😀", "plain é ✓ 😀", "plain é ✓ 😀", false},
      {"a\nb\tc", "a\nb\tc", "a\\nb\\tc", false},
      {"\x1b[31mred\r", "\\x1b[31mred\\r", "\\x1b[31mred\\r", true},
      {"\xc2\x85", "\\u0085", "\\u0085", true},
      {"\xe2\x80\x8b\xe2\x80\x8f\xe2\x81\xa0\xef\xbb\xbf", "\\u200b\\u200f\\u2060\\ufeff",
       "\\u200b\\u200f\\u2060\\ufeff", true},
      {"\xc2\xad\xd8\x9c\xe3\x85\xa4", "\\u00ad\\u061c\\u3164", "\\u00ad\\u061c\\u3164", true},
      {"\xe2\x80\xa8\xe2\x80\xa9\xe2\x80\xae\xe2\x81\xa6", "\\u2028\\u2029\\u202e\\u2066",
       "\\u2028\\u2029\\u202e\\u2066", true},
      {"\xf3\xa0\x81\x81\xf3\xa0\x84\x80", "\\U000e0041\\U000e0100", "\\U000e0041\\U000e0100",
       true},
      {"\xef\xb8\x8f", "\\ufe0f", "\\ufe0f", true},
      {"bad \xff\xc3", "bad \\xff\\xc3", "bad \\xff\\xc3", true},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(visible_text(c.text).text, c.as_text);
    EXPECT_EQ(visible_name(c.text).text, c.as_name);
    EXPECT_EQ(visible_text(c.text).hidden, c.hidden) << c.as_name;
    EXPECT_EQ(holds_hidden_characters(c.text, false), c.hidden) << c.as_name;
    EXPECT_EQ(holds_hidden_characters(c.text, true), c.as_name != c.text) << c.as_name;
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
