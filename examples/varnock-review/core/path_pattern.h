// One path pattern with gitignore's rules, matched against a path relative
// to the directory the pattern is anchored to ("docs/a.md", no leading
// slash, no "." or ".." parts).
//
// A pattern with a slash at its start or in its middle is anchored: it
// matches from the start of the path (a leading slash only anchors).
// Otherwise it matches a name at any depth, as if "**/" stood before it. A
// trailing slash matches only a directory. "*" matches any run of
// characters but "/", "?" any one character but "/", "[...]" one character
// of a class ("[!...]" or "[^...]" one not in it; ranges, and POSIX classes
// such as "[:digit:]"); "\" takes the character after it as it is. "**/" at
// the start or after a slash matches any number of whole directories, none
// included; "/**" at the end everything beneath; "**" alone everything;
// other runs of stars are one star.
//
// A pattern meets a path when it matches the path itself, or one of the
// directories above it: "docs/" and "docs" meet "docs/a.md" alike.
//
// Matching runs the pattern as a set of states over the path, one step per
// character: its time is bounded by the path's length times the pattern's,
// whatever either holds; nothing backtracks.
#pragma once

#include <bitset>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "base/result.h"

namespace varnock::review {

class PathPattern {
 public:
  // Bytes a pattern may hold.
  static constexpr std::size_t kMaxPattern = 1024;
  // Bytes of a path a pattern is matched against; a longer path meets none.
  static constexpr std::size_t kMaxPath = 4096;

  // Reads `text` (already without a trailing unescaped white space); a
  // failure says what is wrong with it: empty, too long, a "[" not closed,
  // a lone "\" at the end, an unknown "[:class:]".
  static Result<PathPattern> compile(std::string_view text);

  // Whether the pattern meets `path` (see above).
  bool meets(std::string_view path) const;

 private:
  // One step of the pattern, and a state before it. kChar takes one of
  // `chars`; kStar a run of characters but "/", kAll any run; kSkip takes
  // nothing and may go on at `skip_to` or at the next step.
  struct Step {
    enum Kind : std::uint8_t { kChar, kStar, kAll, kSkip } kind = kChar;
    std::size_t skip_to = 0;
    std::bitset<256> chars;
  };
  using States = std::vector<char>;  // one per step, and the last: matched

  // The steps of `text` (no leading or trailing slash left); a failure says why.
  Status add_steps(std::string_view text);
  // Adds the states reached from those in `states` without taking a character.
  void close(States& states) const;
  // The states reached from `states` by taking `c`.
  void advance(const States& states, unsigned char c, States& next) const;

  std::vector<Step> steps_;
  bool directory_only_ = false;
};

}  // namespace varnock::review
