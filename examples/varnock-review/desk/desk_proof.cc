#include "desk_proof.h"

#include <openssl/evp.h>
#include <openssl/hmac.h>

#include <algorithm>
#include <boost/url/parse.hpp>
#include <chrono>

#include "base/hex.h"
#include "beast_fwd.h"
#include "json/parse.h"
#include "json/write.h"
#include "request_check.h"
#include "token.h"

namespace varnock::desk {
namespace {

constexpr std::size_t kMinNonce = 32;
constexpr std::size_t kMaxNonce = 128;

bool is_nonce(std::string_view text) {
  return text.size() >= kMinNonce && text.size() <= kMaxNonce &&
         std::all_of(text.begin(), text.end(),
                     [](char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); });
}

std::string hmac_hex(std::string_view key, const std::string& message) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  HMAC(EVP_sha256(), key.data(), static_cast<int>(key.size()),
       reinterpret_cast<const unsigned char*>(message.data()), message.size(), digest, &length);
  return to_hex({reinterpret_cast<const char*>(digest), length});
}

constexpr auto kProofTimeout = std::chrono::seconds(5);

// GET `target` from the address `host` (no brackets) and `port`, sent as
// `authority`; the reply's body, within kProofTimeout.
Result<std::string> fetch(const std::string& host, const std::string& port,
                          const std::string& authority, const std::string& target) {
  boost::asio::io_context io;
  beast::tcp_stream stream(io);
  beast::flat_buffer buffer;
  Request request(http::verb::get, target, 11);
  request.set(http::field::host, authority);
  Response response;
  beast::error_code failed;
  stream.expires_after(kProofTimeout);
  tcp::resolver resolver(io);
  stream.async_connect(
      resolver.resolve(host, port, tcp::resolver::numeric_host | tcp::resolver::numeric_service,
                       failed),
      [&](beast::error_code error, const tcp::endpoint&) {
        if (error) return void(failed = error);
        http::async_write(stream, request, [&](beast::error_code error, std::size_t) {
          if (error) return void(failed = error);
          http::async_read(stream, buffer, response,
                           [&](beast::error_code error, std::size_t) { failed = error; });
        });
      });
  if (failed) return fail(failed.message());
  io.run();
  if (failed) return fail(failed.message());
  if (response.result_int() != 200) return fail("HTTP " + std::to_string(response.result_int()));
  return std::move(response.body());
}

}  // namespace

std::string desk_proof(std::string_view token, std::string_view authority, std::string_view nonce,
                       std::string_view run) {
  return hmac_hex(token, "varnock-review desk " + std::string(authority) + " " +
                             std::string(nonce) + " " + std::string(run));
}

std::string tab_key(std::string_view token, std::string_view authority, std::string_view run) {
  return hmac_hex(token, "varnock-review tab " + std::string(authority) + " " + std::string(run));
}

DeskIdentity desk_identity(std::string authority, std::string token, std::string run) {
  std::string key = tab_key(token, authority, run);
  return {std::move(authority), std::move(token), std::move(run), std::move(key)};
}

Reply proof_reply(std::string_view target, const DeskIdentity& desk) {
  const std::string nonce = query_value(target, "nonce");
  if (!is_nonce(nonce)) return json_error(400, "the nonce must be 32 to 128 lowercase hex digits");
  json::Value::Object body;
  body["proof"] = json::Value(desk_proof(desk.token, desk.authority, nonce, desk.run));
  body["run"] = json::Value(desk.run);
  return {200, "application/json", json::write(json::Value(std::move(body)))};
}

Status prove_desk(const std::string& desk_url, std::string_view token) {
  const auto url = boost::urls::parse_uri(desk_url);
  if (!url.has_value()) return fail("the desk's address " + desk_url + " is not a URL");
  // "[::1]:8737" as the desk names itself; the address without brackets.
  const std::string authority(url->encoded_host_and_port());
  const std::string host(url->host_address()), port(url->port());
  Result<std::string> made = random_token();  // as random as a token, and hex
  if (!made.ok()) return fail(made.failure());
  const std::string& nonce = made.value();
  const std::string why = "the desk at " + desk_url + " did not prove that it holds the token";
  Result<std::string> body = fetch(host, port, authority, "/proof?nonce=" + nonce);
  if (!body.ok()) return fail(why + " (" + body.failure() + ")");
  if (!proof_holds(body.value(), token, authority, nonce)) {
    return fail(why + ": another program may hold its port");
  }
  return {};
}

bool proof_holds(std::string_view reply, std::string_view token, std::string_view authority,
                 std::string_view nonce) {
  Result<json::Value> parsed = json::parse(reply);
  const json::Value* proof = parsed.ok() ? json::member(parsed.value(), "proof") : nullptr;
  const json::Value* run = parsed.ok() ? json::member(parsed.value(), "run") : nullptr;
  return proof != nullptr && proof->is_string() && run != nullptr && run->is_string() &&
         proof->as_string() == desk_proof(token, authority, nonce, run->as_string());
}

}  // namespace varnock::desk
