// A text seen as numbered lines.
#pragma once

#include <cstddef>
#include <string_view>
#include <vector>

namespace varnock::desk {

// Where each line of a text starts: one pass over the text, kept so that
// the text can be read by line number again without another.
class LineIndex {
 public:
  explicit LineIndex(std::string_view text);

  std::size_t count() const { return starts_.size(); }
  // Bytes the index holds.
  std::size_t bytes() const { return starts_.capacity() * sizeof(std::size_t); }

 private:
  friend class TextLines;
  std::vector<std::size_t> starts_;
};

// The lines of a text, numbered from 1, each without its newline. A last
// line without a newline is a line; "" has no lines. Views into the text
// and its index, which must outlive this.
class TextLines {
 public:
  // `index` must be the index of `text`.
  TextLines(std::string_view text, const LineIndex& index) : text_(text), starts_(index.starts_) {}

  std::size_t count() const { return starts_.size(); }
  // Line `number`, 1 <= number <= count().
  std::string_view line(std::size_t number) const;
  // Whether the text is empty or ends with a newline.
  bool ends_with_newline() const { return text_.empty() || text_.back() == '\n'; }

 private:
  std::string_view text_;
  const std::vector<std::size_t>& starts_;
};

}  // namespace varnock::desk
