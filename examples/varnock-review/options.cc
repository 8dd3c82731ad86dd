#include "options.h"

#include <charconv>
#include <optional>

namespace varnock::review {

const std::string_view kUsage =
    "usage: varnock-review [--socket PATH] [--workspace DIR] [--auto accept|reject]\n"
    "                      [--journal PATH | --no-journal] [--max-line SIZE]\n"
    "                      [--memory-budget SIZE] [--web [HOST:PORT]] [--open]\n"
    "                      [--web-allow-remote] [--version]\n"
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
    "  --max-line SIZE        longest line a server may send (default 320M)\n"
    "  --memory-budget SIZE   bytes held across all servers (default 1G)\n"
    "  --web [HOST:PORT]      serve the review desk in the browser (default: the\n"
    "                         loopback address and a free port) and print its URL;\n"
    "                         without a terminal on standard input, the desk alone\n"
    "                         answers\n"
    "  --open                 open the desk in the default browser (xdg-open)\n"
    "  --web-allow-remote     let --web listen on an address other than loopback:\n"
    "                         the desk then shows proposals and takes answers over\n"
    "                         the network, in plain HTTP, guarded by its token alone\n"
    "  --version              print the version\n"
    "  -h, --help             show this text\n";

namespace {

// Splits "--name=value" into name and value; other arguments have no value.
struct Argument {
  std::string_view name;
  std::optional<std::string_view> value;
};

Argument split_argument(std::string_view arg) {
  const std::size_t equals = arg.find('=');
  if (arg.starts_with("--") && equals != std::string_view::npos) {
    return {arg.substr(0, equals), arg.substr(equals + 1)};
  }
  return {arg, std::nullopt};
}

Result<AutoAnswer> parse_auto_answer(std::string_view text) {
  if (text == "accept") return AutoAnswer::kAccept;
  if (text == "reject") return AutoAnswer::kReject;
  return fail("--auto takes accept or reject, not '" + std::string(text) + "'");
}

Status set_size(std::size_t& size, std::string_view name, std::string_view value) {
  Result<std::size_t> parsed = parse_size(value);
  if (!parsed.ok()) return fail(std::string(name) + ": " + parsed.failure());
  size = parsed.value();
  return {};
}

// Applies one option that takes a value.
Status set_option(ReviewOptions& options, std::string_view name, std::string_view value) {
  if (value.empty()) return fail(std::string(name) + " needs a non-empty value");
  if (name == "--socket") {
    options.socket_path = value;
  } else if (name == "--workspace") {
    options.workspace = value;
  } else if (name == "--journal") {
    options.journal = value;
  } else if (name == "--max-line") {
    return set_size(options.limits.max_line, name, value);
  } else if (name == "--memory-budget") {
    return set_size(options.limits.memory_budget, name, value);
  } else {
    Result<AutoAnswer> answer = parse_auto_answer(value);
    if (!answer.ok()) return fail(answer.failure());
    options.auto_answer = answer.value();
  }
  return {};
}

bool takes_value(std::string_view name) {
  return name == "--socket" || name == "--workspace" || name == "--auto" || name == "--journal" ||
         name == "--max-line" || name == "--memory-budget";
}

// Options without a value; false when `name` is not one.
bool set_flag(ReviewOptions& options, std::string_view name) {
  if (name == "-h" || name == "--help") return options.show_help = true;
  if (name == "--version") return options.show_version = true;
  if (name == "--no-journal") return options.no_journal = true;
  if (name == "--open") return options.open_browser = true;
  if (name == "--web-allow-remote") return options.web_allow_remote = true;
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
// next argument that is not an option.
Status set_web(ReviewOptions& options, const Argument& arg, std::span<const std::string_view> args,
               std::size_t& i) {
  std::optional<std::string_view> value = arg.value;
  if (!value && i + 1 < args.size() && !args[i + 1].starts_with("-")) value = args[++i];
  if (!value) {
    options.web = WebAddress{};
    return {};
  }
  Result<WebAddress> address = parse_web_address(*value);
  if (!address.ok()) return fail(address.failure());
  options.web = address.value();
  return {};
}

}  // namespace

Result<ReviewOptions> parse_options(std::span<const std::string_view> args) {
  ReviewOptions options;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const Argument arg = split_argument(args[i]);
    if (!arg.value && set_flag(options, arg.name)) continue;
    if (arg.name == "--web") {
      if (Status set = set_web(options, arg, args, i); !set.ok()) return fail(set.failure());
      continue;
    }
    if (!takes_value(arg.name)) return fail("unknown option '" + std::string(args[i]) + "'");
    std::optional<std::string_view> value = arg.value;
    if (!value && i + 1 < args.size()) value = args[++i];
    if (!value) return fail(std::string(arg.name) + " needs a value");
    Status set = set_option(options, arg.name, *value);
    if (!set.ok()) return fail(set.failure());
  }
  if (options.no_journal && !options.journal.empty()) {
    return fail("--journal and --no-journal exclude each other");
  }
  if ((options.open_browser || options.web_allow_remote) && !options.web) {
    return fail("--open and --web-allow-remote go with --web");
  }
  return options;
}

}  // namespace varnock::review
