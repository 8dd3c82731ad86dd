#include "apply.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <optional>

#include "atomic_write.h"
#include "system_error.h"
#include "target.h"

namespace varnock::review {

const std::string_view kChangedSinceSnapshot =
    "the file has changed since the agent read it; not overwriting";

namespace {

// The file as it is now: its bytes and, when it exists, its permission bits.
struct PresentFile {
  std::string content;
  std::optional<mode_t> mode;
};

Result<std::string> read_all(int fd) {
  std::string content;
  char buffer[65536];
  for (;;) {
    const ssize_t count = ::read(fd, buffer, sizeof buffer);
    if (count < 0 && errno == EINTR) continue;
    if (count < 0) return fail(system_error("cannot read the present file", errno));
    if (count == 0) return content;
    content.append(buffer, static_cast<std::size_t>(count));
  }
}

// Reads the target if it exists. Only a regular file is read: a FIFO or a
// device could block or never end, and neither can be replaced by text.
Result<PresentFile> read_present(int directory, const Target& target) {
  if (!target.exists) return PresentFile{};
  UniqueFd fd(
      ::openat(directory, target.name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
  if (!fd.valid()) return fail(system_error("cannot open the present file", errno));
  struct stat st;
  if (::fstat(fd.get(), &st) != 0)
    return fail(system_error("cannot inspect the present file", errno));
  if (!S_ISREG(st.st_mode)) return fail("the path names something other than a regular file");
  Result<std::string> content = read_all(fd.get());
  if (!content.ok()) return fail(content.failure());
  return PresentFile{std::move(content).value(), st.st_mode & 07777};
}

}  // namespace

Result<std::string> apply_replacement(const std::string& workspace, const Proposal& proposal) {
  Result<Target> target = resolve_target(workspace, proposal.path);
  if (!target.ok()) return fail(target.failure());
  Result<UniqueFd> directory = open_directory(target.value().directory);
  if (!directory.ok()) return fail(directory.failure());
  Result<PresentFile> present = read_present(directory.value().get(), target.value());
  if (!present.ok()) return fail(present.failure());
  if (present.value().content != proposal.before) return fail(std::string(kChangedSinceSnapshot));
  Result<UniqueFd> home = make_directories(std::move(directory).value(), target.value().missing);
  if (!home.ok()) return fail(home.failure());
  return replace_file(home.value().get(), target.value().name, proposal.after, present.value().mode,
                      !target.value().exists);
}

}  // namespace varnock::review
