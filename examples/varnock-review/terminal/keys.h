// Answers typed a key at a time: the terminal out of line mode while a
// question is open, and the keys turned into what the person said.
#pragma once

#include <termios.h>

#include <optional>
#include <string>
#include <string_view>

namespace varnock::review {

// What the keys typed so far say, and what to echo for them (the terminal
// echoes nothing itself in key mode).
struct Said {
  std::optional<std::string> text;  // an answer or a line, complete
  std::string echo;
  bool closed = false;  // the end-of-file key on an empty line
};

// Keys to answers. A key that is an answer on its own ("a", "r", "h", "y",
// "n", either case) says it at once when it is the first of a line; any
// other key starts a line that Enter ends, for longer words, and that
// backspace edits. Enter on an empty line says nothing.
class KeyLine {
 public:
  Said key(char c);
  // Forgets a line begun (the question changed under it).
  void clear() { line_.clear(); }

 private:
  void erase_character();

  std::string line_;
};

// The terminal `fd` in key mode (no line editing, no echo; signals such as
// Ctrl-C still work) while entered, and as it was otherwise.
class KeyMode {
 public:
  KeyMode() = default;
  ~KeyMode() { leave(); }
  KeyMode(const KeyMode&) = delete;
  KeyMode& operator=(const KeyMode&) = delete;

  // False when `fd` is not a terminal, or its mode cannot be set: answers
  // then come a line at a time.
  bool enter(int fd);
  void leave();
  bool entered() const { return fd_ >= 0; }

 private:
  int fd_ = -1;
  struct termios saved_ {};
};

}  // namespace varnock::review
