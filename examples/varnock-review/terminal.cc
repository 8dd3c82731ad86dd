#include "terminal.h"

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>

#include "connection.h"
#include "system_error.h"

namespace varnock::review {
namespace {

constexpr const char kTerminalPath[] = "/dev/tty";

std::string lower_trimmed(std::string_view text) {
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front()))) {
    text.remove_prefix(1);
  }
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back()))) {
    text.remove_suffix(1);
  }
  std::string out;
  for (char c : text) out += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

}  // namespace

Answer parse_answer(std::string_view line) {
  const std::string word = lower_trimmed(line);
  if (word == "a" || word == "accept" || word == "y" || word == "yes") return Answer::kAccept;
  if (word == "r" || word == "reject" || word == "n" || word == "no") return Answer::kReject;
  return Answer::kUnclear;
}

Result<Terminal> Terminal::open() {
  UniqueFd fd(::open(kTerminalPath, O_RDWR | O_NOCTTY | O_CLOEXEC));
  if (!fd.valid()) return fail(system_error("cannot open /dev/tty to ask for answers", errno));
  return Terminal(std::move(fd));
}

void Terminal::ask(std::string_view question) {
  ::tcflush(fd_.get(), TCIFLUSH);
  pending_.clear();
  scanned_ = 0;
  say(question);
}

void Terminal::say(std::string_view text) {
  while (!text.empty()) {
    const ssize_t count = ::write(fd_.get(), text.data(), text.size());
    if (count < 0 && errno == EINTR) continue;
    if (count <= 0) return;
    text.remove_prefix(static_cast<std::size_t>(count));
  }
}

Terminal::Typed Terminal::read_typed() {
  Typed typed;
  char buffer[1024];
  ssize_t count = ::read(fd_.get(), buffer, sizeof buffer);
  while (count < 0 && errno == EINTR) count = ::read(fd_.get(), buffer, sizeof buffer);
  if (count <= 0) {
    typed.closed = true;
    return typed;
  }
  pending_.append(buffer, static_cast<std::size_t>(count));
  take_lines(pending_, scanned_, typed.lines);
  return typed;
}

}  // namespace varnock::review
