#include "diff_model.h"

#include <algorithm>

#include "json/text.h"
#include "json/write.h"
#include "utf8_text.h"
#include "word_diff.h"

namespace varnock::desk {
namespace {

// A fold shorter than this would cost more to open than to read.
constexpr std::size_t kMinFold = 4;

// `line` as valid UTF-8, cut before the character that would pass
// kMaxLineBytes. Cutting the raw bytes first keeps a huge line cheap.
std::string shown_text(std::string_view line) {
  return valid_utf8(json::utf8_head(line, kMaxLineBytes));
}

void write_spans(const std::vector<Span>& spans, std::string& out) {
  out += '[';
  for (const Span& span : spans) {
    if (out.back() != '[') out += ',';
    out += std::to_string(span.begin) + ',' + std::to_string(span.end);
  }
  out += ']';
}

// Writes the items of the model in order, those of the page alone as JSON
// blocks; keeps one hunk open at a time.
class ModelWriter {
 public:
  ModelWriter(const TextLines& before, const TextLines& after, std::size_t from,
              PageBounds bounds)
      : old_(before), new_(after), from_(from), bounds_(bounds) {}

  // `count` unchanged lines from the current position; `after_change` and
  // `before_change` say whether a change precedes and follows them.
  void unchanged(std::size_t count, bool after_change, bool before_change) {
    const std::size_t head = after_change ? kContextLines : 0;
    const std::size_t tail = before_change ? kContextLines : 0;
    if (count < head + tail + kMinFold) return same_rows(count);
    same_rows(head);
    items(1, count - head - tail, count - head - tail, false, [&] { fold(count - head - tail); });
    same_rows(tail);
  }

  void changed(const ChangedRun& run) {
    const std::size_t pairs = std::min(run.old_count, run.new_count);
    items(pairs, 1, 1, true, [&] { pair_row(); });
    items(run.old_count - pairs, 1, 0, true, [&] { side_row('-', old_, old_line_); });
    items(run.new_count - pairs, 0, 1, true, [&] { side_row('+', new_, new_line_); });
  }

  // "total":T,"next":K,"blocks":[...]
  std::string finish() {
    close_hunk();
    const std::size_t next = from_ + written_;
    return "\"total\":" + std::to_string(item_) +
           ",\"next\":" + (next < item_ ? std::to_string(next) : "null") + ",\"blocks\":" + out_ +
           ']';
  }

  std::size_t old_line() const { return old_line_; }

 private:
  // `count` items of one kind (`rows` or folds), each moving the old line
  // by `old_step` and the new by `new_step`. Those on the page are written
  // by `write`, which moves the lines itself; the others are only counted.
  template <class Write>
  void items(std::size_t count, std::size_t old_step, std::size_t new_step, bool rows,
             Write write) {
    std::size_t done = item_ < from_ ? std::min(count, from_ - item_) : 0;
    skip(done, old_step, new_step, rows);
    for (; done < count && room(); ++done) {
      write();
      ++item_;
      ++written_;
      after_row_ = rows;
    }
    skip(count - done, old_step, new_step, rows);
  }

  void skip(std::size_t count, std::size_t old_step, std::size_t new_step, bool rows) {
    if (count == 0) return;
    item_ += count;
    old_line_ += count * old_step;
    new_line_ += count * new_step;
    after_row_ = rows;
  }

  bool room() const { return written_ < bounds_.items && out_.size() < bounds_.bytes; }

  void fold(std::size_t count) {
    close_hunk();
    next_block();
    out_ += "{\"fold\":{\"old\":" + std::to_string(old_line_) +
            ",\"new\":" + std::to_string(new_line_) + ",\"count\":" + std::to_string(count) + "}}";
    old_line_ += count;
    new_line_ += count;
  }

  void same_rows(std::size_t count) {
    items(count, 1, 1, true, [&] {
      open_row();
      const std::string_view line = new_.line(new_line_);
      out_ += "[\"=\",";
      json::write_string(shown_text(line), out_);
      write_lengths({line});
      ++old_line_;
      ++new_line_;
    });
  }

  void pair_row() {
    open_row();
    const std::string_view old_line = old_.line(old_line_++);
    const std::string_view new_line = new_.line(new_line_++);
    const std::string before = shown_text(old_line);
    const std::string after = shown_text(new_line);
    const WordChanges words = changed_words(before, after, word_pairs_left_);
    out_ += "[\"~\",";
    json::write_string(before, out_);
    out_ += ',';
    json::write_string(after, out_);
    out_ += ',';
    write_spans(words.old_spans, out_);
    out_ += ',';
    write_spans(words.new_spans, out_);
    write_lengths({old_line, new_line});
  }

  void side_row(char kind, const TextLines& lines, std::size_t& number) {
    open_row();  // before the line number moves: the hunk starts here
    const std::string_view line = lines.line(number++);
    out_ += "[\"";
    out_ += kind;
    out_ += "\",";
    json::write_string(shown_text(line), out_);
    write_lengths({line});
  }

  // Ends a row: when one of its lines was cut, with the byte length of each
  // line that was (null for one that was not).
  void write_lengths(std::initializer_list<std::string_view> lines) {
    const auto cut = [](std::string_view line) { return line.size() > kMaxLineBytes; };
    if (std::any_of(lines.begin(), lines.end(), cut)) {
      for (std::string_view line : lines) {
        out_ += ',' + (cut(line) ? std::to_string(line.size()) : std::string("null"));
      }
    }
    out_ += ']';
  }

  void open_row() {
    if (in_hunk_) {
      out_ += ',';
      return;
    }
    next_block();
    out_ += "{\"hunk\":{\"old\":" + std::to_string(old_line_) +
            ",\"new\":" + std::to_string(new_line_) +
            (after_row_ ? ",\"continues\":true" : "") + ",\"rows\":[";
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
  const std::size_t from_;
  const PageBounds bounds_;
  std::size_t old_line_ = 1;
  std::size_t new_line_ = 1;
  std::size_t item_ = 0;       // items passed, on the page or not
  std::size_t written_ = 0;    // items on the page
  bool after_row_ = false;     // whether the last item passed was a row
  bool in_hunk_ = false;
  std::size_t word_pairs_left_ = kWordPairBudget;
  std::string out_ = "[";
};

std::string model_head(const TextLines& before, const TextLines& after) {
  const auto flag = [](bool value) { return value ? "true" : "false"; };
  return "{\"old_lines\":" + std::to_string(before.count()) +
         ",\"new_lines\":" + std::to_string(after.count()) +
         ",\"old_ends_with_newline\":" + flag(before.ends_with_newline()) +
         ",\"new_ends_with_newline\":" + flag(after.ends_with_newline()) + ',';
}

}  // namespace

std::string diff_model_page(std::string_view before, std::string_view after,
                            std::span<const ChangedRun> runs, std::size_t from,
                            PageBounds bounds) {
  const LineIndex old_index(before);
  const LineIndex new_index(after);
  return diff_model_page(TextLines(before, old_index), TextLines(after, new_index), runs, from,
                         bounds);
}

std::string diff_model_page(const TextLines& old_lines, const TextLines& new_lines,
                            std::span<const ChangedRun> runs, std::size_t from,
                            PageBounds bounds) {
  ModelWriter writer(old_lines, new_lines, from, bounds);
  bool after_change = false;
  for (const ChangedRun& run : runs) {
    writer.unchanged(run.old_first - writer.old_line(), after_change, true);
    writer.changed(run);
    after_change = true;
  }
  writer.unchanged(old_lines.count() + 1 - writer.old_line(), after_change, false);
  return model_head(old_lines, new_lines) + writer.finish() + "}";
}

std::string lines_json(const TextLines& lines, std::size_t first, std::size_t count) {
  std::string out = "[";
  const std::size_t end = std::min(lines.count() + 1, first + std::min(count, lines.count()));
  for (std::size_t number = std::max<std::size_t>(first, 1); number < end; ++number) {
    if (out.size() > 1) out += ',';
    json::write_string(valid_utf8(lines.line(number)), out);
  }
  return out + "]";
}

}  // namespace varnock::desk
