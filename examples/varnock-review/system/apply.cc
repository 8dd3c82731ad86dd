#include "system/apply.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "system/atomic_write.h"
#include "base/os_error.h"

namespace varnock::review {
namespace {

// Checks that `name` in `directory` still holds `before`.
Status still_current(int directory, const std::string& name, std::string_view before) {
  Result<PresentFile> present = check_present(directory, name, before);
  if (!present.ok()) return fail(present.failure(), present.kind());
  return {};
}

}  // namespace

Result<std::string> apply_proposal(const Workspace& workspace, std::string_view path,
                                   std::string_view shown, std::string_view before,
                                   std::string_view after) {
  Result<Target> target = resolve_target(workspace, path);
  if (!target.ok()) return fail(std::move(target).failure());
  Target& found = target.value();
  if (found.shown != shown) return fail(std::string(kRetargeted));
  Result<PresentFile> present = check_present(found.directory.get(), found.name, before);
  if (!present.ok()) return fail(present.failure(), present.kind());
  Result<UniqueFd> home = make_directories(std::move(found.directory), found.missing);
  if (!home.ok()) return fail(std::move(home).failure());
  const int directory = home.value().get();
  const bool exists = present.value().exists;
  const std::optional<mode_t> mode =
      exists ? std::optional<mode_t>(present.value().mode) : std::nullopt;
  ReplaceRequest request{directory, found.name,
                         after,     mode,
                         !exists,   [&] {
                           return still_current(directory, found.name, before); }};
  return replace_file(request);
}

Result<std::string> remove_written(const Workspace& workspace, std::string_view path,
                                   std::string_view written) {
  Result<Target> target = resolve_target(workspace, path);
  if (!target.ok()) return fail(target.failure(), target.kind());
  const Target& found = target.value();
  if (found.shown != path) return fail(std::string(kRetargeted));
  Result<PresentFile> present = check_present(found.directory.get(), found.name, written);
  if (!present.ok()) return fail(present.failure(), present.kind());
  if (!present.value().exists) return fail(std::string(kChanged), FailureKind::kStale);
  if (::unlinkat(found.directory.get(), found.name.c_str(), 0) != 0) {
    return fail(system_error("cannot remove the file", errno));
  }
  if (::fsync(found.directory.get()) != 0) {
    return system_error("the file is removed, but syncing its directory failed", errno);
  }
  return std::string();
}

}  // namespace varnock::review
