#include "text_lines.h"

#include <algorithm>
#include <iterator>

#include "base/line_reader.h"

namespace varnock::desk {

LineIndex::LineIndex(std::string_view text) {
  for (std::string_view rest = text; !rest.empty(); cut_line(rest), ++count_) {
    const auto offset = static_cast<std::size_t>(rest.data() - text.data());
    if (marks_.empty() || count_ - marks_.back().line >= kLines ||
        offset - marks_.back().offset >= kBytes) {
      marks_.push_back({count_, offset});
    }
  }
  marks_.shrink_to_fit();
}

std::string_view TextLines::line(std::size_t number) const {
  const auto mark = std::prev(std::upper_bound(
      index_.marks_.begin(), index_.marks_.end(), number - 1,
      [](std::size_t line, const LineIndex::Mark& mark) { return line < mark.line; }));
  std::string_view rest = text_.substr(mark->offset);
  for (std::size_t skip = number - 1 - mark->line; skip > 0; --skip) cut_line(rest);
  std::string_view line = cut_line(rest);
  if (!line.empty() && line.back() == '\n') line.remove_suffix(1);
  return line;
}

}  // namespace varnock::desk
