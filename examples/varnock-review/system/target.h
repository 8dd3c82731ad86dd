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

// The directory `name` (an absolute path) opened as a workspace; the
// failure says which directory could not be opened.
Result<Workspace> open_workspace_at(const std::string& name);

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

// Whether the regular file `name` in `directory` still holds `before`, what
// the agent read (a missing file holds ""): whether there is one, and its
// mode. Refused with kChanged; kNotText when `before` is empty and the file
// holds bytes that are not UTF-8 (the server could not have sent them) or
// cannot be read; kFileTooLarge when it holds more than a server reads
// (judged by its size before reading anything, or by reading at most one
// byte past the bound); kOutside or kNotRegular for what is there instead.
// Never blocks on a FIFO and never follows a link. The file is read in
// pieces, so what this holds stays small whatever the file's size.
struct PresentFile {
  bool exists = false;
  mode_t mode = 0;
};
Result<PresentFile> check_present(int directory, const std::string& name, std::string_view before);

// True when `path` is `directory` or lies under it, by whole components.
bool is_inside(std::string_view path, std::string_view directory);

}  // namespace varnock::review
