#include "system/peer.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <string_view>
#include <vector>

#include "base/io.h"
#include "base/os_error.h"
#include "base/unix_socket.h"

namespace varnock::review {
namespace {

// The fields of a /proc/<pid>/stat text after the command name, from the
// state (field 3) on. The name is in parentheses and may itself hold
// spaces and parentheses, so the fields start after the last ')'.
std::vector<std::string_view> fields_after_name(std::string_view text) {
  std::vector<std::string_view> fields;
  const std::size_t name_end = text.rfind(')');
  if (name_end == std::string_view::npos) return fields;
  text.remove_prefix(name_end + 1);
  while (text.starts_with(' ')) {
    text.remove_prefix(1);
    const std::size_t end = text.find_first_of(" \n");
    fields.push_back(text.substr(0, end));
    text.remove_prefix(end == std::string_view::npos ? text.size() : end);
  }
  return fields;
}

template <class Number>
bool read_number(std::string_view text, Number& number) {
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), number);
  return error == std::errc() && end == text.data() + text.size();
}

}  // namespace

Result<Peer> peer_of(int socket) {
  ucred credentials{};
  if (const int error = peer_credentials(socket, credentials); error != 0) {
    return fail(system_error("cannot read the peer's credentials", error));
  }
  return Peer{credentials.pid, credentials.uid};
}

Result<ProcessStat> process_stat(pid_t pid) {
  const std::string path = "/proc/" + std::to_string(pid) + "/stat";
  UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (!fd.valid()) return fail(system_error("cannot read its process status", errno));
  char buffer[4096];
  const ssize_t length = read_some(fd.get(), buffer, sizeof buffer);
  if (length < 0) return fail(system_error("cannot read its process status", errno));
  const std::vector<std::string_view> fields =
      fields_after_name(std::string_view(buffer, static_cast<std::size_t>(length)));
  ProcessStat stat;
  // Field 4 is the parent, field 22 the start time.
  if (fields.size() < 20 || !read_number(fields[1], stat.parent) ||
      !read_number(fields[19], stat.start_time)) {
    return fail("its process status cannot be read");
  }
  return stat;
}

Result<Workspace> open_workspace(pid_t pid) {
  const std::string link = "/proc/" + std::to_string(pid) + "/cwd";
  UniqueFd root(::open(link.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
  if (!root.valid()) return fail(system_error("cannot open its working directory", errno));
  char buffer[4096];
  const std::string opened = "/proc/self/fd/" + std::to_string(root.get());
  const ssize_t length = ::readlink(opened.c_str(), buffer, sizeof buffer);
  if (length <= 0 || static_cast<std::size_t>(length) == sizeof buffer) {
    return fail(system_error("cannot read the name of its working directory", errno));
  }
  return Workspace{std::move(root), std::string(buffer, static_cast<std::size_t>(length))};
}

}  // namespace varnock::review
