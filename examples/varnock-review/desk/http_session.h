// One HTTP connection to the desk: reads requests one at a time (bounded in
// size and time), checks each (request_check.h), and answers with a page
// file or the API, or hands the connection to an EventSocket.
#pragma once

#include <memory>
#include <optional>

#include "beast_fwd.h"
#include "desk_hub.h"

namespace varnock::desk {

// Reads a request without its cookies, which the desk never uses: any page
// on this host can give the browser cookies for the desk's host (a cookie
// knows no port), up to 180 of 4 KiB each, sent on every request. Any other
// header field longer than Beast keeps fails the read.
class RequestParser : public http::request_parser<http::string_body> {
 private:
  void on_field_impl(http::field name, beast::string_view name_string, beast::string_view value,
                     beast::error_code& error) override;
};

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
  void respond(const Request& request);
  void send(Response response);

  beast::tcp_stream stream_;
  std::shared_ptr<DeskHub> hub_;
  beast::flat_buffer buffer_;
  std::optional<RequestParser> parser_;
  std::shared_ptr<Response> response_;  // alive while it is written
  bool trusted_ = false;                // a request on it showed the token
};

}  // namespace varnock::desk
