// The command line of varnock-review.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "base/result.h"
#include "servers/line_limits.h"
#include "system/text_store.h"

namespace varnock::review {

// How proposals are answered: by the person at the terminal, or at once.
enum class AutoAnswer { kNone, kAccept, kReject };

// Where the browser desk listens (--web [HOST:PORT]).
struct WebAddress {
  std::string host = "127.0.0.1";
  std::uint16_t port = 0;  // 0: a free port
};

// "rules check WORKSPACE PATH": which rule PATH meets in WORKSPACE.
struct RulesCheck {
  std::string workspace;
  std::string path;
};

// A command about the reviewer running for this user, instead of serving.
enum class Command { kServe, kStatus, kOpen };

struct ReviewOptions {
  Command command = Command::kServe;  // "status", "open"

  std::string socket_path;  // empty: the per-user default (socket_place.h)
  std::string workspace;    // empty: servers may work anywhere
  std::string journal;      // empty: the default journal (journal.h)
  bool no_journal = false;
  std::string rules;  // --rules FILE; empty: the default file, if there (rules.h)
  std::optional<RulesCheck> rules_check;
  LineLimits limits;
  StoreBounds history;  // of the texts kept beside the journal
  AutoAnswer auto_answer = AutoAnswer::kNone;
  std::optional<WebAddress> web;  // the desk, when asked for
  bool open_browser = false;      // --open
  bool rotate_token = false;      // --rotate-token
  bool web_allow_remote = false;  // --web-allow-remote
  bool notify = false;            // --notify
  bool show_help = false;
  bool show_version = false;
};

// The usage text printed for --help.
extern const std::string_view kUsage;

// Reads the arguments after the program name with getopt_long (so not
// reentrant, and it resets getopt's globals). Accepts "--name value",
// "--name=value" and a long name shortened to a beginning that no other
// option shares; sizes are bytes with an optional K, M or G (binary
// multiples). An unknown option, an operand other than "rules check
// WORKSPACE PATH", "status" or "open" (options may stand before and after
// it; one command at most), a missing value,
// a bad size or a bad --auto answer is a failure whose text says which.
Result<ReviewOptions> parse_options(std::span<const std::string_view> args);

// Reads "HOST:PORT", "[V6]:PORT" or "PORT"; the host is an IP address.
Result<WebAddress> parse_web_address(std::string_view text);

// Reads a size such as "4096", "64K", "320M" or "1G"; nullopt-like failure
// for anything else, zero, or more than fits.
Result<std::size_t> parse_size(std::string_view text);

}  // namespace varnock::review
