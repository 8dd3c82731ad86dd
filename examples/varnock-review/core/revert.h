// Undoing an accepted edit: the file gets back what it held before.
#pragma once

#include <string>

#include "base/result.h"
#include "core/past_decisions.h"
#include "system/text_store.h"

namespace varnock::review {

// Why a revert is refused when the file moved on since the edit.
inline constexpr std::string_view kChangedSinceWritten =
    "the file has changed since the edit was written";

// Writes back the text the file held before the accepted edit `decision`,
// with the same race-free apply as the edit itself, only when the file
// still holds exactly what the edit wrote; a file the edit created is
// removed. The texts come from `store`; the workspace is opened anew by
// its name. A warning for the person (usually empty), or why nothing
// changed. Any thread may call it.
Result<std::string> revert_decision(const PastDecision& decision, const TextStore& store);

}  // namespace varnock::review
