// Whole-process figures for varnock-mcp, each next to a floor measured in
// the same run:
//   spawn to the initialize answer        vs. spawning `cat` and echoing one line
//   write_file round trip (1 KiB-100 MiB)  vs. echoing the request through `cat`
//                                          and copying it through a Unix socket
//   peak RSS of the server at each size
//   tools/list lines answered per second   vs. lines echoed per second by `cat`
// and, given a reviewer, proposals decided per second by `varnock-review
// --auto accept --no-journal` for 50 servers sending 20 proposals of 1 KiB
// each, vs. the same through a broker that accepts at once and writes nothing.
//
// Usage: process_bench SERVER [--quick] [--reviewer REVIEWER]
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "base/io.h"
#include "base/line_reader.h"
#include "base/unique_fd.h"
#include "base/unix_socket.h"
#include "json/write.h"
#include "mcp/broker_protocol.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

double seconds_since(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

double median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

[[noreturn]] void die(const char* what) {
  std::perror(what);
  std::exit(2);
}

void send_bytes(int fd, std::string_view bytes) {
  if (varnock::write_all(fd, bytes) != 0) die("write");
}

// A child with pipes on its standard input and output. Its standard error
// goes to $BENCH_CHILD_STDERR, or nowhere. This is not the tests' harness:
// the benchmark builds without the tests, and it times the child, so it keeps
// to fork, pipes and blocking reads.
struct Child {
  pid_t pid = -1;
  int in = -1;   // its standard input
  int out = -1;  // its standard output
  std::unique_ptr<varnock::LineReader> lines;

  // Starts `argv` in `cwd` with the extra environment `env` (NAME=value).
  static Child start(const std::vector<std::string>& argv, const std::string& cwd,
                     const std::vector<std::string>& env) {
    int to_child[2], from_child[2];
    if (pipe2(to_child, O_CLOEXEC) != 0 || pipe2(from_child, O_CLOEXEC) != 0) die("pipe");
    fcntl(to_child[1], F_SETPIPE_SZ, 1 << 20);
    fcntl(from_child[0], F_SETPIPE_SZ, 1 << 20);
    Child child;
    child.pid = fork();
    if (child.pid < 0) die("fork");
    if (child.pid == 0) {
      dup2(to_child[0], 0);
      dup2(from_child[1], 1);
      int null = open(getenv("BENCH_CHILD_STDERR") ? getenv("BENCH_CHILD_STDERR") : "/dev/null",
                      O_WRONLY | O_CREAT | O_APPEND, 0644);
      dup2(null, 2);
      if (!cwd.empty() && chdir(cwd.c_str()) != 0) _exit(127);
      for (const auto& assignment : env) putenv(const_cast<char*>(assignment.c_str()));
      std::vector<char*> args;
      for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
      args.push_back(nullptr);
      execv(args[0], args.data());
      _exit(127);
    }
    close(to_child[0]);
    close(from_child[1]);
    child.in = to_child[1];
    child.out = from_child[0];
    child.lines = std::make_unique<varnock::LineReader>(child.out, 1 << 16);
    return child;
  }

  // The next line the child writes, without its LF.
  std::string read_line() {
    varnock::Result<std::optional<std::string>> line = lines->read_line();
    if (!line.ok() || !line.value() || line.value()->back() != '\n') die("read child output");
    line.value()->pop_back();
    return std::move(*line.value());
  }

  // Sends `line` while reading the one answer line (so no pipe fills up).
  std::string round_trip(const std::string& line) {
    std::thread writer([&] { send_bytes(in, line); });
    std::string answer = read_line();
    writer.join();
    return answer;
  }

  // Closes its input and waits; gives its peak RSS in KiB.
  long finish() {
    close(in);
    close(out);
    int status;
    struct rusage usage {};
    wait4(pid, &status, 0, &usage);
    return usage.ru_maxrss;
  }
};

// A broker that accepts every proposal at once. It takes the id from the
// start of the proposal line rather than parsing the whole line, so that
// its own work stays out of the figures.
class AcceptingBroker {
 public:
  explicit AcceptingBroker(std::string path) : path_(std::move(path)) {
    unlink(path_.c_str());
    varnock::Result<varnock::UniqueFd> listener = varnock::listen_unix(path_, 16);
    if (!listener.ok()) die("listen");
    listener_ = std::move(listener).value();
    thread_ = std::thread([this] { serve(); });
  }
  ~AcceptingBroker() {
    shutdown(listener_.get(), SHUT_RDWR);
    thread_.join();
    unlink(path_.c_str());
  }

 private:
  void serve() {
    for (;;) {
      int fd = accept(listener_.get(), nullptr, nullptr);
      if (fd < 0) return;
      std::thread([fd] { answer(varnock::UniqueFd(fd)); }).detach();
    }
  }

  static void answer(varnock::UniqueFd connection) {
    constexpr std::string_view kIdStart = "{\"id\":\"";
    varnock::LineReader lines(connection.get(), 1 << 20);
    for (;;) {
      varnock::Result<std::optional<std::string>> line = lines.read_line();
      if (!line.ok() || !line.value()) return;
      const std::string& text = *line.value();
      if (!text.starts_with(kIdStart)) continue;
      const std::string id =
          text.substr(kIdStart.size(), text.find('"', kIdStart.size()) - kIdStart.size());
      send_bytes(connection.get(), varnock::mcp::decision_line(id, true) + "\n");
    }
  }

  std::string path_;
  varnock::UniqueFd listener_;
  std::thread thread_;
};

std::string make_content(std::size_t size) {
  static const std::string pattern =
      "The quick brown fox jumps over the lazy dog. caf\xc3\xa9 \"quoted\"\tline\n";
  std::string content;
  content.reserve(size + pattern.size());
  while (content.size() < size) content += pattern;
  content.resize(size);
  // Never end inside a multi-byte character: the line must stay UTF-8.
  while (!content.empty() && static_cast<unsigned char>(content.back()) >= 0x80) {
    content.pop_back();
  }
  return content;
}

std::string json_string(const std::string& text) {
  std::string out;
  varnock::json::write_string(text, out);
  return out;
}

std::string write_file_request(int id, const std::string& content,
                               const std::string& path = "bench.txt") {
  return "{\"jsonrpc\":\"2.0\",\"id\":" + std::to_string(id) +
         ",\"method\":\"tools/call\",\"params\":{\"name\":\"write_file\",\"arguments\":{"
         "\"path\":" + json_string(path) + ",\"content\":" +
         json_string(content) + ",\"explanationInMarkdown\":\"- measures a round trip\"}}}\n";
}

const char* kInitialize =
    "{\"jsonrpc\":\"2.0\",\"id\":0,\"method\":\"initialize\",\"params\":{}}\n";

// Copies `bytes` through a connected Unix socket pair and back out.
double socket_copy_seconds(const std::string& bytes) {
  int fds[2];
  if (socketpair(AF_UNIX, SOCK_STREAM, 0, fds) != 0) die("socketpair");
  auto start = Clock::now();
  std::thread writer([&] { send_bytes(fds[0], bytes); });
  std::vector<char> block(1 << 16);
  std::size_t got = 0;
  while (got < bytes.size()) {
    ssize_t n = read(fds[1], block.data(), block.size());
    if (n <= 0) die("socket read");
    got += static_cast<std::size_t>(n);
  }
  writer.join();
  double elapsed = seconds_since(start);
  close(fds[0]);
  close(fds[1]);
  return elapsed;
}

void print_row(const char* what, double value, const char* unit, double floor,
               const char* floor_name) {
  std::printf("%-44s %12.3f %-6s floor %-22s %12.3f %-6s ratio %7.2f\n", what, value, unit,
              floor_name, floor, unit, value / floor);
}

void bench_spawn(const std::string& server, int runs) {
  std::vector<double> server_times, echo_times;
  for (int i = 0; i < runs; ++i) {
    auto start = Clock::now();
    Child child = Child::start({server}, "", {});
    child.round_trip(kInitialize);
    server_times.push_back(seconds_since(start));
    child.finish();
    start = Clock::now();
    Child echo = Child::start({"/bin/cat"}, "", {});
    echo.round_trip(kInitialize);
    echo_times.push_back(seconds_since(start));
    echo.finish();
  }
  print_row("spawn to initialize answer (median)", median(server_times) * 1e6, "us",
            median(echo_times) * 1e6, "spawn cat, echo line");
}

void bench_round_trips(const std::string& server, const std::string& workspace, bool quick) {
  const std::string socket_path = workspace + "/broker.sock";
  AcceptingBroker broker(socket_path);
  std::vector<std::size_t> sizes = {1 << 10, 1 << 20, 10 << 20, 100 << 20};
  if (quick) sizes.pop_back();
  for (std::size_t size : sizes) {
    const std::string content = make_content(size);
    const int runs = size <= (1 << 20) ? 101 : (size <= (10 << 20) ? 11 : 3);
    for (bool with_broker : {true, false}) {
      std::vector<std::string> env;
      if (with_broker) env.push_back("VARNOCK_SOCKET=" + socket_path);
      Child child = Child::start({server}, workspace, env);
      child.round_trip(kInitialize);
      std::vector<double> times;
      for (int i = 0; i < runs; ++i) {
        const std::string request = write_file_request(i + 1, content);
        auto start = Clock::now();
        std::string answer = child.round_trip(request);
        times.push_back(seconds_since(start));
        if (answer.find("\"result\"") == std::string::npos) {
          std::fprintf(stderr, "unexpected answer: %.200s\n", answer.c_str());
          std::exit(1);
        }
      }
      long rss_kib = child.finish();
      // The floors, on the same request line.
      const std::string request = write_file_request(1, content);
      std::vector<double> echo_times, copy_times;
      Child echo = Child::start({"/bin/cat"}, "", {});
      for (int i = 0; i < runs; ++i) {
        auto start = Clock::now();
        echo.round_trip(request);
        echo_times.push_back(seconds_since(start));
        copy_times.push_back(socket_copy_seconds(request));
      }
      echo.finish();
      char label[128];
      std::snprintf(label, sizeof label, "write_file %s, %s (median)",
                    size >= (1 << 20) ? (std::to_string(size >> 20) + " MiB").c_str()
                                      : (std::to_string(size >> 10) + " KiB").c_str(),
                    with_broker ? "broker accepts" : "no broker");
      print_row(label, median(times) * 1e3, "ms", median(echo_times) * 1e3, "echo via cat pipe");
      print_row("    same, against a Unix-socket copy", median(times) * 1e3, "ms",
                median(copy_times) * 1e3, "socket copy");
      std::printf("    peak RSS %.1f MiB = %.2f x content\n", rss_kib / 1024.0,
                  rss_kib * 1024.0 / static_cast<double>(size));
    }
  }
}

void bench_tools_list(const std::string& server, int lines) {
  std::string input;
  for (int i = 0; i < lines; ++i) {
    input += "{\"jsonrpc\":\"2.0\",\"id\":" + std::to_string(i) + ",\"method\":\"tools/list\"}\n";
  }
  auto rate = [&](const std::vector<std::string>& argv) {
    Child child = Child::start(argv, "", {});
    auto start = Clock::now();
    std::thread writer([&] {
      send_bytes(child.in, input);
      close(child.in);
      child.in = -1;
    });
    for (int i = 0; i < lines; ++i) child.read_line();
    double elapsed = seconds_since(start);
    writer.join();
    close(child.out);
    waitpid(child.pid, nullptr, 0);
    return lines / elapsed;
  };
  double server_rate = rate({server});
  double echo_rate = rate({"/bin/cat"});
  std::printf("%-44s %12.0f %-6s floor %-22s %12.0f %-6s ratio %7.2f\n",
              "tools/list lines answered per second", server_rate, "/s", "lines echoed by cat",
              echo_rate, "/s", echo_rate / server_rate);
}

// Each of `servers` servers, connected to `socket`, sends `calls` proposals
// of 1 KiB one after another, all servers at once; gives proposals per second.
double proposals_per_second(const std::string& server, const std::string& workspace,
                            const std::string& socket, int servers, int calls) {
  std::vector<Child> children;
  for (int i = 0; i < servers; ++i) {
    children.push_back(Child::start({server}, workspace, {"VARNOCK_SOCKET=" + socket}));
    children.back().round_trip(kInitialize);
  }
  static int run = 0;
  ++run;
  const std::string content = make_content(1 << 10);
  auto start = Clock::now();
  std::vector<std::thread> threads;
  for (int i = 0; i < servers; ++i) {
    threads.emplace_back([&, i] {
      for (int call = 1; call <= calls; ++call) {
        char path[64];
        std::snprintf(path, sizeof path, "r%d-s%d-%d.txt", run, i, call);
        const std::string answer = children[i].round_trip(write_file_request(call, content, path));
        if (answer.find("\"result\"") == std::string::npos) {
          std::fprintf(stderr, "unexpected answer: %.200s\n", answer.c_str());
          std::exit(1);
        }
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  const double elapsed = seconds_since(start);
  for (Child& child : children) child.finish();
  return servers * calls / elapsed;
}

void bench_reviewer(const std::string& server, const std::string& reviewer,
                    const std::string& workspace) {
  constexpr int kServers = 50, kCalls = 20;
  const std::string socket = workspace + "/review.sock";
  Child broker = Child::start({reviewer, "--socket", socket, "--auto", "accept", "--no-journal"},
                              workspace, {});
  std::thread drain([&] {
    char block[1 << 16];
    while (read(broker.out, block, sizeof block) > 0) {
    }
  });
  for (int i = 0; i < 500 && access(socket.c_str(), F_OK) != 0; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  const double reviewed = proposals_per_second(server, workspace, socket, kServers, kCalls);
  kill(broker.pid, SIGTERM);
  close(broker.in);
  waitpid(broker.pid, nullptr, 0);
  drain.join();
  close(broker.out);
  const std::string floor_socket = workspace + "/floor.sock";
  double floor = 0;
  {
    AcceptingBroker accepting(floor_socket);
    floor = proposals_per_second(server, workspace, floor_socket, kServers, kCalls);
  }
  std::printf("%-44s %12.0f %-6s floor %-22s %12.0f %-6s ratio %7.2f\n",
              "reviewer --auto accept, 50 x 20 of 1 KiB", reviewed, "/s",
              "broker accepting at once", floor, "/s", floor / reviewed);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s SERVER [--quick]\n", argv[0]);
    return 2;
  }
  signal(SIGPIPE, SIG_IGN);
  std::setvbuf(stdout, nullptr, _IOLBF, 0);
  char* resolved = realpath(argv[1], nullptr);
  if (resolved == nullptr) die(argv[1]);
  const std::string server = resolved;  // the children run in another directory
  std::free(resolved);
  bool quick = false;
  std::string reviewer;
  for (int i = 2; i < argc; ++i) {
    if (std::strcmp(argv[i], "--quick") == 0) quick = true;
    if (std::strcmp(argv[i], "--reviewer") == 0 && i + 1 < argc) reviewer = argv[++i];
  }
  char workspace_template[] = "/tmp/varnock-bench-XXXXXX";
  const std::string workspace = mkdtemp(workspace_template);
  if (!reviewer.empty()) {
    bench_reviewer(server, reviewer, workspace);
    std::filesystem::remove_all(workspace);
    return 0;
  }
  bench_spawn(server, quick ? 21 : 201);
  bench_round_trips(server, workspace, quick);
  bench_tools_list(server, quick ? 20000 : 200000);
  rmdir(workspace.c_str());
  return 0;
}
