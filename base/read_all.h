// Reading a descriptor to its end with a bound on what is held.
#pragma once

#include <cstddef>
#include <limits>
#include <string>

#include "base/result.h"

namespace varnock {

// For a reader whose data is bounded elsewhere (a child's output).
constexpr std::size_t kNoLimit = std::numeric_limits<std::size_t>::max();

// Every byte `fd` gives from where it stands to its end, reading no more than
// `limit` + 1 bytes. Fails with kind kTooLarge when there are more than
// `limit`: before reading anything when `fd` is a regular file whose size
// (fstat) says so, else once the byte past `limit` has been read. For a
// regular file, `fd` stands at its start (as opened), since its size counts
// from there. Below the limit the size is only a hint: a file that claims
// nothing (most of /proc) is read on to its end, one that grows or shrinks
// meanwhile gives what the reads found. A read error, a descriptor that
// would block included, fails with its text (kind kOther). Holds no state
// of its own, so any thread may call it.
Result<std::string> read_all(int fd, std::size_t limit);

}  // namespace varnock
