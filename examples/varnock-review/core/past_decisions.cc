#include "core/past_decisions.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <optional>
#include <set>

#include "base/os_error.h"
#include "base/unique_fd.h"
#include "json/parse.h"

namespace varnock::review {
namespace {

// The longest journal line read back: a decision's fields are short.
constexpr std::size_t kMaxLine = std::size_t{1} << 20;

std::string text_member(const json::Value::Object& line, std::string_view name) {
  auto found = line.find(name);
  return found != line.end() && found->second.is_string() ? found->second.as_string() : "";
}

std::optional<std::uint64_t> unsigned_member(const json::Value::Object& line,
                                             std::string_view name) {
  auto found = line.find(name);
  if (found == line.end() || found->second.kind() != json::Value::Kind::kUnsigned) return {};
  return found->second.as_unsigned();
}

Result<UniqueFd> open_journal(const std::string& journal) {
  UniqueFd fd(::open(journal.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
  if (!fd.valid()) return fail(system_error("cannot read the journal " + journal, errno));
  return fd;
}

// Up to `size` bytes of the file from `offset`.
Result<std::string> read_at(int fd, std::uint64_t offset, std::size_t size) {
  std::string bytes(size, '\0');
  const ssize_t count = ::pread(fd, bytes.data(), size, static_cast<off_t>(offset));
  if (count < 0) return fail(system_error("cannot read the journal", errno));
  bytes.resize(static_cast<std::size_t>(count));
  return bytes;
}

bool matches(const PastDecision& decision, std::string_view search) {
  for (const std::string* field : {&decision.path, &decision.target, &decision.workspace}) {
    if (field->find(search) != std::string::npos) return true;
  }
  return false;
}

}  // namespace

Result<PastDecision> parse_past_decision(std::string_view line, std::uint64_t entry) {
  Result<json::Value> value = json::parse(line);
  if (!value.ok() || !value.value().is_object()) return fail("not a journal line");
  const json::Value::Object& members = value.value().as_object();
  PastDecision decision;
  decision.entry = entry;
  decision.decision = text_member(members, "decision");
  if (decision.decision.empty()) return fail("not a journal line");
  decision.time = text_member(members, "time");
  decision.workspace = text_member(members, "workspace");
  decision.path = text_member(members, "path");
  decision.target = text_member(members, "target");
  decision.reason = text_member(members, "reason");
  decision.before_text = text_member(members, "before_text");
  decision.after_text = text_member(members, "after_text");
  decision.rule = text_member(members, "rule");
  auto new_file = members.find("new_file");
  decision.new_file = new_file != members.end() && new_file->second.is_bool() &&
                      new_file->second.as_bool();
  decision.reverts = unsigned_member(members, "reverts");
  decision.before_bytes = unsigned_member(members, "before_bytes").value_or(0);
  decision.after_bytes = unsigned_member(members, "after_bytes").value_or(0);
  return decision;
}

Result<std::vector<PastDecision>> read_past_decisions(const std::string& journal,
                                                      std::string_view search, std::size_t limit) {
  Result<UniqueFd> fd = open_journal(journal);
  if (!fd.ok()) return fail(fd.failure());
  struct stat st;
  if (::fstat(fd.value().get(), &st) != 0) return fail(system_error("cannot read " + journal, errno));
  const auto size = static_cast<std::uint64_t>(st.st_size);
  const std::uint64_t start = size > kHistoryTail ? size - kHistoryTail : 0;
  Result<std::string> tail = read_at(fd.value().get(), start, size - start);
  if (!tail.ok()) return fail(tail.failure());
  const std::string& bytes = tail.value();
  std::vector<PastDecision> decisions;
  std::set<std::uint64_t> undone;  // entries the reverts read so far undid
  // Lines from the last; one cut by the start of the tail is left out.
  std::size_t end = bytes.size();
  while (end > 0 && decisions.size() < limit) {
    const std::size_t newline = end >= 2 ? bytes.rfind('\n', end - 2) : std::string::npos;
    const std::size_t begin = newline == std::string::npos ? 0 : newline + 1;
    if (begin > 0 || start == 0) {
      const std::string_view line(bytes.data() + begin, end - begin - (bytes[end - 1] == '\n'));
      Result<PastDecision> decision = parse_past_decision(line, start + begin);
      if (decision.ok() && matches(decision.value(), search)) {
        PastDecision& read = decision.value();
        if (read.reverts) undone.insert(*read.reverts);
        read.reverted = undone.count(read.entry) > 0;
        decisions.push_back(std::move(read));
      }
    }
    end = begin;
  }
  return decisions;
}

Result<PastDecision> read_past_decision(const std::string& journal, std::uint64_t entry) {
  Result<UniqueFd> fd = open_journal(journal);
  if (!fd.ok()) return fail(fd.failure());
  Result<std::string> bytes = read_at(fd.value().get(), entry, kMaxLine);
  if (!bytes.ok()) return fail(bytes.failure());
  const std::size_t newline = bytes.value().find('\n');
  Result<std::string> before = entry == 0 ? Result<std::string>(std::string("\n"))
                                           : read_at(fd.value().get(), entry - 1, 1);
  if (newline == std::string::npos || !before.ok() || before.value() != "\n") {
    return fail("the journal holds no decision at " + std::to_string(entry));
  }
  return parse_past_decision(std::string_view(bytes.value()).substr(0, newline), entry);
}

}  // namespace varnock::review
