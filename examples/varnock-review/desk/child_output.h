// Running a program without a shell and keeping what it prints.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "base/result.h"

namespace varnock::desk {

struct ChildOutput {
  std::string out;  // everything the program wrote to its standard output
  int status = 0;   // its exit status
};

// Runs `args[0]`, found on PATH, with `args` as its arguments and no shell.
// Each of `inputs` is handed to the program as an in-memory file it can
// open by the name "/dev/fd/N", N counting from 3 in the order given (no
// other descriptor of the caller reaches it);
// standard input is /dev/null and standard error is inherited. Fails when
// the program cannot be started or ends by a signal; exit status 127 means
// it was not found.
Result<ChildOutput> run_with_inputs(const std::vector<std::string>& args,
                                    const std::vector<std::string_view>& inputs);

}  // namespace varnock::desk
