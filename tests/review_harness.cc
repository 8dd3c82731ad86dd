#include "review_harness.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <charconv>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "base/io.h"
#include "base/unique_fd.h"

namespace varnock::test {
namespace {

ProcessOptions reviewer_options(const TempDir& files, std::vector<std::string> args,
                                const std::map<std::string, std::string>& environment,
                                std::vector<std::string> prefix) {
  ProcessOptions options;
  args.insert(args.begin(), VARNOCK_REVIEW_BINARY);
  args.insert(args.begin(), prefix.begin(), prefix.end());
  options.program = args.front();
  options.arguments.assign(args.begin() + 1, args.end());
  options.environment = environment;
  options.environment.emplace("XDG_STATE_HOME", files.path());
  options.output_directory = files.path();
  return options;
}

// True when /proc/net/unix lists a socket bound at `path` that listens (the
// kernel's __SO_ACCEPTCON flag), so that a connection to it is accepted.
bool listening(const std::string& path) {
  std::ifstream table("/proc/net/unix");
  for (std::string line; std::getline(table, line);) {
    std::istringstream row(line);
    std::string slot, references, protocol, flags, type, state, inode, name;
    row >> slot >> references >> protocol >> flags >> type >> state >> inode >> name;
    if (flags == "00010000" && name == path) return true;
  }
  return false;
}

}  // namespace

ReviewerProcess::ReviewerProcess(std::vector<std::string> args,
                                 const std::map<std::string, std::string>& environment,
                                 std::vector<std::string> prefix)
    : process_(reviewer_options(files_, std::move(args), environment, std::move(prefix))) {}

bool ReviewerProcess::wait_for(std::string_view needle, int timeout_ms) {
  return poll_until(
      [&] {
        const std::size_t at = out().find(needle, read_);
        if (at != std::string::npos) read_ = at + needle.size();
        return at != std::string::npos;
      },
      timeout_ms);
}

std::string ReviewerProcess::socket_path() { return rest_of_line("VARNOCK_SOCKET="); }

std::string ReviewerProcess::desk_url() { return rest_of_line("Review desk: "); }

std::string ReviewerProcess::rest_of_line(std::string_view start) {
  if (!wait_for(start)) return "<no line " + std::string(start) + ": " + out() + ">";
  const std::size_t from = read_;
  if (!wait_for("\n")) return "<no line " + std::string(start) + ": " + out() + ">";
  return out().substr(from, read_ - 1 - from);
}

std::string desk_request(const std::string& url, const std::string& method, const std::string& path,
                         const std::string& body) {
  const std::string authority = url.substr(7, url.find('/', 7) - 7);  // after "http://"
  const std::string token = url.substr(url.find("token=") + 6);
  const std::size_t colon = authority.rfind(':');
  std::uint16_t port = 0;
  std::from_chars(authority.data() + colon + 1, authority.data() + authority.size(), port);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  ::inet_pton(AF_INET, authority.substr(0, colon).c_str(), &address.sin_addr);
  UniqueFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  const timeval limit{30, 0};  // a reviewer that never answers fails the test, not hangs it
  ::setsockopt(fd.get(), SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
  if (::connect(fd.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    return "no answer";
  }
  const std::string request = method + " " + path + " HTTP/1.1\r\nHost: " + authority +
                              "\r\nOrigin: http://" + authority + "\r\nX-Desk-Token: " + token +
                              "\r\nContent-Length: " + std::to_string(body.size()) +
                              "\r\nConnection: close\r\n\r\n" + body;
  if (write_all(fd.get(), request) != 0) return "no answer";
  std::string reply;
  char buffer[65536];
  for (ssize_t n; (n = read_some(fd.get(), buffer, sizeof buffer)) > 0;) reply.append(buffer, n);
  const std::size_t body_start = reply.find("\r\n\r\n");
  if (!reply.starts_with("HTTP/1.1 ") || body_start == std::string::npos) return "no answer";
  return reply.substr(9, 4) + reply.substr(body_start + 4);
}

std::string desk_answer(const std::string& url, int number, const std::string& word) {
  const std::string proposal = "/api/proposals/" + std::to_string(number);
  desk_request(url, "GET", proposal);
  std::this_thread::sleep_for(std::chrono::milliseconds(600));
  return desk_request(url, "POST", proposal + "/answer", word);
}

int ReviewerProcess::stop(int signal) {
  if (signal != 0) process_.signal(signal);
  return process_.finish();
}

std::string hello_line(std::string_view pid) { return hello(pid, R"("t-raw")") + "\n"; }

std::string raw_proposal(const std::string& id, const std::string& path, const std::string& before,
                         const std::string& after, const std::string& explanation) {
  return proposal_line(id, path, before, after, explanation) + "\n";
}

ProcessOutput edit_through_server(const std::string& socket, const std::string& cwd,
                                  const std::string& path, const std::string& content) {
  return run_server(write_file_call(1, path, content, "- because"),
                    {.environment = {{"VARNOCK_SOCKET", socket}, {"VARNOCK_THREAD_ID", "t-e2e"}},
                     .working_directory = cwd});
}

std::string accepted_response(const std::string& path) {
  return result_response(1, receipt(path, kAcceptedMessage)) + "\n";
}

std::string rejected_response() { return error_response(1, kRejected) + "\n"; }

std::string real_path(const std::string& path) {
  return std::filesystem::weakly_canonical(path).string();
}

bool wait_until_listening(const std::string& path) {
  return poll_until([&] { return listening(path); });
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
