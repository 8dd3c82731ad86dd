#include "system/atomic_write.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <random>

#include "base/io.h"
#include "base/os_error.h"

namespace varnock::review {
namespace {

constexpr int kNameAttempts = 100;
constexpr const char kTemporaryPrefix[] = ".varnock-review-";

std::string temporary_name() {
  static std::mt19937_64 random{std::random_device{}()};
  static constexpr char kLetters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
  std::string name = kTemporaryPrefix;
  for (int i = 0; i < 12; ++i) name += kLetters[random() % (sizeof kLetters - 1)];
  return name + ".tmp";
}

// Creates a fresh temporary file in `directory`; gives its descriptor and name.
Result<std::pair<UniqueFd, std::string>> create_temporary(int directory) {
  for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
    std::string name = temporary_name();
    UniqueFd fd(::openat(directory, name.c_str(),
                         O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666));
    if (fd.valid()) return std::pair{std::move(fd), std::move(name)};
    if (errno != EEXIST) return fail(system_error("cannot create a temporary file", errno));
  }
  return fail("cannot find a free temporary file name");
}

// Content, mode and durability of the temporary file, then closes it.
Status fill_temporary(UniqueFd fd, std::string_view content, std::optional<mode_t> mode) {
  if (const int error = write_all(fd.get(), content); error != 0) {
    return fail(system_error("cannot write the new content", error));
  }
  if (mode && ::fchmod(fd.get(), *mode) != 0) {
    return fail(system_error("cannot keep the file's mode", errno));
  }
  if (::fsync(fd.get()) != 0) return fail(system_error("cannot sync the new content", errno));
  if (::close(fd.release()) != 0) return fail(system_error("cannot close the new content", errno));
  return {};
}

// The commit: renames the temporary file to `name`.
Status move_into_place(int directory, const std::string& from, const std::string& to,
                       bool create_only) {
  const unsigned flags = create_only ? RENAME_NOREPLACE : 0;
  if (::renameat2(directory, from.c_str(), directory, to.c_str(), flags) == 0) return {};
  if (errno == EEXIST) return fail("the file was created by someone else during the review");
  return fail(system_error("cannot move the new content into place", errno));
}

}  // namespace

Result<UniqueFd> make_directories(UniqueFd directory, const std::vector<std::string>& missing) {
  for (const std::string& name : missing) {
    if (::mkdirat(directory.get(), name.c_str(), 0777) != 0 && errno != EEXIST) {
      return fail(system_error("cannot create the directory " + name, errno));
    }
    UniqueFd inner(
        ::openat(directory.get(), name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!inner.valid()) return fail(system_error("cannot open the directory " + name, errno));
    if (::fsync(directory.get()) != 0) {
      return fail(system_error("cannot sync the directory holding " + name, errno));
    }
    directory = std::move(inner);
  }
  return directory;
}

Result<std::string> replace_file(const ReplaceRequest& request) {
  const int directory = request.directory;
  Result<std::pair<UniqueFd, std::string>> temporary = create_temporary(directory);
  if (!temporary.ok()) return fail(temporary.failure());
  const std::string temporary_name = temporary.value().second;
  Status filled = fill_temporary(std::move(temporary.value().first), request.content, request.mode);
  if (filled.ok()) filled = request.recheck();
  if (filled.ok()) {
    filled = move_into_place(directory, temporary_name, request.name, request.create_only);
  }
  if (!filled.ok()) {
    ::unlinkat(directory, temporary_name.c_str(), 0);
    return fail(filled.failure(), filled.kind());
  }
  if (::fsync(directory) != 0) {
    return system_error("the file is written, but syncing its directory failed", errno);
  }
  return std::string();
}

}  // namespace varnock::review
