#include "review_harness.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <thread>

#include "base/io.h"
#include "base/unix_socket.h"
#include "write_file_wire.h"

namespace varnock::test {
namespace {

std::vector<char*> pointers(std::vector<std::string>& strings) {
  std::vector<char*> out;
  for (std::string& s : strings) out.push_back(s.data());
  out.push_back(nullptr);
  return out;
}

}  // namespace

ReviewerProcess::ReviewerProcess(std::vector<std::string> args,
                                 const std::map<std::string, std::string>& environment,
                                 std::vector<std::string> prefix) {
  args.insert(args.begin(), VARNOCK_REVIEW_BINARY);
  args.insert(args.begin(), prefix.begin(), prefix.end());
  args.insert(args.begin(), {"env", "-u", "XDG_RUNTIME_DIR", "XDG_STATE_HOME=" + files_.path()});
  for (const auto& [name, value] : environment) args.insert(args.begin() + 4, name + "=" + value);
  std::vector<char*> argv = pointers(args);
  const int flags = O_WRONLY | O_CREAT | O_CLOEXEC;
  const int null_fd = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
  const int out_fd = ::open(files_.file("out").c_str(), flags, 0600);
  const int err_fd = ::open(files_.file("err").c_str(), flags, 0600);
  pid_ = ::fork();
  if (pid_ == 0) {
    ::setsid();
    const rlimit most{64 << 20, 64 << 20};  // a runaway writer cannot fill the disk
    ::setrlimit(RLIMIT_FSIZE, &most);
    ::dup2(null_fd, 0);
    ::dup2(out_fd, 1);
    ::dup2(err_fd, 2);
    ::execvp(argv[0], argv.data());
    ::_exit(127);
  }
  for (const int fd : {null_fd, out_fd, err_fd}) ::close(fd);
}

ReviewerProcess::~ReviewerProcess() {
  if (pid_ > 0) stop(SIGTERM);
}

bool ReviewerProcess::ended() {
  if (status_ < 0 && ::waitpid(pid_, &status_, WNOHANG) <= 0) status_ = -1;
  return status_ >= 0;
}

std::optional<std::string> ReviewerProcess::read_line(int timeout_ms) {
  return text_to_line_with("", timeout_ms);
}

bool ReviewerProcess::wait_for(std::string_view needle, int timeout_ms) {
  return text_to_line_with(needle, timeout_ms).has_value();
}

std::optional<std::string> ReviewerProcess::text_to_line_with(std::string_view needle,
                                                               int timeout_ms) {
  for (int waited = 0;; waited += 10) {
    const bool last_look = ended() || waited >= timeout_ms;
    const std::string out = this->out();
    const std::size_t at = out.find(needle, taken_);
    const std::size_t end = at == std::string::npos ? at : out.find('\n', at);
    if (end != std::string::npos) {
      std::string text = out.substr(taken_, end - taken_);
      taken_ = end + 1;
      return text;
    }
    if (last_look) return std::nullopt;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

std::string ReviewerProcess::socket_path() {
  std::optional<std::string> line = read_line();
  const std::string prefix = "VARNOCK_SOCKET=";
  if (!line || !line->starts_with(prefix)) return "<no socket line: " + line.value_or("") + ">";
  return line->substr(prefix.size());
}

int ReviewerProcess::stop(int signal) {
  if (signal != 0 && !ended()) ::kill(pid_, signal);
  for (int waited = 0; !ended(); waited += 10) {
    if (waited == 30000) {
      ADD_FAILURE() << "varnock-review did not end; killing it";
      ::kill(pid_, SIGKILL);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  pid_ = -1;
  return WIFEXITED(status_) ? WEXITSTATUS(status_) : 128 + WTERMSIG(status_);
}

ssize_t read_more(int fd, std::string& into, int timeout_ms) {
  pollfd wanted{fd, POLLIN, 0};
  if (::poll(&wanted, 1, timeout_ms) <= 0) return -1;
  char chunk[4096];
  const ssize_t count = read_some(fd, chunk, sizeof chunk);
  if (count > 0) into.append(chunk, static_cast<std::size_t>(count));
  return std::max<ssize_t>(count, 0);
}

RawServer::RawServer(const std::string& socket_path) {
  Result<UniqueFd> connected = connect_unix(socket_path);
  if (connected.ok()) fd_ = std::move(connected).value();
}

bool RawServer::send(std::string_view bytes) { return send_all(fd_.get(), bytes) == 0; }

std::string RawServer::read_line(int timeout_ms) {
  std::size_t end;
  while ((end = buffer_.find('\n')) == std::string::npos) {
    if (read_more(fd_.get(), buffer_, timeout_ms) <= 0) return "";
  }
  std::string line = buffer_.substr(0, end + 1);
  buffer_.erase(0, end + 1);
  return line;
}

bool RawServer::closed_by_reviewer(int timeout_ms) {
  ssize_t count;
  while ((count = read_more(fd_.get(), buffer_, timeout_ms)) > 0) buffer_.clear();
  return count == 0;
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
  return std::filesystem::weakly_canonical(path).string();
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

ScopedDirectory::ScopedDirectory(const std::string& path)
    : saved_(std::filesystem::current_path()) {
  std::filesystem::current_path(path);
}

ScopedDirectory::~ScopedDirectory() {
  std::error_code error;
  std::filesystem::current_path(saved_, error);
  if (error) ADD_FAILURE() << "cannot return to " << saved_;
}

bool ReviewerFixture::start(const char* answer, std::vector<std::string> extra,
                            const std::map<std::string, std::string>& environment) {
  std::vector<std::string> args = {"--socket", socket, "--auto", answer};
  args.insert(args.end(), extra.begin(), extra.end());
  reviewer.emplace(args, environment);
  const std::string announced = reviewer->socket_path();
  EXPECT_EQ(announced, socket) << reviewer->err();
  return announced == socket;
}

}  // namespace varnock::test
