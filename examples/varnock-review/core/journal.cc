#include "core/journal.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "base/io.h"
#include "base/os_error.h"
#include "json/value.h"
#include "json/write.h"
#include "system/state_dir.h"

namespace varnock::review {

Result<std::string> default_journal_path() {
  Result<std::string> state = state_directory_path();
  if (!state.ok()) {
    return fail("cannot find a place for the journal: set XDG_STATE_HOME or pass --journal");
  }
  return state.value() + "/journal.jsonl";
}

Result<Journal> Journal::open(const std::string& path) {
  if (const std::size_t slash = path.rfind('/'); slash != 0 && slash != std::string::npos) {
    Status parents = make_directories(path.substr(0, slash));
    if (!parents.ok()) return fail(parents.failure());
  }
  UniqueFd fd(::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600));
  if (!fd.valid()) return fail(system_error("cannot open the journal " + path, errno));
  return Journal(path, std::move(fd));
}

Result<std::uint64_t> Journal::record(const JournalRecord& record) {
  if (!fd_.valid()) return std::uint64_t{0};
  json::Value::Object line;
  line.emplace("time", record.time);
  line.emplace("pid", static_cast<std::int64_t>(record.pid));
  line.emplace("thread_id", record.thread_id);
  line.emplace("workspace", record.workspace);
  line.emplace("path", record.path);
  line.emplace("target", record.target);
  line.emplace("decision", record.decision);
  line.emplace("reason", record.reason);
  if (!record.rule.empty()) line.emplace("rule", record.rule);
  line.emplace("before_bytes", static_cast<std::uint64_t>(record.before_bytes));
  line.emplace("after_bytes", static_cast<std::uint64_t>(record.after_bytes));
  if (!record.before_text.empty()) line.emplace("before_text", record.before_text);
  if (!record.after_text.empty()) line.emplace("after_text", record.after_text);
  if (record.new_file) line.emplace("new_file", true);
  if (record.reverts) line.emplace("reverts", *record.reverts);
  // Hidden characters are written as escapes, so that reading the file
  // (cat, less, an editor) reorders or hides nothing of it.
  const std::string text = json::write(json::Value(std::move(line)), json::Escapes::kHidden) + "\n";
  if (const int error = write_all(fd_.get(), text); error != 0) {
    return fail(system_error("cannot write the journal " + path_, error));
  }
  const off_t end = ::lseek(fd_.get(), 0, SEEK_CUR);  // appending: just past this line
  if (end < 0) return fail(system_error("cannot find the journal's end " + path_, errno));
  return static_cast<std::uint64_t>(end) - text.size();
}

}  // namespace varnock::review
