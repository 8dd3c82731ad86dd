// The checks made of a proposal before anyone is asked, on a worker thread:
// they read the file it names, which may be large.
#pragma once

#include "core/review_core.h"
#include "system/target.h"

namespace varnock::review {

// Notes hidden characters in the proposal's fields, resolves its target
// beneath `workspace` and compares the file there now with what the agent
// read. Sets `target`, `new_file` and `notices`, or `refusal` (with state
// kRefused and `outcome`). Touches nothing but `proposal` and the file
// system, so any thread may call it.
void check_proposal(QueuedProposal& proposal, const Workspace& workspace);

}  // namespace varnock::review
