// "varnock-review rules check WORKSPACE PATH": which of the person's rules a
// path meets, as the reviewer would decide it.
#pragma once

#include <string>

#include "base/result.h"
#include "options.h"

namespace varnock::review {

// What to print: the rule PATH meets in WORKSPACE (the file, its line, the
// rule as written and its header) and what it does, or that it meets none
// and is asked. WORKSPACE is taken as a real path, as a server's is; PATH is
// relative to it (or absolute beneath it), without "..", and is resolved as
// a proposal's would be: a link to a file inside is followed, and a path
// the reviewer would refuse before asking is a failure that says so. The
// rules are those of `rules_file` (--rules), else of the default file. A
// failure says what could not be read or used.
Result<std::string> check_rules(const RulesCheck& check, const std::string& rules_file);

}  // namespace varnock::review
