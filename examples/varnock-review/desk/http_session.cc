#include "http_session.h"

#include <chrono>

#include "desk_proof.h"
#include "event_socket.h"
#include "page_files.h"

namespace varnock::desk {
namespace {

// Above what a browser sends with the most cookies it keeps for a host, so
// that cookies set by another page cannot lock the person out.
constexpr std::size_t kMaxHeader = 1024 * 1024;
// Beast keeps a field's name and value in at most 64 KiB.
constexpr std::size_t kMaxField = 60 * 1024;
constexpr std::size_t kMaxBody = 1024;  // the only body is "accept" or "reject"
constexpr auto kReadTimeout = std::chrono::seconds(30);
constexpr std::string_view kEventsPath = "/events";
constexpr std::string_view kProofPath = "/proof";

// `Name` is an http::field or, for headers Beast has no name for, a text.
template <class Name>
std::string_view header(const Request& request, Name name) {
  const auto found = request.find(name);
  if (found == request.end()) return "";
  return {found->value().data(), found->value().size()};
}

RequestFacts facts_of(const Request& request) {
  return {{request.method_string().data(), request.method_string().size()},
          {request.target().data(), request.target().size()},
          header(request, http::field::host),
          header(request, http::field::origin),
          header(request, beast::string_view("X-Desk-Token")),
          header(request, beast::string_view("Sec-Fetch-Site")),
          websocket::is_upgrade(request)};
}

// What is needed of a request to reply to it.
struct Replying {
  unsigned version = 11;
  bool keep_alive = false;
};

Response reply_to(Replying request, const Reply& reply, const DeskIdentity& desk) {
  Response response(static_cast<http::status>(reply.status), request.version);
  response.set(http::field::content_type, reply.content_type);
  for (const auto& [name, value] : security_headers(desk)) response.set(name, value);
  response.keep_alive(request.keep_alive);
  response.body() = reply.body;
  response.prepare_payload();
  return response;
}

Response reply_to(const Request& request, const Reply& reply, const DeskIdentity& desk) {
  return reply_to(Replying{request.version(), request.keep_alive()}, reply, desk);
}

}  // namespace

void RequestParser::on_field_impl(http::field name, beast::string_view name_string,
                                  beast::string_view value, beast::error_code& error) {
  if (name == http::field::cookie) return;
  if (name_string.size() + value.size() > kMaxField) {
    error = http::error::header_limit;
    return;
  }
  get().insert(name, name_string, value);
}

HttpSession::HttpSession(tcp::socket socket, std::shared_ptr<DeskHub> hub)
    : stream_(std::move(socket)), hub_(std::move(hub)) {}

void HttpSession::read_next() {
  parser_.emplace();
  parser_->header_limit(kMaxHeader);
  parser_->body_limit(kMaxBody);
  stream_.expires_after(kReadTimeout);
  http::async_read(stream_, buffer_, *parser_,
                   beast::bind_front_handler(&HttpSession::on_read, shared_from_this()));
}

void HttpSession::on_read(beast::error_code error, std::size_t) {
  if (error || hub_->stopped) return close();
  Request request = parser_->release();
  const Verdict verdict = check_request(facts_of(request), hub_->identity);
  if (verdict.status != 200) {
    return send(reply_to(
        request, {verdict.status, "text/plain; charset=utf-8", std::string(verdict.reason) + "\n"},
        hub_->identity));
  }
  trusted_ = trusted_ || verdict.by_token;
  if (websocket::is_upgrade(request)) return upgrade(std::move(request));
  respond(request);
}

void HttpSession::upgrade(Request request) {
  if (target_path(request.target()) != kEventsPath) {
    return send(
        reply_to(request, {404, "text/plain; charset=utf-8", "not found\n"}, hub_->identity));
  }
  auto socket = std::make_shared<EventSocket>(stream_.release_socket(), hub_);
  hub_->add(socket);
  socket->accept(std::move(request));
}

// The API may reply later (past decisions are read off the loop); no other
// request is read on this connection meanwhile.
void HttpSession::respond(const Request& request) {
  const std::string_view target(request.target().data(), request.target().size());
  const std::string_view path = target_path(target);
  Reply reply;
  if (path.substr(0, 5) == "/api/") {
    const std::string_view method(request.method_string().data(), request.method_string().size());
    const Replying replying{request.version(), request.keep_alive()};
    return hub_->api.handle(method, target, request.body(),
                            [self = shared_from_this(), replying](const Reply& made) {
                              if (self->hub_->stopped) return self->close();
                              self->send(reply_to(replying, made, self->hub_->identity));
                            });
  } else if (path == kProofPath && request.method() == http::verb::get) {
    reply = proof_reply(target, hub_->identity);
  } else if (const PageFile* file = page_file(path); file && request.method() == http::verb::get) {
    reply = {200, std::string(content_type(*file)), std::string(file->bytes)};
  } else {
    reply = {404, "text/plain; charset=utf-8", "not found\n"};
  }
  send(reply_to(request, reply, hub_->identity));
}

void HttpSession::send(Response response) {
  stream_.expires_after(kReadTimeout);
  response_ = std::make_shared<Response>(std::move(response));
  http::async_write(stream_, *response_,
                    [self = shared_from_this()](beast::error_code error, std::size_t) {
                      if (error || !self->response_->keep_alive()) return self->close();
                      self->read_next();
                    });
}

void HttpSession::close() {
  beast::error_code ignored;
  stream_.socket().shutdown(tcp::socket::shutdown_send, ignored);
  stream_.socket().close(ignored);
}

}  // namespace varnock::desk
