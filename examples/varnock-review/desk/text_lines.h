// A text seen as numbered lines.
#pragma once

#include <cstddef>
#include <string_view>
#include <vector>

namespace varnock::desk {

// The lines of a text, numbered from 1, each without its newline. A last
// line without a newline is a line; "" has no lines. Views into the text,
// which must outlive this.
class TextLines {
 public:
  explicit TextLines(std::string_view text);

  std::size_t count() const { return starts_.size(); }
  // Line `number`, 1 <= number <= count().
  std::string_view line(std::size_t number) const;
  // Whether the text is empty or ends with a newline.
  bool ends_with_newline() const { return text_.empty() || text_.back() == '\n'; }

 private:
  std::string_view text_;
  std::vector<std::size_t> starts_;
};

}  // namespace varnock::desk
