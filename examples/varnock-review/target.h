// Where an accepted replacement may be written: the path guard of the
// reviewer, which judges the real file system, symbolic links and all.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "base/result.h"

namespace varnock::review {

// The file a proposal names, with every symbolic link resolved.
struct Target {
  // Real path (no symbolic links) of the deepest directory on the way to the
  // file that exists now; always inside the workspace.
  std::string directory;
  // Directories still to create under `directory`, outermost first; when
  // there are any, the file does not exist yet.
  std::vector<std::string> missing;
  // The file's name in its directory; a plain name, never "." or "..".
  std::string name;
  // The file (or what a final symbolic link points to) exists now.
  bool exists = false;
};

// True when the real path `path` is `workspace` or lies under it, compared
// by whole components ("/ws" holds "/ws/a" but not "/wsx/a").
bool is_inside(std::string_view path, std::string_view workspace);

// Resolves `path` as a proposal gives it: a relative path is taken against
// `workspace`, which must be a real path (realpath). The parent directory is
// resolved with realpath as far as it exists, and a final component that is
// a symbolic link is resolved too; the result must lie inside the
// workspace. Also refused: an empty path, a NUL byte, a ".." component, a
// path that ends in "/" or ".", a dangling symbolic link on the way, and a
// component that is not a directory. Looks only; changes nothing.
Result<Target> resolve_target(const std::string& workspace, std::string_view path);

// `workspace` + "/" + `path` for a relative path, `path` when absolute; no
// resolution. For telling whether a file is there before anything is judged.
std::string absolute_path(const std::string& workspace, std::string_view path);

}  // namespace varnock::review
