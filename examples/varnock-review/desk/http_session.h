// One HTTP connection to the desk: reads requests one at a time (bounded in
// size and time), checks each (request_check.h), and answers with a page
// file or the API, or hands the connection to an EventSocket.
#pragma once

#include <memory>
#include <optional>

#include "beast_fwd.h"
#include "desk_hub.h"

namespace varnock::desk {

class HttpSession : public Connection, public std::enable_shared_from_this<HttpSession> {
 public:
  HttpSession(tcp::socket socket, std::shared_ptr<DeskHub> hub);

  void start() { read_next(); }
  void close() override;
  bool trusted() const override { return trusted_; }

 private:
  void read_next();
  void on_read(beast::error_code error, std::size_t);
  void upgrade(Request request);
  Response respond(const Request& request, bool set_cookie);
  void send(Response response);

  beast::tcp_stream stream_;
  std::shared_ptr<DeskHub> hub_;
  beast::flat_buffer buffer_;
  std::optional<http::request_parser<http::string_body>> parser_;
  std::shared_ptr<Response> response_;  // alive while it is written
  bool trusted_ = false;                // a request on it showed the token
};

}  // namespace varnock::desk
