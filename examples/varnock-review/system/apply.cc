#include "system/apply.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>

#include "system/atomic_write.h"
#include "base/os_error.h"

namespace varnock::review {
namespace {

// Checks that `name` in `directory` still holds `before`.
Status still_current(int directory, const std::string& name, std::string_view before) {
  Result<PresentFile> present = check_present(directory, name, before);
  if (!present.ok()) return fail(std::move(present).failure());
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
  if (!present.ok()) return fail(std::move(present).failure());
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

}  // namespace varnock::review
