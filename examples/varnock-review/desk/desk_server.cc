#include "desk_server.h"

#include "beast_fwd.h"
#include "desk_hub.h"
#include "desk_proof.h"
#include "http_session.h"
#include "token.h"

namespace varnock::desk {

// Accepts connections while there is room for them (or a stranger to make
// room from).
class Listener : public std::enable_shared_from_this<Listener> {
 public:
  Listener(boost::asio::io_context& io, std::shared_ptr<DeskHub> hub)
      : acceptor_(io), retry_(io), hub_(std::move(hub)) {}

  Status listen(const tcp::endpoint& endpoint) {
    beast::error_code error;
    acceptor_.open(endpoint.protocol(), error);
    if (!error) acceptor_.set_option(boost::asio::socket_base::reuse_address(true), error);
    if (!error) acceptor_.bind(endpoint, error);
    if (!error) acceptor_.listen(boost::asio::socket_base::max_listen_connections, error);
    if (error) return fail("cannot listen on " + endpoint_text(endpoint) + ": " + error.message());
    return {};
  }

  void accept_next() {
    acceptor_.async_accept(
        [self = shared_from_this()](beast::error_code error, tcp::socket socket) {
          if (error == boost::asio::error::operation_aborted || !self->acceptor_.is_open()) return;
          if (error) return self->accept_later();
          if (self->hub_->make_room()) {
            auto session = std::make_shared<HttpSession>(std::move(socket), self->hub_);
            self->hub_->add(session);
            session->start();
          }
          self->accept_next();
        });
  }

  // A failed accept (out of descriptors, most often) would fail again at
  // once: try again in a second instead of spinning.
  void accept_later() {
    retry_.expires_after(std::chrono::seconds(1));
    retry_.async_wait([self = shared_from_this()](beast::error_code waited) {
      if (!waited && self->acceptor_.is_open()) self->accept_next();
    });
  }

  void stop() {
    beast::error_code ignored;
    acceptor_.close(ignored);
    retry_.cancel();
  }

  tcp::endpoint endpoint() const { return acceptor_.local_endpoint(); }

  static std::string endpoint_text(const tcp::endpoint& endpoint) {
    const std::string address = endpoint.address().to_string();
    const std::string host = endpoint.address().is_v6() ? "[" + address + "]" : address;
    return host + ":" + std::to_string(endpoint.port());
  }

 private:
  tcp::acceptor acceptor_;
  boost::asio::steady_timer retry_;
  std::shared_ptr<DeskHub> hub_;
};

namespace {

Result<tcp::endpoint> listen_endpoint(const DeskOptions& options) {
  beast::error_code error;
  const auto address = boost::asio::ip::make_address(options.host, error);
  if (error) return fail("the desk's address must be an IP address: " + options.host);
  if (!address.is_loopback() && !options.allow_remote) {
    return fail("refusing to serve the desk on " + options.host +
                ", which is not a loopback address, without --web-allow-remote");
  }
  return tcp::endpoint(address, options.port);
}

void subscribe(DeskSource& source, const std::weak_ptr<DeskHub>& weak_hub) {
  source.subscribe([weak_hub](const DeskEvent& event) {
    const std::shared_ptr<DeskHub> hub = weak_hub.lock();
    if (!hub || hub->stopped) return;
    // A view is kept only while its proposal waits as it was.
    if (event.kind != DeskEvent::Kind::kQueued && event.kind != DeskEvent::Kind::kReverted) {
      hub->api.forget(event.number);
    }
    hub->broadcast(DeskApi::event_json(event));
  });
}

}  // namespace

Result<std::unique_ptr<DeskServer>> DeskServer::start(boost::asio::io_context& io,
                                                      DeskSource& source,
                                                      const DeskOptions& options) {
  Result<tcp::endpoint> endpoint = listen_endpoint(options);
  if (!endpoint.ok()) return fail(std::move(endpoint).failure());
  Result<std::string> token =
      options.token.empty() ? random_token() : Result<std::string>(options.token);
  if (!token.ok()) return fail(std::move(token).failure());
  auto hub = std::make_shared<DeskHub>(DeskIdentity{}, source, options.max_connections);
  auto listener = std::make_shared<Listener>(io, hub);
  if (Status listening = listener->listen(endpoint.value()); !listening.ok()) {
    return fail(listening.failure());
  }
  const std::string authority = Listener::endpoint_text(listener->endpoint());
  hub->identity = desk_identity(authority, token.value(), hub->api.run());
  subscribe(source, hub);
  listener->accept_next();
  std::string url = "http://" + authority + "/?token=" + token.value();
  return std::unique_ptr<DeskServer>(new DeskServer(hub, listener, std::move(url)));
}

DeskServer::DeskServer(std::shared_ptr<DeskHub> hub, std::shared_ptr<Listener> listener,
                       std::string url)
    : hub_(std::move(hub)), listener_(std::move(listener)), url_(std::move(url)) {}

std::size_t DeskServer::kept_bytes() const { return hub_->api.kept_bytes(); }

DeskServer::~DeskServer() {
  listener_->stop();
  hub_->close_all();
}

}  // namespace varnock::desk
