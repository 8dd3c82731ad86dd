#include "options.h"

#include <optional>

namespace varnock::review {

const std::string_view kUsage =
    "usage: varnock-review [--socket PATH] [--workspace DIR] [--auto accept|reject]\n"
    "\n"
    "Listens for varnock-mcp servers, shows each proposed edit as a diff with the\n"
    "agent's explanation, and writes it into the workspace when it is accepted.\n"
    "\n"
    "  --socket PATH          socket to listen on (default: per user, under\n"
    "                         $XDG_RUNTIME_DIR or a private directory in /tmp)\n"
    "  --workspace DIR        directory that relative paths are taken against and\n"
    "                         that no edit may leave (default: the working directory)\n"
    "  --auto accept|reject   answer every proposal at once instead of asking\n"
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

// Applies one option that takes a value.
Status set_option(ReviewOptions& options, std::string_view name, std::string_view value) {
  if (value.empty()) return fail(std::string(name) + " needs a non-empty value");
  if (name == "--socket") {
    options.socket_path = value;
  } else if (name == "--workspace") {
    options.workspace = value;
  } else {
    Result<AutoAnswer> answer = parse_auto_answer(value);
    if (!answer.ok()) return fail(answer.failure());
    options.auto_answer = answer.value();
  }
  return {};
}

bool takes_value(std::string_view name) {
  return name == "--socket" || name == "--workspace" || name == "--auto";
}

}  // namespace

Result<ReviewOptions> parse_options(std::span<const std::string_view> args) {
  ReviewOptions options;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const Argument arg = split_argument(args[i]);
    if ((arg.name == "-h" || arg.name == "--help") && !arg.value) {
      options.show_help = true;
      continue;
    }
    if (!takes_value(arg.name)) return fail("unknown option '" + std::string(args[i]) + "'");
    std::optional<std::string_view> value = arg.value;
    if (!value && i + 1 < args.size()) value = args[++i];
    if (!value) return fail(std::string(arg.name) + " needs a value");
    Status set = set_option(options, arg.name, *value);
    if (!set.ok()) return fail(set.failure());
  }
  return options;
}

}  // namespace varnock::review
