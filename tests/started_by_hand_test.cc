// A person who starts varnock-mcp at a terminal is told, in one line on
// standard error, what the program expects; it then serves as always.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

namespace {

const std::string kInitialize = R"({"jsonrpc":"2.0","id":1,"method":"initialize"})";
constexpr char kEndOfFile = '\x04';  // the terminal's EOF character (Ctrl-D)

// Everything left in the read end of a pipe whose writer has exited.
std::string drain(int fd) {
  std::string bytes;
  char buffer[4096];
  ssize_t got;
  while ((got = read(fd, buffer, sizeof buffer)) > 0) bytes.append(buffer, got);
  close(fd);
  return bytes;
}

struct TerminalRun {
  std::string out;
  std::string err;
  int exit_status = -1;
};

// Runs the server with a new pseudo-terminal on standard input and pipes on
// the other two, types `typed` at the terminal, then ends its input.
TerminalRun run_at_terminal(const std::string& typed) {
  const int master = posix_openpt(O_RDWR | O_NOCTTY);
  EXPECT_GE(master, 0);
  EXPECT_EQ(grantpt(master), 0);
  EXPECT_EQ(unlockpt(master), 0);
  const int terminal = open(ptsname(master), O_RDWR | O_NOCTTY);
  int out[2], err[2];
  EXPECT_EQ(pipe(out), 0);
  EXPECT_EQ(pipe(err), 0);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, terminal, STDIN_FILENO);
  posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
  posix_spawn_file_actions_adddup2(&actions, err[1], STDERR_FILENO);
  char* argv[] = {const_cast<char*>(VARNOCK_MCP_BINARY), nullptr};
  char* envp[] = {nullptr};  // no VARNOCK_SOCKET: no broker diagnostics
  pid_t pid = -1;
  EXPECT_EQ(posix_spawn(&pid, VARNOCK_MCP_BINARY, &actions, nullptr, argv, envp), 0);
  posix_spawn_file_actions_destroy(&actions);
  close(terminal);
  close(out[1]);
  close(err[1]);
  const std::string keys = typed + kEndOfFile;
  EXPECT_EQ(write(master, keys.data(), keys.size()), static_cast<ssize_t>(keys.size()));
  TerminalRun run;
  int status = 0;
  EXPECT_EQ(waitpid(pid, &status, 0), pid);
  run.exit_status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  run.out = drain(out[0]);
  run.err = drain(err[0]);
  close(master);
  return run;
}

TEST(StartedByHand, SaysInOneLineWhatItIsAndStillServes) {
  TerminalRun run = run_at_terminal(kInitialize + "\n");
  EXPECT_EQ(run.exit_status, 0);
  EXPECT_EQ(run.err,
            "[varnock-mcp] this is an MCP server that an MCP host starts: it reads JSON-RPC "
            "messages on standard input, one per line (manual: man varnock-mcp)\n");
  EXPECT_NE(run.out.find(R"("id":1,"jsonrpc":"2.0","result":)"), std::string::npos) << run.out;
}

}  // namespace
