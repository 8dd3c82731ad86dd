#include "core/rules.h"

#include <fcntl.h>

#include <array>
#include <cerrno>
#include <cstdlib>

#include "base/line_reader.h"
#include "base/os_error.h"
#include "base/read_all.h"
#include "base/unique_fd.h"
#include "core/visible_text.h"

namespace varnock::review {
namespace {

constexpr std::string_view kBlank = " \t";

std::string_view trim_front(std::string_view text) {
  const std::size_t start = text.find_first_not_of(kBlank);
  return start == std::string_view::npos ? std::string_view() : text.substr(start);
}

// Drops trailing blanks, but not one escaped with "\".
std::string_view trim_back(std::string_view text) {
  while (!text.empty() && kBlank.find(text.back()) != std::string_view::npos &&
         !(text.size() >= 2 && text[text.size() - 2] == '\\')) {
    text.remove_suffix(1);
  }
  return text;
}

std::string_view without_trailing_slash(std::string_view text) {
  while (text.ends_with('/')) text.remove_suffix(1);
  return text;
}

std::optional<RuleAction> read_action(std::string_view word) {
  if (word == "accept") return RuleAction::kAccept;
  if (word == "reject") return RuleAction::kReject;
  if (word == "ask") return RuleAction::kAsk;
  return std::nullopt;
}

// In the order of RuleAction.
constexpr std::array<std::string_view, 3> kActionWords{"ask", "accept", "reject"};

std::string_view action_word(RuleAction action) {
  return kActionWords.at(static_cast<std::size_t>(action));
}

const char* absolute_env(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr && value[0] == '/' ? value : nullptr;
}

}  // namespace

Result<Rules> Rules::parse(std::string_view text, const std::string& file, std::string_view home) {
  Rules rules;
  rules.file_ = file;
  std::string_view rest = text;
  for (int number = 1; !rest.empty(); ++number) {
    std::string_view line = cut_line(rest);
    if (line.ends_with('\n')) line.remove_suffix(1);
    if (line.ends_with('\r')) line.remove_suffix(1);
    Status added = rules.add_line(line, home, number);
    if (!added.ok()) {
      return fail(visible_name("rules file " + file + " line " + std::to_string(number) + ": " +
                               added.failure())
                      .text);
    }
  }
  return rules;
}

Status Rules::add_line(std::string_view line, std::string_view home, int number) {
  line = trim_back(trim_front(line));
  if (line.empty() || line.starts_with('#')) return {};
  if (line.starts_with('[')) return add_header(line, home);
  const std::size_t gap = line.find_first_of(kBlank);
  const std::string_view word = line.substr(0, gap);
  const std::optional<RuleAction> action = read_action(word);
  if (!action) {
    std::string text(1, '\'');
    text.append(word).append("' is not a rule: a rule is accept, reject or ask, then a pattern");
    return fail(std::move(text));
  }
  const std::string_view pattern =
      gap == std::string_view::npos ? "" : trim_front(line.substr(gap));
  if (pattern.empty()) return fail(std::string(word) + " needs a path pattern after it");
  Result<PathPattern> path = PathPattern::compile(pattern);
  if (!path.ok()) return fail(std::string(pattern) + ": " + path.failure());
  rules_.push_back(
      Rule{*action, std::string(pattern), std::move(path).value(), headers_.size(), number});
  return {};
}

Status Rules::add_header(std::string_view line, std::string_view home) {
  constexpr std::string_view kWord = "[workspace";
  if (!line.ends_with(']') || !line.starts_with(kWord) || line.size() == kWord.size() + 1 ||
      kBlank.find(line[kWord.size()]) == std::string_view::npos) {
    return fail("a header is [workspace GLOB]");
  }
  const std::string_view written =
      trim_back(trim_front(line.substr(kWord.size(), line.size() - kWord.size() - 1)));
  // A workspace is a directory: "site/" means what "site" does.
  std::string glob(without_trailing_slash(written));
  if (written.starts_with("~/")) {
    if (home.empty()) return fail("~ stands for the home directory, and HOME is not set");
    glob = std::string(home) + glob.substr(1);
  }
  Result<PathPattern> pattern = PathPattern::compile(glob);
  if (!pattern.ok()) return fail(std::string(written) + ": " + pattern.failure());
  headers_.push_back(Header{std::string(line), std::move(pattern).value()});
  return {};
}

// Each header is matched once, when a rule under it is first tried.
const Rule* Rules::find(std::string_view workspace, std::string_view path) const {
  if (workspace.starts_with('/')) workspace.remove_prefix(1);
  std::vector<char> holds(headers_.size() + 1, -1);
  holds[0] = 1;
  for (const Rule& rule : rules_) {
    char& here = holds[rule.header];
    if (here < 0) here = headers_[rule.header - 1].glob.meets(workspace) ? 1 : 0;
    if (here == 1 && rule.path.meets(path)) return &rule;
  }
  return nullptr;
}

std::string Rules::header_of(const Rule& rule) const {
  return rule.header == 0 ? std::string() : headers_[rule.header - 1].text;
}

std::string rule_text(const Rule& rule) {
  return std::string(action_word(rule.action)) + " " + rule.pattern;
}

std::string describe_rule(const Rule& rule) {
  return rule_text(rule) + " (rules line " + std::to_string(rule.line) + ")";
}

std::string rules_in_use(const Rules& rules) {
  if (rules.file().empty()) return "";
  const std::size_t count = rules.size();
  return "rules " + visible_name(rules.file()).text + " (" + std::to_string(count) +
         (count == 1 ? " rule)" : " rules)");
}

std::string default_rules_path() {
  if (const char* xdg = absolute_env("XDG_CONFIG_HOME")) {
    return std::string(xdg) + "/varnock-review/rules";
  }
  if (const char* home = absolute_env("HOME")) {
    return std::string(home) + "/.config/varnock-review/rules";
  }
  return "";
}

Result<Rules> load_rules(const std::string& given) {
  const std::string path = given.empty() ? default_rules_path() : given;
  if (path.empty()) return Rules();
  UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (!fd.valid() && errno == ENOENT && given.empty()) return Rules();
  if (!fd.valid()) return fail(system_error("cannot read the rules file " + path, errno));
  Result<std::string> text = read_all(fd.get(), kMaxRulesFile);
  if (!text.ok() && text.kind() == FailureKind::kTooLarge) {
    return fail("rules file " + path + " is larger than " + std::to_string(kMaxRulesFile) +
                " bytes");
  }
  if (!text.ok()) return fail("cannot read the rules file " + path + ": " + text.failure());
  const char* home = absolute_env("HOME");
  return Rules::parse(text.value(), path, home == nullptr ? "" : home);
}

}  // namespace varnock::review
