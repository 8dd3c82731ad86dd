#include "core/changed_lines.h"

#include <boost/asio/post.hpp>

namespace varnock::review {
namespace {

constexpr int kNotFound = 127;

std::string whole_because(std::string_view why) {
  return "the change is shown as a whole replacement: " + std::string(why);
}

// diff's answer as runs, or the whole replacement and why.
ChangedLines read_answer(Result<ChildOutput> ran) {
  ChangedLines lines;
  if (ran.ok() && ran.value().status == kNotFound) {
    lines.notice = whole_because("cannot run diff (is diffutils installed?)");
  } else if (ran.ok() && ran.value().status > 1) {
    lines.notice = whole_because("diff failed with status " + std::to_string(ran.value().status));
  } else if (ran.ok()) {
    Result<std::vector<desk::ChangedRun>> runs = desk::parse_changed_runs(ran.value().out);
    if (runs.ok()) {
      lines.runs = std::move(runs).value();
      return lines;
    }
    lines.notice = whole_because(runs.failure());
  } else if (ran.kind() == FailureKind::kTimedOut) {
    lines.notice = std::string(kDiffTookTooLong);
  } else if (ran.kind() == FailureKind::kTooLarge) {
    lines.notice = std::string(kDiffTooScattered);
  } else {
    lines.notice = whole_because(ran.failure());
  }
  lines.whole = true;
  return lines;
}

}  // namespace

ChildRunner::Id compare_lines(ChildRunner& runner, std::string_view before, std::string_view after,
                              const DiffBounds& bounds, std::function<void(ChangedLines)> done) {
  if (before.empty() || after.empty()) {
    boost::asio::post(runner.io(), [done = std::move(done)] { done(ChangedLines{{}, "", true}); });
    return 0;
  }
  ChildJob job;
  job.args = desk::changed_runs_command();
  job.inputs = {before, after};
  job.output_limit = bounds.output_limit;
  job.time_limit = bounds.time_limit;
  return runner.run(std::move(job), [done = std::move(done)](Result<ChildOutput> ran) {
    done(read_answer(std::move(ran)));
  });
}

void count_whole(ChangedLines& lines, std::string_view before, std::string_view after) {
  if (!lines.whole) return;
  lines.runs = desk::whole_replacement(before, after);
  lines.whole = false;
}

}  // namespace varnock::review
