#include "system/child_runner.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <boost/asio/posix/stream_descriptor.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/write.hpp>
#include <cerrno>

#include "base/os_error.h"
#include "base/unique_fd.h"

extern char** environ;

namespace varnock::review {
namespace {

namespace asio = boost::asio;
using Descriptor = asio::posix::stream_descriptor;

constexpr int kFirstInputFd = 3;
constexpr int kNotFound = 127;  // as a shell reports a missing program
// Pipes this large take a large input in fewer turns of the loop; the
// system may give less.
constexpr int kPipeBytes = 1024 * 1024;

// Our own descriptor for `fd`, numbered above those the child is given, so
// that placing one never overwrites another before it has been placed.
Result<UniqueFd> above_child_fds(int fd, std::size_t input_count) {
  UniqueFd owned(fd);
  const int lowest = kFirstInputFd + static_cast<int>(input_count);
  UniqueFd moved(::fcntl(owned.get(), F_DUPFD_CLOEXEC, lowest));
  if (!moved.valid()) return fail(system_error("cannot duplicate a descriptor", errno));
  return moved;
}

struct Pipe {
  UniqueFd read_end;
  UniqueFd write_end;
};

Result<Pipe> make_pipe(std::size_t input_count) {
  int ends[2];
  if (::pipe2(ends, O_CLOEXEC) != 0) return fail(system_error("cannot create a pipe", errno));
  Result<UniqueFd> read_end = above_child_fds(ends[0], input_count);
  Result<UniqueFd> write_end = above_child_fds(ends[1], input_count);
  if (!read_end.ok()) return fail(std::move(read_end).failure());
  if (!write_end.ok()) return fail(std::move(write_end).failure());
  ::fcntl(write_end.value().get(), F_SETPIPE_SZ, kPipeBytes);
  return Pipe{std::move(read_end).value(), std::move(write_end).value()};
}

class SpawnSetup {
 public:
  SpawnSetup() {
    ::posix_spawn_file_actions_init(&actions_);
    ::posix_spawnattr_init(&attributes_);
  }
  ~SpawnSetup() {
    ::posix_spawn_file_actions_destroy(&actions_);
    ::posix_spawnattr_destroy(&attributes_);
  }
  SpawnSetup(const SpawnSetup&) = delete;
  SpawnSetup& operator=(const SpawnSetup&) = delete;
  posix_spawn_file_actions_t* actions() { return &actions_; }
  posix_spawnattr_t* attributes() { return &attributes_; }

 private:
  posix_spawn_file_actions_t actions_;
  posix_spawnattr_t attributes_;
};

// The child starts with no signal blocked and SIGPIPE at its default (the
// reviewer ignores it), /dev/null as standard input, `out` (or /dev/null)
// as standard output and `inputs` as descriptors 3, 4, ...; nothing else
// of ours reaches it. Gives its pid, or 0 when the program was not found.
Result<pid_t> spawn(const std::vector<std::string>& args, const std::vector<UniqueFd>& inputs,
                    int out) {
  SpawnSetup setup;
  sigset_t signals;
  ::sigemptyset(&signals);
  ::posix_spawnattr_setsigmask(setup.attributes(), &signals);
  ::sigaddset(&signals, SIGPIPE);
  ::posix_spawnattr_setsigdefault(setup.attributes(), &signals);
  ::posix_spawnattr_setflags(setup.attributes(), POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
  ::posix_spawn_file_actions_addopen(setup.actions(), STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  if (out >= 0) {
    ::posix_spawn_file_actions_adddup2(setup.actions(), out, STDOUT_FILENO);
  } else {
    ::posix_spawn_file_actions_addopen(setup.actions(), STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  }
  for (std::size_t i = 0; i < inputs.size(); ++i) {
    ::posix_spawn_file_actions_adddup2(setup.actions(), inputs[i].get(),
                                       kFirstInputFd + static_cast<int>(i));
  }
  // Sockets and files opened without close-on-exec (Asio's, for one) stay
  // out of the child.
  ::posix_spawn_file_actions_addclosefrom_np(setup.actions(),
                                             kFirstInputFd + static_cast<int>(inputs.size()));
  std::vector<char*> argv;
  for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);
  pid_t pid = 0;
  const int error =
      ::posix_spawnp(&pid, argv[0], setup.actions(), setup.attributes(), argv.data(), environ);
  if (error == ENOENT) return pid_t{0};
  if (error != 0) return fail(system_error("cannot start " + args[0], error));
  return pid;
}

// Waits for child `pid` to end and reaps it, repeating waitpid(2) when a
// signal interrupts it; its wait status goes to `status` when given.
void reap(pid_t pid, int* status = nullptr) {
  while (::waitpid(pid, status, 0) < 0 && errno == EINTR) {
  }
}

}  // namespace

// One running child and the descriptors the loop watches for it. Handlers
// hold it weakly: once the runner forgets it, they do nothing.
struct ChildRunner::Child : std::enable_shared_from_this<Child> {
  Child(asio::io_context& io, ChildRunner& owner, Id number, ChildJob given, ChildDone handler)
      : runner(owner),
        id(number),
        job(std::move(given)),
        done(std::move(handler)),
        process(io),
        out(io),
        timer(io) {}

  void start(UniqueFd pidfd, std::vector<UniqueFd> input_ends, UniqueFd out_end);
  void write_input(std::size_t index);
  void read_output();
  void watch_exit();
  void watch_time();
  void kill_once(Failure why);
  void maybe_finish();
  std::string name() const { return job.args.front(); }

  ChildRunner& runner;
  Id id;
  ChildJob job;
  ChildDone done;
  pid_t pid = 0;
  Descriptor process;  // the pidfd: readable once the child has exited
  Descriptor out;
  std::vector<std::unique_ptr<Descriptor>> inputs;
  asio::steady_timer timer;
  std::string output;
  std::array<char, 65536> buffer{};
  std::optional<Failure> broke;  // why it was killed
  bool exited = false;
  bool out_done = false;
  int wait_status = 0;
};

void ChildRunner::Child::start(UniqueFd pidfd, std::vector<UniqueFd> input_ends, UniqueFd out_end) {
  process.assign(pidfd.release());
  for (std::size_t i = 0; i < input_ends.size(); ++i) {
    inputs.push_back(std::make_unique<Descriptor>(process.get_executor()));
    inputs.back()->assign(input_ends[i].release());
    inputs.back()->non_blocking(true);
    write_input(i);
  }
  out_done = !out_end.valid();
  if (out_end.valid()) {
    out.assign(out_end.release());
    read_output();
  }
  watch_exit();
  watch_time();
}

// A child that stops reading (it ended, or needed no more) just ends its
// input; that is no failure of the job.
void ChildRunner::Child::write_input(std::size_t index) {
  asio::async_write(
      *inputs[index], asio::buffer(job.inputs[index].data(), job.inputs[index].size()),
      [weak = weak_from_this(), index](const boost::system::error_code&, std::size_t) {
        const std::shared_ptr<Child> self = weak.lock();
        if (!self) return;
        boost::system::error_code ignored;
        self->inputs[index]->close(ignored);
      });
}

void ChildRunner::Child::read_output() {
  out.async_read_some(
      asio::buffer(buffer),
      [weak = weak_from_this()](const boost::system::error_code& error, std::size_t count) {
        const std::shared_ptr<Child> self = weak.lock();
        if (!self || self->out_done) return;
        self->output.append(self->buffer.data(), count);
        if (self->output.size() > self->job.output_limit) {
          self->kill_once(fail(self->name() + " printed more than " +
                                   std::to_string(self->job.output_limit) + " bytes",
                               FailureKind::kTooLarge));
        } else if (!error) {
          return self->read_output();
        }
        self->out_done = true;
        boost::system::error_code ignored;
        self->out.close(ignored);
        self->maybe_finish();
      });
}

void ChildRunner::Child::watch_exit() {
  process.async_wait(Descriptor::wait_read,
                     [weak = weak_from_this()](const boost::system::error_code& error) {
                       const std::shared_ptr<Child> self = weak.lock();
                       if (!self || error == asio::error::operation_aborted) return;
                       reap(self->pid, &self->wait_status);
                       self->exited = true;
                       self->timer.cancel();
                       self->maybe_finish();
                     });
}

void ChildRunner::Child::watch_time() {
  if (!job.time_limit) return;
  timer.expires_after(*job.time_limit);
  timer.async_wait([weak = weak_from_this()](const boost::system::error_code& error) {
    const std::shared_ptr<Child> self = weak.lock();
    if (!self || error) return;
    self->kill_once(fail(
        self->name() + " took longer than " + std::to_string(self->job.time_limit->count()) + " ms",
        FailureKind::kTimedOut));
  });
}

// Only a child not yet reaped is signalled, so its pid is still its own.
void ChildRunner::Child::kill_once(Failure why) {
  if (!broke) broke = std::move(why);
  if (!exited) ::kill(pid, SIGKILL);
}

// The job ends once the child is reaped and its output read to the end.
void ChildRunner::Child::maybe_finish() {
  if (!exited || !out_done) return;
  if (broke) return runner.finish(id, std::move(*broke));
  if (!WIFEXITED(wait_status)) {
    return runner.finish(
        id, fail(name() + " ended by signal " + std::to_string(WTERMSIG(wait_status))));
  }
  runner.finish(id, ChildOutput{std::move(output), WEXITSTATUS(wait_status)});
}

ChildRunner::~ChildRunner() {
  for (auto& [id, child] : children_) {
    if (child->exited || child->job.outlives_runner) continue;
    ::kill(child->pid, SIGKILL);
    reap(child->pid);
  }
}

ChildRunner::Id ChildRunner::run(ChildJob job, ChildDone done) {
  const Id id = next_id_++;
  if (children_.size() >= kMaxRunningChildren) {
    waiting_.push_back({id, std::move(job), std::move(done)});
  } else {
    start(id, std::move(job), std::move(done));
  }
  return id;
}

void ChildRunner::start_waiting() {
  while (!waiting_.empty() && children_.size() < kMaxRunningChildren) {
    Waiting next = std::move(waiting_.front());
    waiting_.pop_front();
    start(next.id, std::move(next.job), std::move(next.done));
  }
}

void ChildRunner::start(Id id, ChildJob job, ChildDone done) {
  const auto failed = [&](Result<ChildOutput> result) {
    asio::post(io_, [done = std::move(done), result = std::move(result)]() mutable {
      done(std::move(result));
    });
  };
  std::vector<UniqueFd> child_inputs, our_inputs;
  for (std::size_t i = 0; i < job.inputs.size(); ++i) {
    Result<Pipe> pipe = make_pipe(job.inputs.size());
    if (!pipe.ok()) return failed(fail(std::move(pipe).failure()));
    child_inputs.push_back(std::move(pipe.value().read_end));
    our_inputs.push_back(std::move(pipe.value().write_end));
  }
  Pipe out;
  if (job.keep_output) {
    Result<Pipe> pipe = make_pipe(job.inputs.size());
    if (!pipe.ok()) return failed(fail(std::move(pipe).failure()));
    out = std::move(pipe).value();
  }
  Result<pid_t> pid =
      spawn(job.args, child_inputs, out.write_end.valid() ? out.write_end.get() : -1);
  if (!pid.ok()) return failed(fail(std::move(pid).failure()));
  if (pid.value() == 0) return failed(ChildOutput{{}, kNotFound});
  UniqueFd pidfd(static_cast<int>(::syscall(SYS_pidfd_open, pid.value(), 0)));
  if (!pidfd.valid()) {
    const int error = errno;
    ::kill(pid.value(), SIGKILL);
    reap(pid.value());
    return failed(fail(system_error("cannot watch " + job.args.front(), error)));
  }
  auto child = std::make_shared<Child>(io_, *this, id, std::move(job), std::move(done));
  child->pid = pid.value();
  children_.emplace(id, child);
  child->start(std::move(pidfd), std::move(our_inputs), std::move(out.read_end));
}

// The child stays known until it is reaped; its inputs are closed at once,
// so that nothing reads the caller's bytes after this.
void ChildRunner::cancel(Id id) {
  const auto queued = std::find_if(waiting_.begin(), waiting_.end(),
                                   [id](const Waiting& job) { return job.id == id; });
  if (queued != waiting_.end()) return void(waiting_.erase(queued));
  const auto found = children_.find(id);
  if (found == children_.end()) return;
  Child& child = *found->second;
  child.done = nullptr;
  for (const auto& input : child.inputs) {
    boost::system::error_code ignored;
    input->close(ignored);
  }
  child.kill_once(fail("cancelled"));
}

void ChildRunner::finish(Id id, Result<ChildOutput> result) {
  const auto found = children_.find(id);
  if (found == children_.end()) return;
  ChildDone done = std::move(found->second->done);
  children_.erase(found);
  start_waiting();
  if (done) done(std::move(result));
}

}  // namespace varnock::review
