#include "word_diff.h"

#include <cstdint>

#include "utf8_text.h"

namespace varnock::desk {
namespace {

// Past this many word pairs the middle of a line pair is marked whole: a
// word-by-word comparison costs their product in time and memory.
constexpr std::size_t kMaxComparedPairs = 250000;

struct Token {
  std::string_view text;
  Span span;
};

enum class Class { kWord, kSpace, kOther };

Class class_of(char c) {
  const auto byte = static_cast<unsigned char>(c);
  if (byte >= 0x80 || c == '_' || (c >= '0' && c <= '9') ||
      ((c | 0x20) >= 'a' && (c | 0x20) <= 'z')) {
    return Class::kWord;
  }
  return c == ' ' || c == '\t' ? Class::kSpace : Class::kOther;
}

std::vector<Token> tokenize(std::string_view line) {
  std::vector<Token> tokens;
  std::size_t units = 0;
  for (std::size_t i = 0; i < line.size();) {
    const Class kind = class_of(line[i]);
    std::size_t end = i + 1;
    while (kind != Class::kOther && end < line.size() && class_of(line[end]) == kind) ++end;
    const std::string_view text = line.substr(i, end - i);
    const std::size_t length = utf16_length(text);
    tokens.push_back({text, {units, units + length}});
    units += length;
    i = end;
  }
  return tokens;
}

// Marks in `old_changed` and `new_changed` the tokens of the two middles
// that are not on a longest common subsequence.
void mark_by_common_subsequence(const std::vector<Token>& a, const std::vector<Token>& b,
                                std::vector<bool>& old_changed, std::vector<bool>& new_changed) {
  const std::size_t n = a.size(), m = b.size();
  std::vector<std::uint32_t> length((n + 1) * (m + 1), 0);
  const auto at = [&](std::size_t i, std::size_t j) -> std::uint32_t& {
    return length[i * (m + 1) + j];
  };
  for (std::size_t i = n; i-- > 0;) {
    for (std::size_t j = m; j-- > 0;) {
      at(i, j) =
          a[i].text == b[j].text ? at(i + 1, j + 1) + 1 : std::max(at(i + 1, j), at(i, j + 1));
    }
  }
  std::size_t i = 0, j = 0;
  while (i < n && j < m) {
    if (a[i].text == b[j].text) {
      old_changed[i++] = false;
      new_changed[j++] = false;
    } else if (at(i + 1, j) >= at(i, j + 1)) {
      ++i;
    } else {
      ++j;
    }
  }
}

std::vector<Span> spans_of(const std::vector<Token>& tokens, const std::vector<bool>& changed) {
  std::vector<Span> spans;
  for (std::size_t i = 0; i < changed.size(); ++i) {
    if (!changed[i]) continue;
    const Span span = tokens[i].span;
    if (!spans.empty() && spans.back().end == span.begin) {
      spans.back().end = span.end;
    } else {
      spans.push_back(span);
    }
  }
  return spans;
}

}  // namespace

WordChanges changed_words(std::string_view old_line, std::string_view new_line,
                          std::size_t& budget) {
  const std::vector<Token> a = tokenize(old_line);
  const std::vector<Token> b = tokenize(new_line);
  std::size_t prefix = 0;
  while (prefix < a.size() && prefix < b.size() && a[prefix].text == b[prefix].text) ++prefix;
  std::size_t suffix = 0;
  while (suffix < a.size() - prefix && suffix < b.size() - prefix &&
         a[a.size() - 1 - suffix].text == b[b.size() - 1 - suffix].text) {
    ++suffix;
  }
  const std::vector<Token> a_middle(a.begin() + prefix, a.end() - suffix);
  const std::vector<Token> b_middle(b.begin() + prefix, b.end() - suffix);
  std::vector<bool> old_changed(a_middle.size(), true);
  std::vector<bool> new_changed(b_middle.size(), true);
  const std::size_t pairs = a_middle.size() * b_middle.size();
  if (pairs <= kMaxComparedPairs && pairs <= budget) {
    budget -= pairs;
    mark_by_common_subsequence(a_middle, b_middle, old_changed, new_changed);
  }
  return {spans_of(a_middle, old_changed), spans_of(b_middle, new_changed)};
}

}  // namespace varnock::desk
