#include "line_diff.h"

#include <algorithm>
#include <charconv>

#include "base/line_reader.h"

namespace varnock::desk {
namespace {

// Each group of changed lines prints its two ranges, first and last line
// of each side, and nothing else: the texts are already ours.
constexpr const char* kGroupFormat = "%df %dl %dF %dL\n";

bool take_number(std::string_view& text, std::size_t& number) {
  while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), number);
  if (error != std::errc()) return false;
  text.remove_prefix(static_cast<std::size_t>(end - text.data()));
  return true;
}

// "f l F L" to a run; a side's count is l - f + 1 (0 when l = f - 1).
Result<ChangedRun> parse_run(std::string_view line) {
  std::size_t numbers[4];
  for (std::size_t& number : numbers) {
    if (!take_number(line, number)) return fail("diff printed an unexpected line");
  }
  if (numbers[1] + 1 < numbers[0] || numbers[3] + 1 < numbers[2]) {
    return fail("diff printed an unexpected range");
  }
  return ChangedRun{numbers[0], numbers[1] + 1 - numbers[0], numbers[2],
                    numbers[3] + 1 - numbers[2]};
}

}  // namespace

Result<std::vector<ChangedRun>> parse_changed_runs(std::string_view out) {
  std::vector<ChangedRun> runs;
  while (!out.empty()) {
    std::string_view line = cut_line(out);
    if (!line.ends_with('\n')) return fail("diff output ended mid-line");
    line.remove_suffix(1);
    Result<ChangedRun> run = parse_run(line);
    if (!run.ok()) return fail(std::move(run).failure());
    runs.push_back(run.value());
  }
  return runs;
}

std::vector<std::string> changed_runs_command() {
  return {"diff",
          "-a",
          "--horizon-lines=3",
          "--unchanged-group-format=",
          std::string("--old-group-format=") + kGroupFormat,
          std::string("--new-group-format=") + kGroupFormat,
          std::string("--changed-group-format=") + kGroupFormat,
          "/dev/fd/3",
          "/dev/fd/4"};
}

std::vector<ChangedRun> whole_replacement(std::string_view before, std::string_view after) {
  if (before == after) return {};
  return {ChangedRun{1, count_lines(before), 1, count_lines(after)}};
}

std::size_t count_lines(std::string_view text) {
  const auto newlines = static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n'));
  return newlines + (text.empty() || text.back() == '\n' ? 0 : 1);
}

}  // namespace varnock::desk
