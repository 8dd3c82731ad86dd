// The reviewer's directory for what it keeps between runs (the journal, the
// kept texts, the desk's token, where a running reviewer is), and the check
// that a directory there is the user's alone.
#pragma once

#include <string>

#include "base/result.h"
#include "base/unique_fd.h"

namespace varnock::review {

// "$XDG_STATE_HOME/varnock-review", XDG_STATE_HOME defaulting to
// "$HOME/.local/state"; a failure when neither is an absolute path.
Result<std::string> state_directory_path();

// Creates `path` and every missing directory above it, mode 0700; those
// already there are left as they are.
Status make_directories(const std::string& path);

// A directory held open, and its path for messages.
struct PrivateDirectory {
  UniqueFd fd;
  std::string path;
};

// Opens the directory `path`, creating it and its missing parents (mode
// 0700) first; a symbolic link there, or a directory that is not the
// user's or that others may enter, is refused.
Result<PrivateDirectory> open_private_directory(const std::string& path);

// open_private_directory(state_directory_path()).
Result<PrivateDirectory> open_state_directory();

}  // namespace varnock::review
