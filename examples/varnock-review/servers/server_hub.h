// The servers' side of the event loop: the Unix-socket acceptor and one
// session per connected server, feeding the review core. Sessions never
// block: reads and writes are asynchronous, each with its own write queue.
#pragma once

#include <boost/asio/io_context.hpp>
#include <boost/asio/local/stream_protocol.hpp>
#include <boost/asio/steady_timer.hpp>
#include <map>
#include <memory>
#include <string>

#include "core/review_core.h"
#include "servers/shared_state.h"

namespace varnock::review {

class Session;

class ServerHub {
 public:
  // Accepts on `listening_fd` (a listening Unix stream socket, which the hub
  // does not own). `core` must outlive the hub.
  ServerHub(boost::asio::io_context& io, ReviewCore& core, int listening_fd, HubSettings settings);
  ~ServerHub();
  ServerHub(const ServerHub&) = delete;  // the shared state points at this hub
  ServerHub& operator=(const ServerHub&) = delete;

  // Starts accepting connections.
  void start();
  // Stops accepting and closes every connection.
  void stop();

 private:
  bool within_budget(std::size_t more) const;
  void session_closed(int number);
  void accept_next();
  void on_accept_error(const boost::system::error_code& error);

  SharedState shared_;
  boost::asio::local::stream_protocol::acceptor acceptor_;
  boost::asio::steady_timer retry_;
  std::map<int, std::shared_ptr<Session>> sessions_;
  int next_number_ = 1;
  bool paused_ = false;  // at the descriptor limit; accept again when one closes
  bool stopped_ = false;
};

}  // namespace varnock::review
