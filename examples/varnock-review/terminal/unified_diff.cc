#include "terminal/unified_diff.h"

#include <algorithm>
#include <vector>

#include "base/line_reader.h"
#include "json/text.h"

namespace varnock::review {
namespace {

constexpr std::size_t kContext = 3;
// Changes closer than this share a hunk.
constexpr std::size_t kHunkGap = 2 * kContext + 1;

// One run with lines counted from 0: `deleted` lines at `line0` of the old
// text became `inserted` lines at `line1` of the new one.
struct Change {
  std::size_t line0, deleted, line1, inserted;
  std::size_t end0() const { return line0 + deleted; }
  std::size_t end1() const { return line1 + inserted; }
};

Change change_of(const desk::ChangedRun& run) {
  return Change{run.old_first - 1, run.old_count, run.new_first - 1, run.new_count};
}

// A text's lines read forward, each with its newline when it has one.
class LineCursor {
 public:
  explicit LineCursor(std::string_view text) : rest_(text) {}

  // The next line. Of a line longer than `at_most` bytes only the first
  // at_most + 1 are looked at and given, and the lines after it are lost:
  // for a reader that stops at such a line.
  std::string_view take(std::size_t at_most = std::string_view::npos) {
    const std::string_view window = rest_.substr(0, at_most == rest_.npos ? at_most : at_most + 1);
    const std::size_t end = window.find('\n');
    const std::string_view line = window.substr(0, end == window.npos ? window.size() : end + 1);
    rest_.remove_prefix(line.size());
    ++next_;
    return line;
  }
  void skip_to(std::size_t line) {
    while (next_ < line) take();
  }

 private:
  std::string_view rest_;
  std::size_t next_ = 0;
};

// Lines [first, end) as a hunk header shows them: "l" for one line, "l,0"
// (the line before) for none.
std::string range(std::size_t first, std::size_t end) {
  if (end == first + 1) return std::to_string(first + 1);
  if (end == first) return std::to_string(first) + ",0";
  return std::to_string(first + 1) + "," + std::to_string(end - first);
}

// Writes hunks into one text until it passes its bound.
class HunkWriter {
 public:
  HunkWriter(std::string_view before, std::string_view after, std::string& out,
             std::size_t max_bytes)
      : old_lines_(desk::count_lines(before)),
        old_(before),
        new_(after),
        out_(out),
        max_bytes_(max_bytes) {}

  // Writes the hunk of `changes` (in order, each close to the next) with
  // its context; false when it stopped at the bound before the hunk's end.
  bool write(std::span<const Change> changes) {
    const Change& first = changes.front();
    const Change& last = changes.back();
    const std::size_t first0 = first.line0 - std::min(first.line0, kContext);
    const std::size_t first1 = first.line1 - (first.line0 - first0);
    const std::size_t end0 = std::min(last.end0() + kContext, old_lines_);
    const std::size_t end1 = last.end1() + (end0 - last.end0());
    out_ += "@@ -" + range(first0, end0) + " +" + range(first1, end1) + " @@\n";
    old_.skip_to(first0);
    new_.skip_to(first1);
    std::size_t line0 = first0;
    for (const Change& change : changes) {
      if (!context(change.line0 - line0) || !lines('-', change.deleted, old_) ||
          !lines('+', change.inserted, new_)) {
        return false;
      }
      line0 = change.end0();
    }
    return context(end0 - line0);
  }

  bool full() const { return cut_ || out_.size() > max_bytes_; }
  // Whether a line was cut at the bound.
  bool cut() const { return cut_; }

 private:
  bool lines(char mark, std::size_t count, LineCursor& text) {
    std::size_t i = 0;
    for (; i < count && !full(); ++i) put(mark, text.take(room()));
    return i == count;
  }
  // Unchanged lines, shown from the old text.
  bool context(std::size_t count) {
    std::size_t i = 0;
    for (; i < count && !full(); ++i) {
      put(' ', old_.take(room()));
      new_.take(room());
    }
    return i == count;
  }
  // Bytes left before the bound.
  std::size_t room() const { return max_bytes_ - std::min(max_bytes_, out_.size()); }
  // A line that would pass the bound is shown up to it, cut at the start
  // of a character, so that one long line cannot make the text long.
  void put(char mark, std::string_view line) {
    out_ += mark;
    if (out_.size() + line.size() > max_bytes_) {
      out_ += json::utf8_head(line, room());
      out_ += '\n';
      cut_ = true;
      return;
    }
    out_ += line;
    if (!line.ends_with('\n')) out_ += "\n\\ No newline at end of file\n";
  }

  std::size_t old_lines_;
  LineCursor old_, new_;
  std::string& out_;
  std::size_t max_bytes_;
  bool cut_ = false;
};

}  // namespace

std::string unified_diff(std::string_view before, std::string_view after,
                         std::span<const desk::ChangedRun> runs, const DiffLabels& labels,
                         std::size_t max_bytes) {
  if (runs.empty()) return {};
  std::vector<Change> changes;
  for (const desk::ChangedRun& run : runs) changes.push_back(change_of(run));
  std::string out = "--- " + labels.before + "\n+++ " + labels.after + "\n";
  HunkWriter writer(before, after, out, max_bytes);
  for (std::size_t start = 0; start < changes.size();) {
    std::size_t end = start + 1;
    while (end < changes.size() && changes[end].line0 - changes[end - 1].end0() < kHunkGap) ++end;
    const bool whole = writer.write(std::span<const Change>(changes.data() + start, end - start));
    if (!whole || writer.cut() || (writer.full() && end < changes.size()))
      return out + std::string(kDiffCut) + "\n";
    start = end;
  }
  return out;
}

}  // namespace varnock::review
