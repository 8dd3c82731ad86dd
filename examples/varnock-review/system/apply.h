// Applying an accepted proposal beneath its server's workspace.
#pragma once

#include <string>
#include <string_view>

#include "base/result.h"
#include "system/target.h"

namespace varnock::review {

// Writes `after` to the file `path` names beneath `workspace`, when the file
// as it is now still holds `before` (a missing file holds ""). The path is
// resolved anew beneath the workspace descriptor (target.h), missing
// directories are made with mkdirat on the descriptors held, the new content
// goes to a temporary file that is synced, the present content is compared
// once more through the same directory descriptor, and the temporary file is
// renamed over the target within that directory, which is then synced. No
// path text is used after the walk, so no rename or link made meanwhile can
// send the content elsewhere. A failure (one of the reasons of target.h, or
// a system failure text) means nothing changed. The file found must be
// `shown`, the one the person was shown (a link may have been turned
// meanwhile). On success gives a warning for the person, usually empty.
Result<std::string> apply_proposal(const Workspace& workspace, std::string_view path,
                                   std::string_view shown, std::string_view before,
                                   std::string_view after);

// Removes the file `path` names beneath `workspace` (resolved anew, with no
// link followed to another file) when it holds exactly `written`; a
// failure of kind kStale when it holds something else or is gone. On
// success gives a warning for the person, usually empty.
Result<std::string> remove_written(const Workspace& workspace, std::string_view path,
                                   std::string_view written);

}  // namespace varnock::review
