// The proposals the desk fixture can queue, by name.
#pragma once

#include <string>
#include <vector>

namespace varnock::desk {

struct Script {
  std::string path;
  std::string target;  // "" when the same as path
  std::string before;
  std::string after;
  std::string explanation;
  std::vector<std::string> notices;
};

// From bench/desk/scripts.json: "realistic", a small edit to a C file
// explained with a Markdown table; "second-server", a small edit (the
// fixture gives it another server). Made here: "big", a 10 MiB text with
// 1 % of its lines changed.
// Any other name gives an empty new file.
Script scripted_proposal(const std::string& name);

}  // namespace varnock::desk
