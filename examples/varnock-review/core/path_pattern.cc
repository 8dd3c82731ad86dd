#include "core/path_pattern.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <utility>

namespace varnock::review {
namespace {

using Chars = std::bitset<256>;

Chars one(unsigned char c) {
  Chars chars;
  chars.set(c);
  return chars;
}

Chars all_but_slash() {
  Chars chars;
  chars.set();
  chars.reset('/');
  return chars;
}

// The POSIX classes a bracket may name, as "[:name:]".
bool add_named_class(std::string_view name, Chars& chars) {
  static constexpr std::array<std::pair<std::string_view, int (*)(int)>, 12> kClasses{{
      {"alnum", std::isalnum},
      {"alpha", std::isalpha},
      {"blank", std::isblank},
      {"cntrl", std::iscntrl},
      {"digit", std::isdigit},
      {"graph", std::isgraph},
      {"lower", std::islower},
      {"print", std::isprint},
      {"punct", std::ispunct},
      {"space", std::isspace},
      {"upper", std::isupper},
      {"xdigit", std::isxdigit},
  }};
  for (const auto& [known, test] : kClasses) {
    if (known != name) continue;
    for (int c = 0; c < 128; ++c) {
      if (test(c) != 0) chars.set(static_cast<std::size_t>(c));
    }
    return true;
  }
  return false;
}

// Reads the bracket that starts at text[at] ("["); gives where it ends (just
// past its "]") and puts the bytes it takes in `chars`. It never takes "/".
Result<std::size_t> read_bracket(std::string_view text, std::size_t at, Chars& chars) {
  std::size_t i = at + 1;
  const bool negated = i < text.size() && (text[i] == '!' || text[i] == '^');
  if (negated) ++i;
  for (bool first = true; i < text.size() && (first || text[i] != ']'); first = false) {
    if (text.compare(i, 2, "[:") == 0) {
      const std::size_t end = text.find(":]", i + 2);
      if (end == std::string_view::npos) break;
      const std::string_view name = text.substr(i + 2, end - i - 2);
      if (!add_named_class(name, chars)) return fail("unknown class [:" + std::string(name) + ":]");
      i = end + 2;
      continue;
    }
    if (text[i] == '\\' && ++i == text.size()) break;
    const auto low = static_cast<unsigned char>(text[i]);
    auto high = low;
    if (i + 2 < text.size() && text[i + 1] == '-' && text[i + 2] != ']') {
      i += 2;
      if (text[i] == '\\' && ++i == text.size()) break;
      high = static_cast<unsigned char>(text[i]);
    }
    for (unsigned c = low; c <= high; ++c) chars.set(c);
    ++i;
  }
  if (i >= text.size()) return fail("a '[' is not closed by ']'");
  if (negated) chars.flip();
  chars.reset('/');
  return i + 1;
}

}  // namespace

Result<PathPattern> PathPattern::compile(std::string_view text) {
  if (text.size() > kMaxPattern) {
    return fail("the pattern is longer than " + std::to_string(kMaxPattern) + " bytes");
  }
  if (text.starts_with('!')) {
    return fail(
        "a pattern cannot start with '!' (the first rule that matches decides: put the "
        "exception above; \\! is a name starting with !)");
  }
  PathPattern pattern;
  if (text.ends_with('/') && !text.ends_with("\\/")) {
    pattern.directory_only_ = true;
    text.remove_suffix(1);
  }
  const bool anchored = text.find('/') != std::string_view::npos;
  if (text.starts_with('/')) text.remove_prefix(1);
  if (text.empty()) return fail("the pattern is empty");
  if (!anchored) {
    // Any depth: as if "**/" stood before it.
    pattern.steps_.push_back(Step{Step::kSkip, 3, {}});
    pattern.steps_.push_back(Step{Step::kAll, 0, {}});
    pattern.steps_.push_back(Step{Step::kChar, 0, one('/')});
  }
  Status added = pattern.add_steps(text);
  if (!added.ok()) return fail(added.failure());
  return pattern;
}

// A run of stars is "**" when it stands alone between slashes (or the
// pattern's ends); then "**/" is any number of whole directories and a final
// "**" anything. Any other run is one "*".
Status PathPattern::add_steps(std::string_view text) {
  for (std::size_t i = 0; i < text.size();) {
    const char c = text[i];
    if (c == '*') {
      const std::size_t run = text.find_first_not_of('*', i);
      const std::size_t end = run == std::string_view::npos ? text.size() : run;
      const bool alone = end - i >= 2 && (i == 0 || text[i - 1] == '/') &&
                         (end == text.size() || text[end] == '/');
      if (alone && end < text.size()) {
        steps_.push_back(Step{Step::kSkip, steps_.size() + 3, {}});
        steps_.push_back(Step{Step::kAll, 0, {}});
        steps_.push_back(Step{Step::kChar, 0, one('/')});
        i = end + 1;
      } else {
        steps_.push_back(Step{alone ? Step::kAll : Step::kStar, 0, {}});
        i = end;
      }
    } else if (c == '[') {
      Chars chars;
      Result<std::size_t> end = read_bracket(text, i, chars);
      if (!end.ok()) return fail(end.failure());
      steps_.push_back(Step{Step::kChar, 0, chars});
      i = end.value();
    } else if (c == '\\') {
      if (i + 1 == text.size()) return fail("the pattern ends in a lone '\\'");
      steps_.push_back(Step{Step::kChar, 0, one(static_cast<unsigned char>(text[i + 1]))});
      i += 2;
    } else {
      steps_.push_back(Step{Step::kChar, 0, c == '?' ? all_but_slash() : one(c)});
      ++i;
    }
  }
  return {};
}

// The steps only lead forward, so one pass in order reaches every state.
void PathPattern::close(States& states) const {
  for (std::size_t i = 0; i < steps_.size(); ++i) {
    if (!states[i]) continue;
    const Step& step = steps_[i];
    if (step.kind != Step::kChar) states[i + 1] = 1;
    if (step.kind == Step::kSkip) states[step.skip_to] = 1;
  }
}

void PathPattern::advance(const States& states, unsigned char c, States& next) const {
  std::fill(next.begin(), next.end(), 0);
  for (std::size_t i = 0; i < steps_.size(); ++i) {
    if (!states[i]) continue;
    const Step& step = steps_[i];
    if (step.kind == Step::kChar && step.chars[c]) next[i + 1] = 1;
    if (step.kind == Step::kAll || (step.kind == Step::kStar && c != '/')) next[i] = 1;
  }
  close(next);
}

// The states before each "/" tell whether the directory so far matches.
bool PathPattern::meets(std::string_view path) const {
  if (path.size() > kMaxPath) return false;
  const std::size_t matched = steps_.size();
  States states(matched + 1, 0), next(matched + 1, 0);
  states[0] = 1;
  close(states);
  for (const char c : path) {
    if (c == '/' && states[matched]) return true;
    advance(states, static_cast<unsigned char>(c), next);
    states.swap(next);
    if (std::find(states.begin(), states.end(), 1) == states.end()) return false;
  }
  return !directory_only_ && states[matched];
}

}  // namespace varnock::review
