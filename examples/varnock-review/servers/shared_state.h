// What the sessions of one hub share, so that a session needs nothing of
// the hub that owns it: the review core, the settings, the memory budget,
// and who is told when a session has closed.
#pragma once

#include <cstddef>
#include <functional>
#include <string>

#include "core/review_core.h"
#include "servers/line_limits.h"

namespace varnock::review {

struct HubSettings {
  std::string workspace_limit;  // a real path; empty: servers may work anywhere
  LineLimits limits;
};

// Owned by the hub, which closes every session before it goes; a closed
// session touches none of it.
struct SharedState {
  ReviewCore& core;
  HubSettings settings;
  // Whether `more` bytes can still be held within the memory budget.
  std::function<bool(std::size_t more)> within_budget;
  // Told once, when session `number` has closed.
  std::function<void(int number)> session_closed;
};

}  // namespace varnock::review
