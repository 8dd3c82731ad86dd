#include "diff_model.h"

#include <algorithm>
#include <vector>

#include "json/write.h"
#include "line_diff.h"
#include "text_lines.h"
#include "utf8_text.h"
#include "word_diff.h"

namespace varnock::desk {
namespace {

// A fold shorter than this would cost more to open than to read.
constexpr std::size_t kMinFold = 4;

void write_text(std::string_view text, std::string& out) {
  json::write_string(valid_utf8(text), out);
}

void write_spans(const std::vector<Span>& spans, std::string& out) {
  out += '[';
  for (const Span& span : spans) {
    if (out.back() != '[') out += ',';
    out += std::to_string(span.begin) + ',' + std::to_string(span.end);
  }
  out += ']';
}

// Writes the blocks of the model in order; keeps one hunk open at a time.
class ModelWriter {
 public:
  ModelWriter(const TextLines& before, const TextLines& after) : old_(before), new_(after) {}

  // `count` unchanged lines from the current position; `after_change` and
  // `before_change` say whether a change precedes and follows them.
  void unchanged(std::size_t count, bool after_change, bool before_change) {
    const std::size_t head = after_change ? kContextLines : 0;
    const std::size_t tail = before_change ? kContextLines : 0;
    if (count < head + tail + kMinFold) return same_rows(count);
    same_rows(head);
    fold(count - head - tail);
    same_rows(tail);
  }

  void changed(const ChangedRun& run) {
    const std::size_t pairs = std::min(run.old_count, run.new_count);
    for (std::size_t i = 0; i < pairs; ++i) pair_row();
    for (std::size_t i = pairs; i < run.old_count; ++i) side_row('-', old_, old_line_);
    for (std::size_t i = pairs; i < run.new_count; ++i) side_row('+', new_, new_line_);
  }

  std::string finish() {
    close_hunk();
    out_ += ']';
    return std::move(out_);
  }

  std::size_t old_line() const { return old_line_; }

 private:
  void fold(std::size_t count) {
    close_hunk();
    next_block();
    out_ += "{\"fold\":{\"old\":" + std::to_string(old_line_) +
            ",\"new\":" + std::to_string(new_line_) + ",\"count\":" + std::to_string(count) + "}}";
    old_line_ += count;
    new_line_ += count;
  }

  void same_rows(std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) {
      open_row();
      out_ += "[\"=\",";
      write_text(new_.line(new_line_), out_);
      out_ += ']';
      ++old_line_;
      ++new_line_;
    }
  }

  void pair_row() {
    open_row();
    const std::string before = valid_utf8(old_.line(old_line_++));
    const std::string after = valid_utf8(new_.line(new_line_++));
    const WordChanges words = changed_words(before, after, word_pairs_left_);
    out_ += "[\"~\",";
    json::write_string(before, out_);
    out_ += ',';
    json::write_string(after, out_);
    out_ += ',';
    write_spans(words.old_spans, out_);
    out_ += ',';
    write_spans(words.new_spans, out_);
    out_ += ']';
  }

  void side_row(char kind, const TextLines& lines, std::size_t& number) {
    open_row();  // before the line number moves: the hunk starts here
    out_ += "[\"";
    out_ += kind;
    out_ += "\",";
    write_text(lines.line(number++), out_);
    out_ += ']';
  }

  void open_row() {
    if (in_hunk_) {
      out_ += ',';
      return;
    }
    next_block();
    out_ += "{\"hunk\":{\"old\":" + std::to_string(old_line_) +
            ",\"new\":" + std::to_string(new_line_) + ",\"rows\":[";
    in_hunk_ = true;
  }

  void close_hunk() {
    if (in_hunk_) out_ += "]}}";
    in_hunk_ = false;
  }

  void next_block() {
    if (out_.back() != '[') out_ += ',';
  }

  const TextLines& old_;
  const TextLines& new_;
  std::size_t old_line_ = 1;
  std::size_t new_line_ = 1;
  bool in_hunk_ = false;
  std::size_t word_pairs_left_ = kWordPairBudget;
  std::string out_ = "[";
};

std::string model_head(const TextLines& before, const TextLines& after) {
  const auto flag = [](bool value) { return value ? "true" : "false"; };
  return "{\"old_lines\":" + std::to_string(before.count()) +
         ",\"new_lines\":" + std::to_string(after.count()) +
         ",\"old_ends_with_newline\":" + flag(before.ends_with_newline()) +
         ",\"new_ends_with_newline\":" + flag(after.ends_with_newline()) + ",\"blocks\":";
}

}  // namespace

Result<std::string> diff_model_json(std::string_view before, std::string_view after,
                                    std::span<const ChangedRun> runs) {
  const TextLines old_lines(before);
  const TextLines new_lines(after);
  ModelWriter writer(old_lines, new_lines);
  bool after_change = false;
  for (const ChangedRun& run : runs) {
    writer.unchanged(run.old_first - writer.old_line(), after_change, true);
    writer.changed(run);
    after_change = true;
  }
  writer.unchanged(old_lines.count() + 1 - writer.old_line(), after_change, false);
  return model_head(old_lines, new_lines) + writer.finish() + "}";
}

std::string lines_json(std::string_view text, std::size_t first, std::size_t count) {
  const TextLines lines(text);
  std::string out = "[";
  const std::size_t end = std::min(lines.count() + 1, first + std::min(count, lines.count()));
  for (std::size_t number = std::max<std::size_t>(first, 1); number < end; ++number) {
    if (out.size() > 1) out += ',';
    write_text(lines.line(number), out);
  }
  return out + "]";
}

}  // namespace varnock::desk
