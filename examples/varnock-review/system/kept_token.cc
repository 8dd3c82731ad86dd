#include "system/kept_token.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "base/os_error.h"
#include "base/read_all.h"
#include "desk/token.h"
#include "system/atomic_write.h"

namespace varnock::review {
namespace {

constexpr std::size_t kTokenLength = 64;

std::string file_path(const PrivateDirectory& directory) {
  return directory.path + "/" + kTokenFileName;
}

constexpr std::string_view kReplaceHint = "replace it: varnock-review --web --rotate-token";

std::string mend_hint(const PrivateDirectory& directory) {
  return "; mend it with chmod 600 " + file_path(directory) + " if you made it, or " +
         std::string(kReplaceHint);
}

bool is_token(std::string_view text) {
  if (text.ends_with('\n')) text.remove_suffix(1);
  return text.size() == kTokenLength && std::all_of(text.begin(), text.end(), [](char c) {
           return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f');
         });
}

// The token in the file, or a failure; kind kStale when there is no file.
Result<std::string> read_token(const PrivateDirectory& directory) {
  const std::string path = file_path(directory);
  UniqueFd fd(
      ::openat(directory.fd.get(), kTokenFileName, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
  if (!fd.valid() && errno == ENOENT) return fail(path + " is missing", FailureKind::kStale);
  if (!fd.valid()) return fail(system_error("cannot read " + path, errno) + mend_hint(directory));
  struct stat st;
  if (::fstat(fd.get(), &st) != 0) return fail(system_error("cannot inspect " + path, errno));
  if (!S_ISREG(st.st_mode) || st.st_uid != ::geteuid() || (st.st_mode & 0177) != 0) {
    return fail("refusing the desk token in " + path +
                ": it must be a file of yours with mode 0600" + mend_hint(directory));
  }
  Result<std::string> text = read_all(fd.get(), kTokenLength + 1);
  if (!text.ok() || !is_token(text.value())) {
    return fail(path + " does not hold a desk token; " + std::string(kReplaceHint));
  }
  return text.value().substr(0, kTokenLength);
}

Result<std::string> write_token(const PrivateDirectory& directory, bool replace) {
  Result<std::string> token = desk::random_token();
  if (!token.ok()) return token;
  const std::string name = kTokenFileName;
  Result<std::string> written =
      replace_file(ReplaceRequest{directory.fd.get(), name, token.value() + "\n", mode_t{0600},
                                  !replace, [] { return Status{}; }});
  if (!written.ok())
    return fail("cannot keep the desk token in " + file_path(directory) + ": " + written.failure());
  return token;
}

}  // namespace

Result<std::string> kept_token(const PrivateDirectory& directory, bool rotate) {
  if (rotate) return write_token(directory, true);
  Result<std::string> kept = read_token(directory);
  if (kept.ok() || kept.kind() != FailureKind::kStale) return kept;
  Result<std::string> made = write_token(directory, false);
  // Another reviewer starting at the same moment may have kept its own.
  return made.ok() ? made : read_token(directory);
}

Result<std::string> read_kept_token(const PrivateDirectory& directory) {
  return read_token(directory);
}

}  // namespace varnock::review
