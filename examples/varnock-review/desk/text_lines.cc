#include "text_lines.h"

#include "base/line_reader.h"

namespace varnock::desk {

LineIndex::LineIndex(std::string_view text) {
  for (std::string_view rest = text; !rest.empty(); cut_line(rest)) {
    starts_.push_back(static_cast<std::size_t>(rest.data() - text.data()));
  }
  starts_.shrink_to_fit();
}

std::string_view TextLines::line(std::size_t number) const {
  const std::size_t start = starts_[number - 1];
  const std::size_t end = number < starts_.size() ? starts_[number] - 1 : text_.size();
  std::string_view line = text_.substr(start, end - start);
  if (!line.empty() && line.back() == '\n') line.remove_suffix(1);
  return line;
}

}  // namespace varnock::desk
