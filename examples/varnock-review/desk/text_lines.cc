#include "text_lines.h"

#include <cstring>

namespace varnock::desk {

LineIndex::LineIndex(std::string_view text) {
  for (std::size_t start = 0; start < text.size();) {
    starts_.push_back(start);
    const void* newline = std::memchr(text.data() + start, '\n', text.size() - start);
    if (newline == nullptr) break;
    start = static_cast<std::size_t>(static_cast<const char*>(newline) - text.data()) + 1;
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
