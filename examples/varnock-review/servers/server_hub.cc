#include "servers/server_hub.h"

#include <sys/resource.h>

#include <cerrno>

#include "servers/session.h"

namespace varnock::review {
namespace {

namespace asio = boost::asio;

// Descriptors kept free for everything but connections: the journal, the
// terminal, and the walks, files and pipes of an apply or a diff. Each
// connection holds two (its socket and its workspace).
constexpr rlim_t kSpareDescriptors = 32;
constexpr auto kAcceptRetry = std::chrono::seconds(1);

std::size_t connection_capacity() {
  rlimit limit{};
  if (::getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) return 4096;
  if (limit.rlim_cur <= kSpareDescriptors + 2) return 1;
  return (limit.rlim_cur - kSpareDescriptors) / 2;
}

bool out_of_descriptors(const boost::system::error_code& error) {
  const int value = error.value();
  return value == EMFILE || value == ENFILE || value == ENOBUFS || value == ENOMEM;
}

}  // namespace

ServerHub::ServerHub(asio::io_context& io, ReviewCore& core, int listening_fd, HubSettings settings)
    : shared_{core, std::move(settings), [this](std::size_t more) { return within_budget(more); },
              [this](int number) { session_closed(number); }},
      acceptor_(io),
      retry_(io) {
  acceptor_.assign(asio::local::stream_protocol(), listening_fd);
}

// The acceptor does not own the listening descriptor.
ServerHub::~ServerHub() { acceptor_.release(); }

void ServerHub::start() { accept_next(); }

void ServerHub::stop() {
  stopped_ = true;
  retry_.cancel();
  boost::system::error_code ignored;
  acceptor_.cancel(ignored);
  const auto sessions = sessions_;
  for (const auto& [number, session] : sessions) session->close("");
}

bool ServerHub::within_budget(std::size_t more) const {
  std::size_t held = shared_.core.held_bytes() + more;
  for (const auto& [number, session] : sessions_) held += session->pending_bytes();
  return held <= shared_.settings.limits.memory_budget;
}

void ServerHub::session_closed(int number) {
  sessions_.erase(number);
  if (paused_ && !stopped_) {
    paused_ = false;
    retry_.cancel();
    accept_next();
  }
}

// Accepts one connection at a time; while the connections fill the
// descriptors there may be, the hub stops accepting until one closes.
void ServerHub::accept_next() {
  if (stopped_) return;
  if (sessions_.size() >= connection_capacity()) {
    paused_ = true;
    return;
  }
  acceptor_.async_accept(
      [this](const boost::system::error_code& error, asio::local::stream_protocol::socket socket) {
        if (stopped_ || error == asio::error::operation_aborted) return;
        if (error) return on_accept_error(error);
        const int number = next_number_++;
        auto session = std::make_shared<Session>(shared_, number, std::move(socket));
        sessions_.emplace(number, session);
        session->start();
        accept_next();
      });
}

// At the descriptor limit accepting again at once would fail again at
// once: wait for a connection to close, or a second, whichever is first.
void ServerHub::on_accept_error(const boost::system::error_code& error) {
  if (!out_of_descriptors(error)) return accept_next();
  if (!paused_) {
    shared_.core.notice("Out of file descriptors (" + error.message() + "); serving the " +
                        std::to_string(sessions_.size()) +
                        " connected server(s) and accepting again when one leaves.");
  }
  paused_ = true;
  retry_.expires_after(kAcceptRetry);
  retry_.async_wait([this](const boost::system::error_code& waited) {
    if (waited || stopped_ || !paused_) return;
    paused_ = false;
    accept_next();
  });
}

}  // namespace varnock::review
