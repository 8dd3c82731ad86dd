// Applying an accepted proposal to the workspace, or refusing to.
#pragma once

#include <string>
#include <string_view>

#include "base/result.h"
#include "messages.h"

namespace varnock::review {

// Tells the person that the file moved on since the agent's snapshot.
extern const std::string_view kChangedSinceSnapshot;

// Writes `proposal.after` to the file `proposal.path` names, when:
// - the path, resolved against `workspace` (a real path) with its symbolic
//   links followed, stays inside the workspace (target.h), and
// - the file still holds `proposal.before` exactly (a missing file holds ""),
//   so nothing the agent did not see is overwritten.
// Missing parent directories are created and an existing file's mode is
// kept; the write is atomic (atomic_write.h). A failure means the file is as
// it was. On success gives a warning for the person, usually empty.
Result<std::string> apply_replacement(const std::string& workspace, const Proposal& proposal);

}  // namespace varnock::review
