// Opening directories beneath a directory descriptor so that no path,
// symbolic link or ".." leads out of it, however others rename and relink
// what lies beneath meanwhile. The kernel judges every step: openat2 with
// RESOLVE_BENEATH where it exists, otherwise a walk of one openat per
// component with O_NOFOLLOW that follows a symbolic link only by splicing
// its text into the walk, so ".." can never climb above the start.
#pragma once

#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "base/unique_fd.h"

namespace varnock::review {

enum class ResolveMethod { kKernel, kWalk };

// Sets the method open_directory_beneath uses: kKernel unless the kernel
// has refused openat2 once (ENOSYS), or a test chose kWalk.
void set_resolve_method(ResolveMethod method);

// A directory opened (O_RDONLY | O_DIRECTORY), or the errno that stopped
// the walk: ENOENT (a component is missing), ENOTDIR (one is not a
// directory), EXDEV (the path or a symbolic link on it leads out of `root`,
// absolute links included) or ELOOP (too many links); others as the system
// gave them.
struct OpenedDirectory {
  UniqueFd fd;
  int error = 0;
};

// Opens the directory that `components` name beneath `root` (any directory
// descriptor, O_PATH included); no components names `root` itself. ".."
// components are allowed and never lead above `root`.
OpenedDirectory open_directory_beneath(int root, std::span<const std::string> components);

// The components of a relative path, without empty ones and "."; ".." kept.
std::vector<std::string> split_path(std::string_view path);

// The components joined with "/".
std::string join_path(std::span<const std::string> components);

}  // namespace varnock::review
