// The desk's token, kept across runs in the state directory so that the
// desk's address, and a tab open on it, outlive a restart.
#pragma once

#include <string>

#include "base/result.h"
#include "system/state_dir.h"

namespace varnock::review {

// The file's name in the state directory.
inline constexpr const char kTokenFileName[] = "desk-token";

// The token kept in `directory`: read when the file is there, else a new
// one (desk/token.h) written there (mode 0600, whole or not at all). With
// `rotate`, a new one replaces whatever is there. A file that is not a
// regular file of the user's that only the user may read (mode 0600 or
// 0400), or that does not hold a token, is refused: the failure names the
// file and how to mend it.
Result<std::string> kept_token(const PrivateDirectory& directory, bool rotate);

// The token in `directory`'s file, for a command that talks to a running
// reviewer; the same checks, and nothing is created.
Result<std::string> read_kept_token(const PrivateDirectory& directory);

}  // namespace varnock::review
