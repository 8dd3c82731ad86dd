// The file a proposal names, found beneath the server's workspace
// descriptor, and the reasons a proposal cannot be applied.
#pragma once

#include <sys/types.h>

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/result.h"
#include "base/unique_fd.h"

namespace varnock::review {

// Why a proposal is refused without asking; the texts the person and the
// journal read.
extern const std::string_view kChanged;       // the file moved on since the agent read it
extern const std::string_view kNotText;       // binary, not UTF-8 or unreadable
extern const std::string_view kOutside;       // leads out of the workspace
extern const std::string_view kNotRegular;    // a directory, device, FIFO ...
extern const std::string_view kTooLong;       // too long or too deep to create
extern const std::string_view kNotAFileName;  // empty, NUL, ends in "/" or "."
extern const std::string_view kRetargeted;    // now leads to another file than the one shown
extern const std::string_view kFileTooLarge;  // more than a server reads (kMaxPresentContent)

// Bounds on a proposal's path, so one proposal cannot create thousands of
// directories or walk for long.
constexpr std::size_t kMaxPathBytes = 4096;
constexpr std::size_t kMaxPathDepth = 64;

// The server's working directory, opened once when it connected.
struct Workspace {
  UniqueFd root;     // O_PATH | O_DIRECTORY
  std::string name;  // its path as the server names it (the kernel's name)
};

// Where a proposal's content would go, with no path text needed again.
struct Target {
  UniqueFd directory;                // deepest directory on the way that exists
  std::vector<std::string> missing;  // to create under it, outermost first
  std::string name;                  // the file's name in its directory
  std::string shown;                 // the file relative to the workspace, links resolved
  bool exists = false;               // a regular file is there now
};

// Resolves `path` (relative, or absolute under `workspace.name`) beneath the
// workspace. A symbolic link as the last component is followed only when
// its target lies inside, and then the target is the file. Refused with one
// of the reasons above, or a system failure text. Looks only; changes nothing.
Result<Target> resolve_target(const Workspace& workspace, std::string_view path);

// The present regular file `name` in `directory`: its bytes and mode, or
// nullopt when there is none. Never blocks on a FIFO and never follows a link.
// A file larger than a server reads is refused (kFileTooLarge) having read
// at most one byte past that bound, whatever size it reports.
struct PresentFile {
  std::string content;
  mode_t mode = 0;
};
Result<std::optional<PresentFile>> read_present(int directory, const std::string& name);

// Whether the file as it is now still holds `before`: empty when it does,
// else kChanged, or kNotText when the file holds what the server could not
// have sent (bytes that are not UTF-8) and `before` is empty.
std::string_view compare_present(const std::optional<PresentFile>& present,
                                 std::string_view before);

// True when `path` is `directory` or lies under it, by whole components.
bool is_inside(std::string_view path, std::string_view directory);

}  // namespace varnock::review
