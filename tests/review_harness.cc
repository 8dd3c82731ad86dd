#include "review_harness.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>

#include "base/unix_socket.h"
#include "write_file_wire.h"

extern char** environ;

namespace varnock::test {
namespace {

std::vector<std::string> environment_with(const std::map<std::string, std::string>& set) {
  std::vector<std::string> env;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    const std::string_view text(*entry);
    const std::string name(text.substr(0, text.find('=')));
    if (!set.contains(name) && name != "XDG_RUNTIME_DIR") env.emplace_back(text);
  }
  for (const auto& [name, value] : set) env.push_back(name + "=" + value);
  return env;
}

std::vector<char*> pointers(std::vector<std::string>& strings) {
  std::vector<char*> out;
  for (std::string& s : strings) out.push_back(s.data());
  out.push_back(nullptr);
  return out;
}

bool names_journal(const std::vector<std::string>& args) {
  for (const std::string& arg : args) {
    if (arg.starts_with("--journal") || arg == "--no-journal") return true;
  }
  return false;
}

}  // namespace

ReviewerProcess::ReviewerProcess(std::vector<std::string> args,
                                 const std::map<std::string, std::string>& environment,
                                 std::vector<std::string> prefix) {
  if (!names_journal(args)) args.push_back("--no-journal");
  args.insert(args.begin(), VARNOCK_REVIEW_BINARY);
  args.insert(args.begin(), prefix.begin(), prefix.end());
  std::vector<std::string> env = environment_with(environment);
  std::vector<char*> argv = pointers(args);
  std::vector<char*> envp = pointers(env);
  int out[2], err[2];
  if (::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(err, O_CLOEXEC) != 0) std::abort();
  pid_ = ::fork();
  if (pid_ == 0) {
    ::setsid();
    const int null_fd = ::open("/dev/null", O_RDONLY);
    ::dup2(null_fd, 0);
    ::dup2(out[1], 1);
    ::dup2(err[1], 2);
    ::execvpe(argv[0], argv.data(), envp.data());
    ::_exit(127);
  }
  ::close(out[1]);
  ::close(err[1]);
  drainer_ = std::thread([this, out_fd = out[0], err_fd = err[0]] { drain(out_fd, err_fd); });
}

ReviewerProcess::~ReviewerProcess() {
  if (pid_ > 0) stop(SIGTERM);
  if (drainer_.joinable()) drainer_.join();
}

void ReviewerProcess::drain(int out_fd, int err_fd) {
  pollfd fds[2] = {{out_fd, POLLIN, 0}, {err_fd, POLLIN, 0}};
  std::string* buffers[2] = {&out_, &err_};
  for (int open = 2; open > 0;) {
    if (::poll(fds, 2, -1) < 0) continue;
    for (int i = 0; i < 2; ++i) {
      if (fds[i].revents == 0) continue;
      char chunk[65536];
      const ssize_t count = ::read(fds[i].fd, chunk, sizeof chunk);
      std::lock_guard lock(mutex_);
      if (count > 0) buffers[i]->append(chunk, static_cast<std::size_t>(count));
      if (count <= 0) {
        ::close(fds[i].fd);
        fds[i].fd = -1;
        --open;
      }
      changed_.notify_all();
    }
  }
  std::lock_guard lock(mutex_);
  ended_ = true;
  changed_.notify_all();
}

std::optional<std::string> ReviewerProcess::read_line(int timeout_ms) {
  std::unique_lock lock(mutex_);
  std::optional<std::string> line;
  changed_.wait_for(lock, std::chrono::milliseconds(timeout_ms), [&] {
    const std::size_t end = out_.find('\n', taken_);
    if (end != std::string::npos) {
      line = out_.substr(taken_, end - taken_);
      taken_ = end + 1;
    }
    return line.has_value() || ended_;
  });
  return line;
}

bool ReviewerProcess::wait_for(std::string_view needle, int timeout_ms) {
  for (std::optional<std::string> line = read_line(timeout_ms); line;
       line = read_line(timeout_ms)) {
    if (line->find(needle) != std::string::npos) return true;
  }
  return false;
}

std::string ReviewerProcess::socket_path() {
  std::optional<std::string> line = read_line();
  const std::string prefix = "VARNOCK_SOCKET=";
  if (!line || !line->starts_with(prefix)) return "<no socket line: " + line.value_or("") + ">";
  return line->substr(prefix.size());
}

int ReviewerProcess::stop(int signal) {
  if (signal != 0) ::kill(pid_, signal);
  {
    std::unique_lock lock(mutex_);
    if (!changed_.wait_for(lock, std::chrono::seconds(30), [&] { return ended_; })) {
      ADD_FAILURE() << "varnock-review did not end; killing it";
      ::kill(pid_, SIGKILL);
    }
  }
  int status = 0;
  ::waitpid(pid_, &status, 0);
  pid_ = -1;
  if (drainer_.joinable()) drainer_.join();
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

std::string ReviewerProcess::out() {
  std::lock_guard lock(mutex_);
  return out_;
}

std::string ReviewerProcess::err() {
  std::lock_guard lock(mutex_);
  return err_;
}

RawServer::RawServer(const std::string& socket_path) {
  Result<UniqueFd> connected = connect_unix(socket_path);
  if (connected.ok()) fd_ = std::move(connected).value();
}

bool RawServer::send(std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t count = ::send(fd_.get(), bytes.data(), bytes.size(), MSG_NOSIGNAL);
    if (count <= 0) return false;
    bytes.remove_prefix(static_cast<std::size_t>(count));
  }
  return true;
}

std::string RawServer::read_line(int timeout_ms) {
  for (std::size_t end = buffer_.find('\n');; end = buffer_.find('\n')) {
    if (end != std::string::npos) {
      std::string line = buffer_.substr(0, end + 1);
      buffer_.erase(0, end + 1);
      return line;
    }
    pollfd fd{fd_.get(), POLLIN, 0};
    char chunk[4096];
    if (::poll(&fd, 1, timeout_ms) <= 0) return "";
    const ssize_t count = ::read(fd_.get(), chunk, sizeof chunk);
    if (count <= 0) return "";
    buffer_.append(chunk, static_cast<std::size_t>(count));
  }
}

bool RawServer::closed_by_reviewer(int timeout_ms) {
  for (;;) {
    pollfd fd{fd_.get(), POLLIN, 0};
    if (::poll(&fd, 1, timeout_ms) <= 0) return false;
    char chunk[4096];
    const ssize_t count = ::read(fd_.get(), chunk, sizeof chunk);
    if (count <= 0) return true;
  }
}

std::string hello_line(std::string_view pid) {
  return R"({"pid":)" + std::string(pid) + R"(,"role":"main","threadId":"t-raw","type":"hello"})" +
         "\n";
}

std::string raw_proposal(const std::string& id, const std::string& path, const std::string& before,
                         const std::string& after, const std::string& explanation) {
  return proposal_line(id, path, before, after, explanation) + "\n";
}

std::string decision(const std::string& id, bool accepted) {
  return R"({"type":"decision","id":)" + quoted(id) + R"(,"accepted":)" +
         (accepted ? "true" : "false") + "}\n";
}

ProcessOutput edit_through_server(const std::string& socket, const std::string& cwd,
                                  const std::string& path, const std::string& content) {
  ProcessOptions options;
  options.environment = {{"VARNOCK_SOCKET", socket}, {"VARNOCK_THREAD_ID", "t-e2e"}};
  options.working_directory = cwd;
  return run_server(write_file_call(1, path, content, "- because"), options);
}

std::string accepted_response(const std::string& path) {
  return result_response(1, receipt(path, kAcceptedMessage)) + "\n";
}

std::string rejected_response() { return error_response(1, kRejected) + "\n"; }

std::string real_path(const std::string& path) {
  char* resolved = ::realpath(path.c_str(), nullptr);
  std::string out = resolved ? resolved : path;
  std::free(resolved);
  return out;
}

bool exists(const std::string& path) {
  struct stat st;
  return ::lstat(path.c_str(), &st) == 0;
}

mode_t mode_of(const std::string& path) {
  struct stat st {};
  ::lstat(path.c_str(), &st);
  return st.st_mode;
}

ScopedDirectory::ScopedDirectory(const std::string& path) {
  char* saved = ::getcwd(nullptr, 0);
  saved_ = saved ? saved : "/";
  std::free(saved);
  if (::chdir(path.c_str()) != 0) ADD_FAILURE() << "cannot enter " << path;
}

ScopedDirectory::~ScopedDirectory() {
  if (::chdir(saved_.c_str()) != 0) ADD_FAILURE() << "cannot return to " << saved_;
}

bool ReviewerFixture::start(const char* answer, std::vector<std::string> extra) {
  std::vector<std::string> args = {"--socket", socket, "--auto", answer};
  args.insert(args.end(), extra.begin(), extra.end());
  reviewer.emplace(args);
  const std::string announced = reviewer->socket_path();
  EXPECT_EQ(announced, socket) << reviewer->err();
  return announced == socket;
}

}  // namespace varnock::test
