#include "terminal/keys.h"

#include <cctype>
#include <string_view>

namespace varnock::review {
namespace {

constexpr std::string_view kAnswerKeys = "arhyn";
constexpr char kEndOfFile = '\x04';  // Ctrl-D

bool is_answer_key(char c) {
  return kAnswerKeys.find(static_cast<char>(std::tolower(static_cast<unsigned char>(c)))) !=
         std::string_view::npos;
}

bool is_erase(char c) { return c == '\x7f' || c == '\b'; }

}  // namespace

Said KeyLine::key(char c) {
  if (c == '\n' || c == '\r') {
    if (line_.empty()) return Said{};
    std::string line = std::move(line_);
    line_.clear();
    return Said{std::move(line), std::string("\n")};
  }
  if (line_.empty() && is_answer_key(c)) return Said{std::string(1, c), std::string{c, '\n'}};
  if (is_erase(c)) {
    if (line_.empty()) return Said{};
    erase_character();
    return Said{std::nullopt, std::string("\b \b")};
  }
  if (c == kEndOfFile) return Said{std::nullopt, std::string(), line_.empty()};
  line_ += c;
  const bool shown = static_cast<unsigned char>(c) >= 0x20;
  return Said{std::nullopt, shown ? std::string(1, c) : std::string()};
}

// The last character of the line, all its UTF-8 bytes.
void KeyLine::erase_character() {
  while (!line_.empty() && (static_cast<unsigned char>(line_.back()) & 0xC0) == 0x80) {
    line_.pop_back();
  }
  if (!line_.empty()) line_.pop_back();
}

bool KeyMode::enter(int fd) {
  if (entered()) return true;
  struct termios mode {};
  if (::tcgetattr(fd, &mode) != 0) return false;
  saved_ = mode;
  mode.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);
  mode.c_cc[VMIN] = 1;
  mode.c_cc[VTIME] = 0;
  if (::tcsetattr(fd, TCSANOW, &mode) != 0) return false;
  fd_ = fd;
  return true;
}

void KeyMode::leave() {
  if (!entered()) return;
  ::tcsetattr(fd_, TCSANOW, &saved_);
  fd_ = -1;
}

}  // namespace varnock::review
