// The person's rules: per workspace and path pattern, whether a proposal
// is accepted or rejected without asking, or asked. One rule a line:
//
//   # comment
//   reject .env
//   reject .git/
//   [workspace ~/src/site]
//   accept docs/**
//
// "accept", "reject" or "ask", white space, then a path pattern
// (path_pattern.h), matched against the proposal's target relative to its
// workspace. Rules before the first "[workspace GLOB]" header hold in every
// workspace; those after one, in the workspaces GLOB meets: it is a path
// pattern too, matched against the server's working directory from "/"
// ("~/" at its start is the home directory), so a directory's header holds
// beneath it as well. The first rule that meets a proposal decides; none
// meeting it, it is asked. Trailing white space is dropped unless escaped
// with "\"; "#" starts a comment only at the start of a line.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/result.h"
#include "core/path_pattern.h"

namespace varnock::review {

enum class RuleAction { kAsk, kAccept, kReject };  // rules.cc names them in this order

struct Rule {
  RuleAction action = RuleAction::kAsk;
  std::string pattern;  // as written
  PathPattern path;
  std::size_t header = 0;  // 0: every workspace; else 1 + its index in the headers
  int line = 0;
};

class Rules {
 public:
  // No rules: everything is asked.
  Rules() = default;

  // Reads the rules in `text`; `file` names it in failures, "rules file
  // FILE line N: what is wrong"; `home` stands for "~" in headers.
  static Result<Rules> parse(std::string_view text, const std::string& file, std::string_view home);

  // The first rule that meets `path` (relative to `workspace`, an absolute
  // directory), ask rules included; nullptr when none does. Reads only, so
  // any thread may call it.
  const Rule* find(std::string_view workspace, std::string_view path) const;

  // The header `rule` stands under, as written: "[workspace ~/src/site]";
  // empty for every workspace.
  std::string header_of(const Rule& rule) const;

  const std::string& file() const { return file_; }
  std::size_t size() const { return rules_.size(); }

 private:
  struct Header {
    std::string text;
    PathPattern glob;
  };
  Status add_line(std::string_view line, std::string_view home, int number);
  Status add_header(std::string_view line, std::string_view home);

  std::string file_;
  std::vector<Header> headers_;
  std::vector<Rule> rules_;
};

// The rule as written, "reject .env".
std::string rule_text(const Rule& rule);
// "reject .env (rules line 3)", as the journal and the front ends show it.
std::string describe_rule(const Rule& rule);

// The rules file in use and how many rules it holds, as the reviewer
// announces it at start: "rules /home/you/.config/varnock-review/rules
// (3 rules)"; empty when no file was read.
std::string rules_in_use(const Rules& rules);

// Bytes a rules file may hold.
inline constexpr std::size_t kMaxRulesFile = std::size_t{1} << 20;

// "$XDG_CONFIG_HOME/varnock-review/rules", XDG_CONFIG_HOME defaulting to
// "$HOME/.config"; empty when neither is an absolute path.
std::string default_rules_path();

// The rules in `path` (--rules), or when it is empty in the default file,
// where a file that is not there means no rules. A file that cannot be
// read, is larger than kMaxRulesFile or does not parse is a failure.
Result<Rules> load_rules(const std::string& path);

}  // namespace varnock::review
