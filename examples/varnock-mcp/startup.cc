#include "startup.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>

#include "fd_output.h"
#include "json/result.h"
#include "json/text.h"
#include "json/value.h"
#include "json/write.h"
#include "mcp/os_error.h"

namespace varnock {
namespace {

constexpr const char* kSocketVariable = "VARNOCK_SOCKET";
constexpr const char* kThreadIdVariable = "VARNOCK_THREAD_ID";
constexpr const char* kNullDevice = "/dev/null";

constexpr std::string_view kInteriorNul = "paths must not contain interior null bytes";
constexpr std::string_view kPathTooLong = "path must be shorter than SUN_LEN";
constexpr std::string_view kConnectFailed = "broker connect failed ";
constexpr std::string_view kConnected = "connected broker ";

// Opens `fd` on /dev/null when it is closed; aborts when that fails.
void open_on_null_device_if_closed(int fd) {
  if (fcntl(fd, F_GETFD) != -1 || errno != EBADF) return;
  int opened = open(kNullDevice, O_RDWR);
  if (opened < 0) std::abort();
  // The lowest free number is taken, which is `fd` itself when the lower
  // standard descriptors are open; move it there otherwise.
  if (opened != fd) {
    if (dup2(opened, fd) < 0) std::abort();
    close(opened);
  }
}

// The variable's value when it is set and valid UTF-8.
std::optional<std::string_view> utf8_environment(const char* name) {
  const char* value = std::getenv(name);
  if (value == nullptr || !json::is_valid_utf8(value)) return std::nullopt;
  return std::string_view(value);
}

Failure os_failure(int error_number) { return fail(mcp::os_error_text(error_number)); }

// Makes one attempt, with no retry, to connect a new Unix-domain stream
// socket to `path`. Gives the connected descriptor, or the failure's
// description: the system's text ("Connection refused (os error 111)"), or,
// with no attempt made, "paths must not contain interior null bytes" or
// "path must be shorter than SUN_LEN".
Result<int> connect_unix_socket(std::string_view path) {
  sockaddr_un address = {};
  address.sun_family = AF_UNIX;
  // The system reads the path up to its first NUL; a path holding one would
  // name some other socket, so it is refused before anything is tried.
  if (path.find('\0') != std::string_view::npos) return fail(std::string(kInteriorNul));
  if (path.size() >= sizeof address.sun_path) return fail(std::string(kPathTooLong));
  std::memcpy(address.sun_path, path.data(), path.size());
  // The length counts the terminating NUL after a non-empty path. An empty
  // path contributes no byte at all, so the system refuses the address
  // itself rather than reading it as an abstract name.
  socklen_t length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + path.size() +
                                            (path.empty() ? 0 : 1));
  int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return os_failure(errno);
  if (connect(fd, reinterpret_cast<const sockaddr*>(&address), length) != 0) {
    int error_number = errno;
    close(fd);
    return os_failure(error_number);
  }
  return fd;
}

// The hello line that opens every broker connection:
// {"pid":731,"role":"main","threadId":"t-9","type":"hello"} and a line feed.
std::string hello_line(std::uint32_t pid, std::string_view thread_id) {
  json::Value::Object hello;
  hello.emplace("pid", json::Value(std::uint64_t{pid}));
  hello.emplace("role", json::Value("main"));
  hello.emplace("threadId", json::Value(thread_id));
  hello.emplace("type", json::Value("hello"));
  std::string line = json::write(json::Value(std::move(hello)));
  line.push_back('\n');
  return line;
}

}  // namespace

void prepare_process() {
  for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) open_on_null_device_if_closed(fd);
  struct sigaction ignore = {};
  ignore.sa_handler = SIG_IGN;
  sigemptyset(&ignore.sa_mask);
  sigaction(SIGPIPE, &ignore, nullptr);
}

std::unique_ptr<BrokerConnection> connect_broker() {
  std::optional<std::string_view> path = utf8_environment(kSocketVariable);
  if (!path) return nullptr;
  Result<int> socket = connect_unix_socket(*path);
  if (!socket.ok()) {
    write_diagnostic(
        std::string(kConnectFailed).append(*path).append(": ").append(socket.failure()));
    return nullptr;
  }
  auto broker = std::make_unique<BrokerConnection>(socket.value());
  std::string_view thread_id = utf8_environment(kThreadIdVariable).value_or("");
  // A hello that cannot be sent is not reported: the connection stays, and a
  // later review finds out what became of the broker.
  (void)broker->write_all(hello_line(static_cast<std::uint32_t>(getpid()), thread_id));
  write_diagnostic(std::string(kConnected).append(*path));
  return broker;
}

}  // namespace varnock
