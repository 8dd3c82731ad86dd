#include "diff_tool.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <vector>

#include "base/io.h"
#include "base/os_error.h"
#include "base/read_all.h"
#include "base/unique_fd.h"

namespace varnock::review {
namespace {

constexpr int kChildCannotRun = 127;

// A private directory holding the two sides, removed with them.
class ScratchDir {
 public:
  static Result<ScratchDir> make() {
    const char* base = std::getenv("TMPDIR");
    std::string pattern =
        std::string(base && base[0] == '/' ? base : "/tmp") + "/varnock-diff-XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr) {
      return fail(system_error("cannot create a temporary directory", errno));
    }
    return ScratchDir(std::move(pattern));
  }
  ScratchDir(ScratchDir&& other) noexcept : path_(std::move(other.path_)) { other.path_.clear(); }
  ScratchDir& operator=(ScratchDir&&) = delete;
  ~ScratchDir() {
    if (path_.empty()) return;
    ::unlink(file("before").c_str());
    ::unlink(file("after").c_str());
    ::rmdir(path_.c_str());
  }
  std::string file(const char* name) const { return path_ + "/" + name; }

 private:
  explicit ScratchDir(std::string path) : path_(std::move(path)) {}
  std::string path_;
};

Status write_file(const std::string& path, std::string_view bytes) {
  UniqueFd fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
  if (!fd.valid()) return fail(system_error("cannot create " + path, errno));
  if (const int error = write_all(fd.get(), bytes); error != 0) {
    return fail(system_error("cannot write " + path, error));
  }
  return {};
}

// In the child: standard output to the pipe, standard input from
// /dev/null, then exec; only async-signal-safe calls.
[[noreturn]] void exec_diff(int out_fd, char* const argv[]) {
  const int null_fd = ::open("/dev/null", O_RDONLY);
  if (null_fd < 0 || ::dup2(null_fd, STDIN_FILENO) < 0 || ::dup2(out_fd, STDOUT_FILENO) < 0) {
    ::_exit(kChildCannotRun);
  }
  ::execvp(argv[0], argv);
  ::_exit(kChildCannotRun);
}

// Runs `args` and gives its standard output and exit status.
Result<std::pair<std::string, int>> run_capturing(std::vector<std::string> args) {
  std::vector<char*> argv;
  for (std::string& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);
  int ends[2];
  if (::pipe2(ends, O_CLOEXEC) != 0) return fail(system_error("cannot create a pipe", errno));
  UniqueFd read_end(ends[0]);
  UniqueFd write_end(ends[1]);
  const pid_t pid = ::fork();
  if (pid < 0) return fail(system_error("cannot start diff", errno));
  if (pid == 0) exec_diff(write_end.get(), argv.data());
  write_end.reset();
  Result<std::string> output = read_all(read_end.get(), kNoLimit);
  read_end.reset();  // so that a child still writing ends instead of waiting
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  if (!output.ok()) return fail("cannot take diff's output: " + output.failure());
  if (!WIFEXITED(status)) return fail("diff did not finish");
  return std::pair{std::move(output).value(), WEXITSTATUS(status)};
}

}  // namespace

Result<std::string> unified_diff(const DiffInput& input) {
  Result<ScratchDir> dir = ScratchDir::make();
  if (!dir.ok()) return fail(dir.failure());
  const std::string before = dir.value().file("before");
  const std::string after = dir.value().file("after");
  Status written = write_file(before, input.before);
  if (written.ok()) written = write_file(after, input.after);
  if (!written.ok()) return fail(written.failure());
  Result<std::pair<std::string, int>> ran =
      run_capturing({"diff", "-u", "-a", "--label", input.before_label, "--label",
                     input.after_label, before, after});
  if (!ran.ok()) return fail(ran.failure());
  auto& [output, status] = ran.value();
  if (status == 0 || status == 1) return std::move(output);
  if (status == kChildCannotRun) return fail("cannot run diff (is diffutils installed?)");
  return fail("diff failed with status " + std::to_string(status));
}

}  // namespace varnock::review
