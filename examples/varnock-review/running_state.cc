#include "running_state.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "base/os_error.h"
#include "base/read_all.h"
#include "json/parse.h"
#include "json/text.h"
#include "json/value.h"
#include "json/write.h"
#include "system/atomic_write.h"

namespace varnock::review {
namespace {

constexpr std::size_t kMaxFileBytes = 64 * 1024;

// The file's text, or nullopt when there is none.
Result<std::optional<std::string>> read_running(const PrivateDirectory& directory) {
  UniqueFd fd(::openat(directory.fd.get(), kRunningFileName,
                       O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
  if (!fd.valid() && errno == ENOENT) return std::optional<std::string>();
  const std::string path = directory.path + "/" + kRunningFileName;
  if (!fd.valid()) return fail(system_error("cannot read " + path, errno));
  Result<std::string> text = read_all(fd.get(), kMaxFileBytes);
  if (!text.ok()) return fail("cannot read " + path + ": " + text.failure());
  return std::optional<std::string>(std::move(text).value());
}

// True when `pid` runs varnock-review (its name as the kernel keeps it) as
// this user: another user may get a dead reviewer's pid and take its name,
// and "open" would then send the desk's address and token to its port.
bool is_reviewer(pid_t pid) {
  if (pid <= 0 || (::kill(pid, 0) != 0 && errno == ESRCH)) return false;
  struct stat process {};
  const std::string proc = "/proc/" + std::to_string(pid);
  if (::stat(proc.c_str(), &process) != 0 || process.st_uid != ::geteuid()) return false;
  UniqueFd fd(::open((proc + "/comm").c_str(), O_RDONLY | O_CLOEXEC));
  if (!fd.valid()) return false;
  Result<std::string> name = read_all(fd.get(), 64);
  return name.ok() && name.value() == "varnock-review\n";
}

const std::string* string_member(const json::Value& value, std::string_view key) {
  const json::Value* found = json::member(value, key);
  return found != nullptr && found->is_string() ? &found->as_string() : nullptr;
}

std::optional<std::uint64_t> number_member(const json::Value& value, std::string_view key) {
  const json::Value* found = json::member(value, key);
  if (found == nullptr || found->kind() != json::Value::Kind::kUnsigned) return std::nullopt;
  return found->as_unsigned();
}

}  // namespace

std::string running_json(const RunningState& state) {
  json::Value::Object object;
  object.emplace("pid", static_cast<std::uint64_t>(state.pid));
  object.emplace("socket", state.socket);
  object.emplace("desk", state.desk);
  object.emplace("waiting", static_cast<std::uint64_t>(state.waiting));
  return json::write(json::Value(std::move(object))) + "\n";
}

Result<RunningState> parse_running(std::string_view text) {
  if (!json::is_valid_utf8(text)) return fail("it is not UTF-8");
  Result<json::Value> value = json::parse(text);
  if (!value.ok()) return fail(value.failure());
  const std::string* socket = string_member(value.value(), "socket");
  const std::string* desk = string_member(value.value(), "desk");
  const std::optional<std::uint64_t> pid = number_member(value.value(), "pid");
  const std::optional<std::uint64_t> waiting = number_member(value.value(), "waiting");
  if (socket == nullptr || desk == nullptr || !pid || !waiting || *pid == 0 || *pid > 1u << 30) {
    return fail("it does not say where a reviewer is");
  }
  return RunningState{static_cast<pid_t>(*pid), *socket, *desk, *waiting};
}

Result<std::unique_ptr<RunningFile>> RunningFile::write(PrivateDirectory directory,
                                                        const ReviewCore& core, RunningState state,
                                                        boost::asio::io_context& io) {
  std::unique_ptr<RunningFile> file(
      new RunningFile(std::move(directory), core, std::move(state), io));
  if (Status saved = file->save(); !saved.ok()) return fail(saved.failure());
  return file;
}

Status RunningFile::save() const {
  const std::string name = kRunningFileName;
  Result<std::string> written =
      replace_file(ReplaceRequest{directory_.fd.get(), name, running_json(state_), mode_t{0600},
                                  false, [] { return Status{}; }});
  if (!written.ok()) {
    return fail("cannot write " + directory_.path + "/" + name + ": " + written.failure());
  }
  return {};
}

// A failure here leaves the count one change behind; "status" says only
// what the file says.
void RunningFile::update() {
  if (!pausing_) write_count();
}

void RunningFile::write_count() {
  const std::size_t waiting = core_.waiting().size();
  if (waiting == state_.waiting) return;
  state_.waiting = waiting;
  [[maybe_unused]] const Status saved = save();
  pausing_ = true;
  timer_.expires_after(kPause);
  timer_.async_wait([this](const boost::system::error_code& error) {
    if (error) return;  // cancelled: the file is going
    pausing_ = false;
    write_count();
  });
}

RunningFile::~RunningFile() {
  timer_.cancel();
  Result<std::optional<std::string>> text = read_running(directory_);
  if (!text.ok() || !text.value()) return;
  Result<RunningState> there = parse_running(*text.value());
  if (there.ok() && there.value().pid == state_.pid) {
    ::unlinkat(directory_.fd.get(), kRunningFileName, 0);
  }
}

Result<std::optional<RunningState>> running_reviewer(const PrivateDirectory& directory) {
  Result<std::optional<std::string>> text = read_running(directory);
  if (!text.ok()) return fail(text.failure());
  if (!text.value()) return std::optional<RunningState>();
  Result<RunningState> state = parse_running(*text.value());
  if (!state.ok()) {
    return fail(directory.path + "/" + kRunningFileName + " is unreadable: " + state.failure());
  }
  if (!is_reviewer(state.value().pid)) return std::optional<RunningState>();
  return std::optional<RunningState>(std::move(state).value());
}

}  // namespace varnock::review
