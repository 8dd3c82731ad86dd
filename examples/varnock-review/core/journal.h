// The history of decisions, one JSON line per decision appended to a file
// that only the user can read.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "base/result.h"
#include "base/unique_fd.h"

namespace varnock::review {

// One decision as journalled: {"after_bytes", "after_text", "before_bytes",
// "before_text", "decision", "new_file", "path", "pid", "reason", "reverts",
// "target", "thread_id", "time", "workspace"}, and "rule" when a rule made
// the decision. A decision's entry, which names it, is the offset of its
// line in the file.
struct JournalRecord {
  std::string_view time;  // UTC, "2026-12-07T03:04:05Z"
  pid_t pid = 0;
  std::string_view thread_id;
  std::string_view workspace;
  std::string_view path;
  std::string_view target;
  std::string_view decision;  // "accepted", "rejected", "refused" or "withdrawn"
  std::string_view reason;    // why, when not accepted
  std::size_t before_bytes = 0;
  std::size_t after_bytes = 0;
  // The names the texts are kept under (text_store.h); left out when empty.
  std::string_view before_text;
  std::string_view after_text;
  bool new_file = false;  // written only when true
  // For a revert: the entry of the decision it undid.
  std::optional<std::uint64_t> reverts;
  // The rule that decided, as describe_rule() writes it; else empty.
  std::string_view rule = {};
};

// "$XDG_STATE_HOME/varnock-review/journal.jsonl", XDG_STATE_HOME defaulting
// to "$HOME/.local/state"; a failure when neither is an absolute path.
Result<std::string> default_journal_path();

class Journal {
 public:
  // A journal that records nothing (--no-journal).
  Journal() = default;

  // Opens `path` for appending, creating it with mode 0600 and its missing
  // parent directories with mode 0700. A symbolic link at `path` is refused.
  static Result<Journal> open(const std::string& path);

  // Appends one line and gives its entry (0 for a journal that records
  // nothing). The characters the screen escapes are \u escapes in its strings, so the
  // file holds none of them raw and a JSON reader gets the texts back.
  // A failure to write is given back for the person; the decision stands.
  Result<std::uint64_t> record(const JournalRecord& record);

  const std::string& path() const { return path_; }

 private:
  Journal(std::string path, UniqueFd fd) : path_(std::move(path)), fd_(std::move(fd)) {}

  std::string path_;
  UniqueFd fd_;
};

}  // namespace varnock::review
