// The reviewer's children and the diff it shows, in process: the child
// runner's bounds, the one comparison of a proposal's lines and its whole
// replacement past a bound, the unified diff written from the runs, which
// must read as GNU `diff -u` printed it, and how much the terminal shows.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <boost/asio/io_context.hpp>
#include <random>
#include <string>
#include <vector>

#include "changed_runs_now.h"
#include "system/child_runner.h"
#include "terminal/present.h"
#include "terminal/unified_diff.h"

namespace varnock::review {
namespace {

using namespace std::chrono_literals;

// What one job ended with: "status N: <output>", or "failed <kind>: <text>".
std::string run_job(ChildJob job) {
  boost::asio::io_context io;
  ChildRunner runner(io);
  std::string ended = "not ended";
  runner.run(std::move(job), [&](Result<ChildOutput> ran) {
    ended = ran.ok()
                ? "status " + std::to_string(ran.value().status) + ": " + ran.value().out
                : "failed " + std::to_string(static_cast<int>(ran.kind())) + ": " + ran.failure();
  });
  io.run();
  EXPECT_EQ(runner.running(), 0u);
  return ended;
}

TEST(ChildRunner, FeedsInputsKeepsOutputAndEnforcesItsBounds) {
  const std::string big(1 << 20, 'b');  // more than a pipe holds
  struct Case {
    std::vector<std::string> args;
    std::vector<std::string_view> inputs;
    std::size_t output_limit;
    std::optional<std::chrono::milliseconds> time_limit;
    std::string ended;  // its start, for a failure
  } cases[] = {
      {{"cat", "/dev/fd/4", "/dev/fd/3"},
       {"three\n", "four\n"},
       100,
       {},
       "status 0: four\nthree\n"},
      {{"sh", "-c", "wc -c </dev/fd/3; exit 3"}, {big}, 100, {}, "status 3: 1048576\n"},
      {{"no-such-program-here"}, {}, 100, {}, "status 127: "},
      {{"yes"}, {}, 1000, {}, "failed 1: yes printed more than 1000 bytes"},
      {{"sleep", "60"}, {}, 100, 50ms, "failed 2: sleep took longer than 50 ms"},
      {{"sh", "-c", "kill -9 $$"}, {}, 100, {}, "failed 0: sh ended by signal 9"},
  };
  for (const Case& c : cases) {
    ChildJob job{c.args, c.inputs, true, c.output_limit, c.time_limit, false};
    EXPECT_EQ(run_job(job), c.ended) << c.args.front();
  }
}

// A few run at once and the rest wait their turn; a waiting job that is
// cancelled never starts, and its handler is never called.
TEST(ChildRunner, RunsAFewAtATime) {
  boost::asio::io_context io;
  ChildRunner runner(io);
  std::vector<std::string> said;
  ChildRunner::Id last = 0;
  for (std::size_t i = 0; i < kMaxRunningChildren + 2; ++i) {
    const ChildJob job{{"echo", std::to_string(i)}, {}, true, 100, {}, false};
    last = runner.run(job, [&said](Result<ChildOutput> ran) { said.push_back(ran.value().out); });
  }
  EXPECT_EQ(runner.running(), kMaxRunningChildren);
  EXPECT_EQ(runner.waiting(), 2u);
  runner.cancel(last);
  io.run();
  std::sort(said.begin(), said.end());
  std::vector<std::string> expected;
  for (std::size_t i = 0; i <= kMaxRunningChildren; ++i)
    expected.push_back(std::to_string(i) + "\n");
  EXPECT_EQ(said, expected);
  EXPECT_EQ(runner.running() + runner.waiting(), 0u);
}

// `diff -u -a` itself, for comparison.
std::string gnu_unified(std::string_view before, std::string_view after) {
  ChildJob job{{"diff", "-u", "-a", "--label", "a/f", "--label", "b/f", "/dev/fd/3", "/dev/fd/4"},
               {before, after},
               true,
               std::size_t{1} << 30,
               {},
               false};
  const std::string ended = run_job(job);
  return ended.substr(ended.find(": ") + 2);
}

std::string ours(std::string_view before, std::string_view after) {
  return unified_diff(before, after, test::changed_lines_now(before, after).runs, {"a/f", "b/f"},
                      std::size_t{1} << 30);
}

// Texts of a few short lines drawn from a small set, so that changes come
// close together and far apart, at either end, with and without a last
// newline.
std::string random_text(std::mt19937& random) {
  static const char* const kLines[] = {"a", "b", "c", "", "d e"};
  std::string text;
  for (int lines = static_cast<int>(random() % 30); lines > 0; --lines) {
    text += kLines[random() % 5];
    text += '\n';
  }
  if (!text.empty() && random() % 3 == 0) text.pop_back();
  return text;
}

TEST(UnifiedDiff, ReadsAsGnuDiffPrintedIt) {
  const std::pair<std::string, std::string> edges[] = {
      {"", "new\n"}, {"old\n", ""}, {"same\n", "same\n"}, {"x", "x\n"}, {"a\nb", "a\nc"}};
  for (const auto& [before, after] : edges)
    EXPECT_EQ(ours(before, after), gnu_unified(before, after));
  std::mt19937 random(20240601);
  for (int i = 0; i < 200; ++i) {
    const std::string before = random_text(random), after = random_text(random);
    ASSERT_EQ(ours(before, after), gnu_unified(before, after)) << before << "\n=>\n" << after;
  }
}

TEST(UnifiedDiff, StopsPastItsBoundAndSaysSo) {
  std::string before, after;
  for (int i = 0; i < 1000; ++i) before += "old line\n", after += "new line\n";
  const auto runs = test::changed_lines_now(before, after).runs;
  const std::string cut = unified_diff(before, after, runs, {"a/f", "b/f"}, 100);
  EXPECT_LT(cut.size(), 200u);
  EXPECT_TRUE(cut.ends_with(std::string(kDiffCut) + "\n")) << cut;
  EXPECT_EQ(unified_diff(before, after, runs, {"a/f", "b/f"}, 1 << 20).find(kDiffCut),
            std::string::npos);
  // One long line is shown up to the bound, cut before a character.
  const std::string line = std::string(68, 'x') + "\u00e9" + std::string(1000, 'y');
  EXPECT_EQ(unified_diff("", line, test::changed_lines_now("", line).runs, {"a/f", "b/f"}, 100),
            "--- a/f\n+++ b/f\n@@ -0,0 +1 @@\n+" + std::string(68, 'x') + "\n" +
                std::string(kDiffCut) + "\n");
}

TEST(ReviewDisplay, ALongExplanationIsShownInPart) {
  QueuedProposal proposal;
  proposal.explanation = std::string(kMaxShownExplanation, 'e') + "\u00e9" + std::string(9, 'f');
  proposal.runs.emplace();
  const std::string shown = render_proposal(proposal, 0, false);
  EXPECT_LT(shown.size(), kMaxShownExplanation + 4096);
  EXPECT_NE(shown.find("e\n  [11 more bytes of the explanation are not shown here]\n"),
            std::string::npos);
  EXPECT_EQ(shown.find('\x1b'), std::string::npos) << "no colour unless asked for";
  EXPECT_NE(render_proposal(proposal, 0, true).find("\x1b[1mProposed edit"), std::string::npos);
}

// Past a bound, or without diff, the change is shown whole, saying why.
TEST(ChangedLines, PastABoundTheChangeIsAWholeReplacement) {
  const std::string before = "a\nb\nc\n", after = "a\nB\nc\nd";
  const std::vector<desk::ChangedRun> whole = {{1, 3, 1, 4}};
  EXPECT_EQ(test::changed_lines_now(before, after).runs,
            (std::vector<desk::ChangedRun>{{2, 1, 2, 1}, {4, 0, 4, 1}}));
  const ChangedLines late = test::changed_lines_now(before, after, {0ms, 1 << 20});
  EXPECT_EQ(late.runs, whole);
  EXPECT_EQ(late.notice, kDiffTookTooLong);
  const ChangedLines scattered = test::changed_lines_now(before, after, {5s, 4});
  EXPECT_EQ(scattered.runs, whole);
  EXPECT_EQ(scattered.notice, kDiffTooScattered);
  const std::string path = ::getenv("PATH");
  ::setenv("PATH", "/nonexistent", 1);
  const ChangedLines without = test::changed_lines_now(before, after);
  ::setenv("PATH", path.c_str(), 1);
  EXPECT_EQ(without.runs, whole);
  EXPECT_EQ(
      without.notice,
      "the change is shown as a whole replacement: cannot run diff (is diffutils installed?)");
}

}  // namespace
}  // namespace varnock::review
