#include "event_socket.h"

namespace varnock::desk {
namespace {

constexpr std::size_t kMaxQueuedEvents = 256;
// The page sends nothing; anything larger than this is refused.
constexpr std::size_t kMaxIncomingMessage = 1024;

}  // namespace

EventSocket::EventSocket(tcp::socket socket, std::shared_ptr<DeskHub> hub)
    : socket_(std::move(socket)), hub_(std::move(hub)) {}

void EventSocket::accept(Request upgrade) {
  beast::get_lowest_layer(socket_).expires_never();
  socket_.set_option(websocket::stream_base::timeout::suggested(beast::role_type::server));
  socket_.read_message_max(kMaxIncomingMessage);
  socket_.set_option(
      websocket::stream_base::decorator([hub = hub_](websocket::response_type& response) {
        for (const auto& [name, value] : security_headers(hub->identity)) response.set(name, value);
      }));
  socket_.async_accept(upgrade,
                       beast::bind_front_handler(&EventSocket::on_accept, shared_from_this()));
}

void EventSocket::on_accept(beast::error_code error) {
  if (error) return;
  open_ = true;
  read_next();
  if (!outgoing_.empty()) write_next();
}

// Reading keeps the control frames (ping, close) flowing; what the page
// sends is dropped.
void EventSocket::read_next() {
  socket_.async_read(incoming_, [self = shared_from_this()](beast::error_code error, std::size_t) {
    if (error) return self->close();
    self->incoming_.consume(self->incoming_.size());
    self->read_next();
  });
}

void EventSocket::deliver(std::shared_ptr<const std::string> event) {
  if (outgoing_.size() >= kMaxQueuedEvents) return close();
  outgoing_.push_back(std::move(event));
  if (open_ && outgoing_.size() == 1) write_next();
}

void EventSocket::write_next() {
  socket_.text(true);
  socket_.async_write(boost::asio::buffer(*outgoing_.front()),
                      [self = shared_from_this()](beast::error_code error, std::size_t) {
                        if (error) return self->close();
                        self->outgoing_.pop_front();
                        if (!self->outgoing_.empty()) self->write_next();
                      });
}

void EventSocket::close() {
  // The queue stays: a write in progress still refers to its front.
  open_ = false;
  beast::error_code ignored;
  beast::get_lowest_layer(socket_).socket().close(ignored);
}

}  // namespace varnock::desk
