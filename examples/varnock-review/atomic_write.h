// Putting new content in place so that no reader ever sees half a file.
#pragma once

#include <sys/types.h>

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/result.h"
#include "unique_fd.h"

namespace varnock::review {

// Opens the directory `path` for the *at calls below; `path` must be a real
// path, and a symbolic link put in its place since is refused.
Result<UniqueFd> open_directory(const std::string& path);

// Creates each of `missing` in turn below `directory` (mode 0777 less the
// umask), tolerating one that appeared meanwhile but not a symbolic link,
// and gives the innermost one open.
Result<UniqueFd> make_directories(UniqueFd directory, const std::vector<std::string>& missing);

// Replaces (or creates) `name` in `directory` with `content`: a temporary
// file beside it is written and fsynced, given `mode` (an existing file's
// permission bits; nullopt keeps the default 0666 less the umask), renamed
// over `name`, and the directory is fsynced. A failure means `name` is
// untouched (the temporary file is removed). The rename is the point of no
// return: a failed sync of the directory after it is not a failure but the
// warning text given back (empty when all went well). With `create_only`,
// a file that has appeared at `name` meanwhile is left alone and that is a
// failure.
Result<std::string> replace_file(int directory, const std::string& name, std::string_view content,
                                 std::optional<mode_t> mode, bool create_only);

}  // namespace varnock::review
