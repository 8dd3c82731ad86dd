#include "options.h"

#include <getopt.h>

#include <algorithm>
#include <array>
#include <charconv>
#include <chrono>
#include <optional>
#include <vector>

namespace varnock::review {

const std::string_view kUsage =
    "usage: varnock-review [--socket PATH] [--workspace DIR] [--auto accept|reject]\n"
    "                      [--journal PATH | --no-journal] [--history-size SIZE]\n"
    "                      [--history-days DAYS] [--max-line SIZE]\n"
    "                      [--memory-budget SIZE] [--web [HOST:PORT]] [--open]\n"
    "                      [--web-allow-remote] [--rotate-token] [--notify]\n"
    "                      [--rules FILE] [--version]\n"
    "       varnock-review rules check WORKSPACE PATH [--rules FILE]\n"
    "       varnock-review status\n"
    "       varnock-review open\n"
    "\n"
    "Listens for varnock-mcp servers, shows each proposed edit as a diff with the\n"
    "agent's explanation, and writes it into the directory that server works in\n"
    "when it is accepted. One reviewer serves servers in any number of projects.\n"
    "\n"
    "  --socket PATH          socket to listen on (default: per user, under\n"
    "                         $XDG_RUNTIME_DIR or a private directory in /tmp)\n"
    "  --workspace DIR        serve only servers working in DIR or below it\n"
    "  --auto accept|reject   answer every proposal at once instead of asking\n"
    "  --journal PATH         append each decision to PATH as a JSON line (default:\n"
    "                         $XDG_STATE_HOME/varnock-review/journal.jsonl)\n"
    "  --no-journal           keep no journal\n"
    "  --history-size SIZE    bytes of past texts kept beside the journal for the\n"
    "                         history and reverts, oldest pruned first (default 1G)\n"
    "  --history-days DAYS    prune kept texts unused for DAYS days (default 30)\n"
    "  --rules FILE           accept, reject or ask by workspace and path pattern\n"
    "                         (default: $XDG_CONFIG_HOME/varnock-review/rules, if\n"
    "                         there); the first rule that meets a path decides\n"
    "  --max-line SIZE        longest line a server may send (default 320M)\n"
    "  --memory-budget SIZE   bytes held across all servers (default 1G)\n"
    "  --web [HOST:PORT]      serve the review desk in the browser (default: the\n"
    "                         loopback address and a free port) and print its URL;\n"
    "                         without a terminal on standard input, the desk alone\n"
    "                         answers. Its token is kept in\n"
    "                         $XDG_STATE_HOME/varnock-review/desk-token, so with a\n"
    "                         fixed PORT the address stays across restarts\n"
    "  --open                 open the desk in the default browser (xdg-open)\n"
    "  --rotate-token         give the desk a new token (replacing the kept one)\n"
    "  --web-allow-remote     let --web listen on an address other than loopback:\n"
    "                         the desk then shows proposals and takes answers over\n"
    "                         the network, in plain HTTP, guarded by its token alone\n"
    "  --notify               announce each proposal that waits as a desktop\n"
    "                         notification (the project, the file and its size)\n"
    "  --version              print the version\n"
    "  -h, --help             show this text\n"
    "\n"
    "rules check WORKSPACE PATH prints the rule that PATH (relative to WORKSPACE)\n"
    "meets, or that it meets none and is asked.\n"
    "status says whether a reviewer runs for you, where its socket and desk are\n"
    "and how many proposals wait; it exits with 3 when none runs.\n"
    "open opens the running reviewer's desk in the default browser.\n";

namespace {

// What getopt_long answers for each option; -h and --help share 'h'.
enum OptionId : int {
  kSocket = 256,
  kWorkspace,
  kAuto,
  kJournal,
  kMaxLine,
  kMemoryBudget,
  kWeb,
  kNoJournal,
  kOpen,
  kWebAllowRemote,
  kNotify,
  kVersion,
  kRules,
  kHistorySize,
  kHistoryDays,
  kRotateToken,
  kHelp = 'h',
};

constexpr std::array<option, 18> kLongOptions{{
    {"socket", required_argument, nullptr, kSocket},
    {"workspace", required_argument, nullptr, kWorkspace},
    {"auto", required_argument, nullptr, kAuto},
    {"journal", required_argument, nullptr, kJournal},
    {"max-line", required_argument, nullptr, kMaxLine},
    {"memory-budget", required_argument, nullptr, kMemoryBudget},
    {"web", optional_argument, nullptr, kWeb},
    {"no-journal", no_argument, nullptr, kNoJournal},
    {"open", no_argument, nullptr, kOpen},
    {"web-allow-remote", no_argument, nullptr, kWebAllowRemote},
    {"notify", no_argument, nullptr, kNotify},
    {"version", no_argument, nullptr, kVersion},
    {"rules", required_argument, nullptr, kRules},
    {"history-size", required_argument, nullptr, kHistorySize},
    {"history-days", required_argument, nullptr, kHistoryDays},
    {"rotate-token", no_argument, nullptr, kRotateToken},
    {"help", no_argument, nullptr, kHelp},
    {nullptr, 0, nullptr, 0},
}};

// '+': stop at the first argument that is not an option, so that --web may
// take the next one; ':': answer ':' for a missing value.
constexpr const char* kShortOptions = "+:h";

// "--name" of the option getopt_long answers `id` for.
std::string option_name(int id) {
  std::string name = "-";
  for (const option& known : kLongOptions) {
    if (known.name != nullptr && known.val == id) return name.append("-").append(known.name);
  }
  return name.append(1, static_cast<char>(id));
}

// The arguments as getopt_long takes them: a program name, then each
// argument as a C string. Neither copied nor moved: the pointers lead into
// the strings.
class ArgumentVector {
 public:
  explicit ArgumentVector(std::span<const std::string_view> args) {
    strings_.emplace_back("varnock-review");
    strings_.insert(strings_.end(), args.begin(), args.end());
    for (std::string& text : strings_) pointers_.push_back(text.data());
    pointers_.push_back(nullptr);
  }
  ArgumentVector(const ArgumentVector&) = delete;
  ArgumentVector& operator=(const ArgumentVector&) = delete;

  int size() const { return static_cast<int>(strings_.size()); }
  char** data() { return pointers_.data(); }
  std::string_view at(int index) const { return strings_.at(static_cast<std::size_t>(index)); }

 private:
  std::vector<std::string> strings_;
  std::vector<char*> pointers_;
};

Failure unknown_option(std::string_view arg) {
  return fail("unknown option '" + std::string(arg) + "'");
}

Result<AutoAnswer> parse_auto_answer(std::string_view text) {
  if (text == "accept") return AutoAnswer::kAccept;
  if (text == "reject") return AutoAnswer::kReject;
  return fail("--auto takes accept or reject, not '" + std::string(text) + "'");
}

Status set_size(std::size_t& size, int id, std::string_view value) {
  Result<std::size_t> parsed = parse_size(value);
  if (!parsed.ok()) return fail(option_name(id) + ": " + parsed.failure());
  size = parsed.value();
  return {};
}

// A whole number of days from 1 to 100 years' worth.
Status set_days(std::chrono::seconds& age, std::string_view value) {
  int days = 0;
  const auto [end, error] = std::from_chars(value.data(), value.data() + value.size(), days);
  if (error != std::errc() || end != value.data() + value.size() || days < 1 || days > 36500) {
    return fail("--history-days takes a number of days from 1 to 36500, not '" +
                std::string(value) + "'");
  }
  age = std::chrono::hours(24) * days;
  return {};
}

// Applies one option that takes a value.
Status set_option(ReviewOptions& options, int id, std::string_view value) {
  if (value.empty()) return fail(option_name(id) + " needs a non-empty value");
  if (id == kSocket) {
    options.socket_path = value;
  } else if (id == kWorkspace) {
    options.workspace = value;
  } else if (id == kJournal) {
    options.journal = value;
  } else if (id == kRules) {
    options.rules = value;
  } else if (id == kMaxLine) {
    return set_size(options.limits.max_line, id, value);
  } else if (id == kMemoryBudget) {
    return set_size(options.limits.memory_budget, id, value);
  } else if (id == kHistorySize) {
    std::size_t bytes = 0;
    if (Status set = set_size(bytes, id, value); !set.ok()) return set;
    options.history.max_bytes = bytes;
  } else if (id == kHistoryDays) {
    return set_days(options.history.max_age, value);
  } else {
    Result<AutoAnswer> answer = parse_auto_answer(value);
    if (!answer.ok()) return fail(answer.failure());
    options.auto_answer = answer.value();
  }
  return {};
}

// Options without a value; false when `id` is not one.
bool set_flag(ReviewOptions& options, int id) {
  if (id == kHelp) return options.show_help = true;
  if (id == kVersion) return options.show_version = true;
  if (id == kNoJournal) return options.no_journal = true;
  if (id == kOpen) return options.open_browser = true;
  if (id == kWebAllowRemote) return options.web_allow_remote = true;
  if (id == kNotify) return options.notify = true;
  if (id == kRotateToken) return options.rotate_token = true;
  return false;
}

}  // namespace

Result<std::size_t> parse_size(std::string_view text) {
  std::size_t number = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), number);
  const std::string_view suffix(end, static_cast<std::size_t>(text.data() + text.size() - end));
  int shift = 0;
  if (suffix == "K") shift = 10;
  if (suffix == "M") shift = 20;
  if (suffix == "G") shift = 30;
  const bool known = suffix.empty() || shift != 0;
  if (error != std::errc() || !known || number == 0 || number > (SIZE_MAX >> shift)) {
    std::string message(1, '\'');
    message.append(text);
    message.append("' is not a size (bytes, or a number with K, M or G)");
    return fail(std::move(message));
  }
  return number << shift;
}

Result<WebAddress> parse_web_address(std::string_view text) {
  const std::size_t colon = text.rfind(':');
  std::string_view host = colon == std::string_view::npos ? "" : text.substr(0, colon);
  const std::string_view port = colon == std::string_view::npos ? text : text.substr(colon + 1);
  if (host.size() >= 2 && host.front() == '[' && host.back() == ']') {
    host = host.substr(1, host.size() - 2);
  }
  WebAddress address;
  if (!host.empty()) address.host = host;
  const auto [end, error] = std::from_chars(port.data(), port.data() + port.size(), address.port);
  if (port.empty() || error != std::errc() || end != port.data() + port.size()) {
    return fail("--web takes HOST:PORT or PORT, not '" + std::string(text) + "'");
  }
  return address;
}

namespace {

// "--web", with its address when one is given as "--web=ADDR" or as the
// next argument that is not an option, which it then consumes.
Status set_web(ReviewOptions& options, const ArgumentVector& argv) {
  std::optional<std::string_view> value;
  if (optarg != nullptr) value = optarg;
  if (!value && optind < argv.size() && !argv.at(optind).starts_with("-"))
    value = argv.at(optind++);
  if (!value) {
    options.web = WebAddress{};
    return {};
  }
  Result<WebAddress> address = parse_web_address(*value);
  if (!address.ok()) return fail(address.failure());
  options.web = address.value();
  return {};
}

// Applies what getopt_long answered for the argument at `at`.
Status apply(ReviewOptions& options, int id, const ArgumentVector& argv, int at) {
  if (id == '?') return unknown_option(argv.at(at));
  if (id == ':') return fail(option_name(optopt) + " needs a value");
  if (id == kWeb) return set_web(options, argv);
  if (set_flag(options, id)) return {};
  return set_option(options, id, optarg);
}

constexpr std::string_view kRulesUsage = "the rules command is: rules check WORKSPACE PATH";

// "rules check" at `at`; getopt_long goes on after it, and the next two
// operands, among the options or after them, are WORKSPACE and PATH.
Status take_rules_check(ReviewOptions& options, const ArgumentVector& argv, int at) {
  if (options.rules_check || options.command != Command::kServe) {
    return fail("give one command at most");
  }
  if (at + 1 >= argv.size() || argv.at(at + 1) != "check") return fail(std::string(kRulesUsage));
  options.rules_check = RulesCheck{};
  optind = at + 2;
  return {};
}

// Whether `operand` at `at` is the WORKSPACE or PATH "rules check" still
// waits for; it is taken then.
bool take_rules_operand(ReviewOptions& options, std::string_view operand, int at) {
  RulesCheck* check = options.rules_check ? &*options.rules_check : nullptr;
  if (check == nullptr || !check->path.empty() || operand == "--") return false;
  (check->workspace.empty() ? check->workspace : check->path) = operand;
  optind = at + 1;
  return true;
}

// "status" or "open" at `at`, the only command.
Status take_command(ReviewOptions& options, const ArgumentVector& argv, int at) {
  if (options.rules_check || options.command != Command::kServe) {
    return fail("give one command at most");
  }
  options.command = argv.at(at) == "status" ? Command::kStatus : Command::kOpen;
  optind = at + 1;
  return {};
}

Result<ReviewOptions> check_together(const ReviewOptions& options) {
  if (options.rules_check && options.rules_check->path.empty())
    return fail(std::string(kRulesUsage));
  if (options.no_journal && !options.journal.empty()) {
    return fail("--journal and --no-journal exclude each other");
  }
  if (options.notify && options.auto_answer != AutoAnswer::kNone) {
    return fail("--notify has nothing to announce with --auto");
  }
  if ((options.open_browser || options.web_allow_remote || options.rotate_token) && !options.web) {
    return fail("--open, --web-allow-remote and --rotate-token go with --web");
  }
  return options;
}

}  // namespace

// getopt_long keeps its place in globals: optind = 0 starts it afresh (GNU),
// opterr = 0 leaves the wording of failures to us. An argument that is not
// an option ends the options and is refused, and so is "--", as the
// reviewer takes no operands.
Result<ReviewOptions> parse_options(std::span<const std::string_view> args) {
  ArgumentVector argv(args);
  ReviewOptions options;
  optind = 0;
  opterr = 0;
  for (;;) {
    // The argument getopt_long reads next (optind is 0 only before the
    // first call); at the end, the operand or "--" it stopped at, if any.
    const int at = std::max(optind, 1);
    const int id =
        getopt_long(argv.size(), argv.data(), kShortOptions, kLongOptions.data(), nullptr);
    const std::string_view operand = id == -1 && at < argv.size() ? argv.at(at) : "";
    if (!operand.empty() && take_rules_operand(options, operand, at)) continue;
    if (operand == "rules" || operand == "status" || operand == "open") {
      Status taken = operand == "rules" ? take_rules_check(options, argv, at)
                                        : take_command(options, argv, at);
      if (!taken.ok()) return fail(taken.failure());
      continue;
    }
    if (id == -1) {
      if (at < argv.size()) return unknown_option(argv.at(at));
      return check_together(options);
    }
    if (Status applied = apply(options, id, argv, at); !applied.ok())
      return fail(applied.failure());
  }
}

}  // namespace varnock::review
