// A text seen as numbered lines.
#pragma once

#include <cstddef>
#include <string_view>
#include <vector>

namespace varnock::desk {

// Where some lines of a text start: one pass over the text, kept so that a
// line is found again by number from the last marked line before it. A line
// is marked once kLines lines or kBytes bytes have passed since the last
// mark, so a walk passes fewer than kLines lines and kBytes bytes, and a
// text of newlines alone costs a byte of index per four lines.
class LineIndex {
 public:
  static constexpr std::size_t kLines = 64;
  static constexpr std::size_t kBytes = std::size_t{64} << 10;

  explicit LineIndex(std::string_view text);

  std::size_t count() const { return count_; }
  // Bytes the index holds.
  std::size_t bytes() const { return marks_.capacity() * sizeof(Mark); }

 private:
  friend class TextLines;
  struct Mark {
    std::size_t line;  // from 0
    std::size_t offset;
  };
  std::vector<Mark> marks_;
  std::size_t count_ = 0;
};

// The lines of a text, numbered from 1, each without its newline. A last
// line without a newline is a line; "" has no lines. Views into the text
// and its index, which must outlive this.
class TextLines {
 public:
  // `index` must be the index of `text`.
  TextLines(std::string_view text, const LineIndex& index) : text_(text), index_(index) {}

  std::size_t count() const { return index_.count(); }
  // Line `number`, 1 <= number <= count().
  std::string_view line(std::size_t number) const;
  // Whether the text is empty or ends with a newline.
  bool ends_with_newline() const { return text_.empty() || text_.back() == '\n'; }

 private:
  std::string_view text_;
  const LineIndex& index_;
};

}  // namespace varnock::desk
