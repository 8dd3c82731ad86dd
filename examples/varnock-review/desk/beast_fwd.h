// The Beast and Asio names the desk's server files share.
#pragma once

#include <boost/asio/ip/tcp.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/websocket.hpp>

namespace varnock::desk {

namespace beast = boost::beast;
namespace http = boost::beast::http;
namespace websocket = boost::beast::websocket;
using tcp = boost::asio::ip::tcp;

using Request = http::request<http::string_body>;
using Response = http::response<http::string_body>;

}  // namespace varnock::desk
