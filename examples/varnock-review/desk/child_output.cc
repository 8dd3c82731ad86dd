#include "child_output.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

#include "base/io.h"
#include "base/os_error.h"
#include "base/read_all.h"
#include "base/unique_fd.h"

extern char** environ;

namespace varnock::desk {
namespace {

constexpr int kFirstInputFd = 3;
constexpr int kNotFound = 127;  // as a shell reports a missing program

// Keeps our own descriptors above the ones the child is given, so that
// placing one never overwrites another before it has been placed.
Result<UniqueFd> above_child_fds(int fd, std::size_t input_count) {
  UniqueFd owned(fd);
  const int lowest = kFirstInputFd + static_cast<int>(input_count);
  UniqueFd moved(::fcntl(owned.get(), F_DUPFD_CLOEXEC, lowest));
  if (!moved.valid()) return fail(system_error("cannot duplicate a descriptor", errno));
  return moved;
}

Result<UniqueFd> memory_file(std::string_view bytes, std::size_t input_count) {
  const int fd = ::memfd_create("varnock-desk-input", MFD_CLOEXEC);
  if (fd < 0) return fail(system_error("cannot create an in-memory file", errno));
  Result<UniqueFd> file = above_child_fds(fd, input_count);
  if (!file.ok()) return file;
  if (const int error = write_all(file.value().get(), bytes)) {
    return fail(system_error("cannot fill an in-memory file", error));
  }
  return file;
}

class SpawnActions {
 public:
  SpawnActions() { ::posix_spawn_file_actions_init(&actions_); }
  ~SpawnActions() { ::posix_spawn_file_actions_destroy(&actions_); }
  SpawnActions(const SpawnActions&) = delete;
  SpawnActions& operator=(const SpawnActions&) = delete;
  posix_spawn_file_actions_t* get() { return &actions_; }

 private:
  posix_spawn_file_actions_t actions_;
};

Result<int> wait_for(pid_t pid) {
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return fail(system_error("cannot wait for a child", errno));
  }
  if (!WIFEXITED(status)) return fail("the child program did not finish");
  return WEXITSTATUS(status);
}

// Starts `args` with /dev/null as standard input, `out` as standard output
// and `files` as descriptors 3, 4, ...: its process id, or 0 when the
// program was not found.
Result<pid_t> spawn(const std::vector<std::string>& args, const std::vector<UniqueFd>& files,
                    int out) {
  SpawnActions actions;
  ::posix_spawn_file_actions_addopen(actions.get(), STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  ::posix_spawn_file_actions_adddup2(actions.get(), out, STDOUT_FILENO);
  for (std::size_t i = 0; i < files.size(); ++i) {
    ::posix_spawn_file_actions_adddup2(actions.get(), files[i].get(),
                                       kFirstInputFd + static_cast<int>(i));
  }
  // Sockets and files the caller opened without close-on-exec (Asio's,
  // for one) stay out of the child.
  ::posix_spawn_file_actions_addclosefrom_np(actions.get(),
                                             kFirstInputFd + static_cast<int>(files.size()));
  std::vector<char*> argv;
  for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);
  pid_t pid = 0;
  const int error = ::posix_spawnp(&pid, argv[0], actions.get(), nullptr, argv.data(), environ);
  if (error == ENOENT) return pid_t{0};
  if (error != 0) return fail(system_error("cannot start " + args[0], error));
  return pid;
}

}  // namespace

Result<ChildOutput> run_with_inputs(const std::vector<std::string>& args,
                                    const std::vector<std::string_view>& inputs) {
  std::vector<UniqueFd> files;
  for (const std::string_view input : inputs) {
    Result<UniqueFd> file = memory_file(input, inputs.size());
    if (!file.ok()) return fail(std::move(file).failure());
    files.push_back(std::move(file.value()));
  }
  int ends[2];
  if (::pipe2(ends, O_CLOEXEC) != 0) return fail(system_error("cannot create a pipe", errno));
  Result<UniqueFd> read_end = above_child_fds(ends[0], inputs.size());
  Result<UniqueFd> write_end = above_child_fds(ends[1], inputs.size());
  if (!read_end.ok() || !write_end.ok()) return fail("cannot set up the child's output");
  Result<pid_t> pid = spawn(args, files, write_end.value().get());
  if (!pid.ok()) return fail(std::move(pid).failure());
  if (pid.value() == 0) return ChildOutput{{}, kNotFound};
  write_end.value().reset();
  Result<std::string> out = read_all(read_end.value().get(), kNoLimit);
  read_end.value().reset();  // so that a child still writing ends instead of waiting
  Result<int> status = wait_for(pid.value());
  if (!out.ok()) return fail("cannot take the output of " + args[0] + ": " + out.failure());
  if (!status.ok()) return fail(std::move(status).failure());
  return ChildOutput{std::move(out).value(), status.value()};
}

}  // namespace varnock::desk
