// Putting new content in place so that no reader ever sees half a file.
#pragma once

#include <sys/types.h>

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/result.h"
#include "base/unique_fd.h"

namespace varnock::review {

// Creates each of `missing` in turn below `directory` (mode 0777 less the
// umask), tolerating one that appeared meanwhile but not a symbolic link,
// syncs each parent, and gives the innermost one open.
Result<UniqueFd> make_directories(UniqueFd directory, const std::vector<std::string>& missing);

struct ReplaceRequest {
  int directory;            // held open by the caller
  const std::string& name;  // a plain name in it
  std::string_view content;
  std::optional<mode_t> mode;       // an existing file's bits; nullopt: 0666 less the umask
  bool create_only;                 // a file appearing at `name` meanwhile is a failure
  std::function<Status()> recheck;  // last look at the present file before the rename
};

// Replaces (or creates) the file: a temporary file beside it is written,
// given the mode and synced, `recheck` is asked, the temporary file is
// renamed over `name` and the directory is synced. A failure means `name`
// is untouched (the temporary file is removed). The rename is the point of
// no return: a failed sync of the directory after it is not a failure but
// the warning text given back (empty when all went well).
Result<std::string> replace_file(const ReplaceRequest& request);

}  // namespace varnock::review
