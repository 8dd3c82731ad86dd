#include "rules_check.h"

#include <cerrno>
#include <cstdlib>
#include <memory>

#include "base/os_error.h"
#include "core/rules.h"
#include "core/visible_text.h"
#include "system/target.h"

namespace varnock::review {
namespace {

Result<std::string> real_path(const std::string& given) {
  std::unique_ptr<char, decltype(&std::free)> real(::realpath(given.c_str(), nullptr), &std::free);
  if (!real) return fail(system_error("cannot use the workspace " + given, errno));
  return std::string(real.get());
}

// `path` relative to `workspace` as a proposal's target names it: no empty
// or "." parts, no "..".
Result<std::string> relative_path(const std::string& workspace, std::string_view path) {
  if (path.starts_with('/')) {
    if (!path.starts_with(workspace + "/"))
      return fail(std::string(path) + " is not beneath " + workspace);
    path.remove_prefix(workspace.size() + 1);
  }
  std::string out;
  for (std::size_t begin = 0; begin <= path.size();) {
    std::size_t end = path.find('/', begin);
    if (end == std::string_view::npos) end = path.size();
    const std::string_view part = path.substr(begin, end - begin);
    begin = end + 1;
    if (part == "..") return fail("give the path without '..': it is matched as written");
    if (part.empty() || part == ".") continue;
    out.append(out.empty() ? "" : "/").append(part);
  }
  if (out.empty()) return fail("the path names no file in the workspace");
  return out;
}

// `path` as the reviewer would take a proposal's: resolved beneath the
// workspace, a link as its last part followed when it stays inside.
Result<std::string> resolved_target(const std::string& workspace, const std::string& path) {
  Result<Workspace> opened = open_workspace_at(workspace);
  if (!opened.ok()) return fail(opened.failure());
  Result<Target> target = resolve_target(opened.value(), path);
  if (!target.ok()) {
    return fail(visible_name(path).text +
                " would be refused before asking: " + visible_name(target.failure()).text);
  }
  return std::move(target.value().shown);
}

std::string_view verdict(RuleAction action) {
  if (action == RuleAction::kAsk) return "It is asked";
  return action == RuleAction::kAccept ? "It is accepted without asking"
                                       : "It is rejected without asking";
}

}  // namespace

Result<std::string> check_rules(const RulesCheck& check, const std::string& rules_file) {
  Result<Rules> rules = load_rules(rules_file);
  if (!rules.ok()) return fail(rules.failure());
  Result<std::string> workspace = real_path(check.workspace);
  if (!workspace.ok()) return fail(workspace.failure());
  Result<std::string> given = relative_path(workspace.value(), check.path);
  if (!given.ok()) return fail(given.failure());
  Result<std::string> path = resolved_target(workspace.value(), given.value());
  if (!path.ok()) return fail(path.failure());
  std::string out;
  if (path.value() != given.value()) {
    out = visible_name(given.value()).text + " leads to " + visible_name(path.value()).text + ".\n";
  }
  out += visible_name(path.value()).text + " in " + visible_name(workspace.value()).text;
  const Rules& known = rules.value();
  const Rule* rule = known.find(workspace.value(), path.value());
  if (rule == nullptr) {
    out += known.file().empty() ? " meets no rule: there is no rules file (" : " meets no rule in ";
    out += visible_name(known.file().empty() ? default_rules_path() : known.file()).text;
    return out + (known.file().empty() ? ").\n" : ".\n") + "It is asked.\n";
  }
  out += " meets " + visible_name(known.file()).text + " line " + std::to_string(rule->line) + ": ";
  out += visible_name(rule_text(*rule)).text + "\n";
  if (const std::string header = known.header_of(*rule); !header.empty()) {
    out += "  (under " + visible_name(header).text + ")\n";
  }
  return out + std::string(verdict(rule->action)) + ".\n";
}

}  // namespace varnock::review
