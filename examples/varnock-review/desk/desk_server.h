// The review desk's web server: serves the page and its API on the
// caller's io_context and pushes the source's events to every open page.
#pragma once

#include <boost/asio/io_context.hpp>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "base/result.h"
#include "desk/desk_source.h"

namespace varnock::desk {

struct DeskOptions {
  std::string host = "127.0.0.1";  // an IP address, not a name
  std::uint16_t port = 0;          // 0: any free port
  // Listening on an address other than loopback exposes the proposals and
  // the Accept button to the network (guarded by the token only, over plain
  // HTTP), so it needs the caller's explicit consent (--web-allow-remote).
  bool allow_remote = false;
  std::size_t max_connections = 32;  // HTTP and WebSocket together
  // The secret a browser must show (desk/token.h's form); empty: a new
  // random one.
  std::string token;
};

struct DeskHub;
class Listener;

class DeskServer {
 public:
  // Listens on `options.host`:`options.port` and subscribes to `source`;
  // serving starts when the caller runs `io`. Fails when the address is not
  // an IP address, is not loopback without allow_remote, or cannot be bound.
  // `source` must outlive the server.
  static Result<std::unique_ptr<DeskServer>> start(boost::asio::io_context& io, DeskSource& source,
                                                   const DeskOptions& options);
  // Stops listening and closes every connection.
  ~DeskServer();
  DeskServer(const DeskServer&) = delete;
  DeskServer& operator=(const DeskServer&) = delete;

  // "http://127.0.0.1:PORT/?token=SECRET": the address to open, the only
  // one that lets a browser in.
  const std::string& url() const { return url_; }
  // "http://127.0.0.1:PORT/": the address without its token.
  std::string address() const { return url_.substr(0, url_.find('?')); }
  // Bytes the desk keeps of waiting proposals (the views it built).
  std::size_t kept_bytes() const;

 private:
  DeskServer(std::shared_ptr<DeskHub> hub, std::shared_ptr<Listener> listener, std::string url);

  std::shared_ptr<DeskHub> hub_;
  std::shared_ptr<Listener> listener_;
  std::string url_;
};

}  // namespace varnock::desk
