#include "desk_proof.h"

#include <openssl/evp.h>
#include <openssl/hmac.h>

#include <algorithm>

#include "base/hex.h"
#include "json/write.h"
#include "request_check.h"

namespace varnock::desk {
namespace {

constexpr std::size_t kMinNonce = 32;
constexpr std::size_t kMaxNonce = 128;

bool is_nonce(std::string_view text) {
  return text.size() >= kMinNonce && text.size() <= kMaxNonce &&
         std::all_of(text.begin(), text.end(),
                     [](char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); });
}

}  // namespace

std::string desk_proof(std::string_view token, std::string_view authority, std::string_view nonce) {
  const std::string message = "varnock-review desk " + std::string(authority) + " " +
                              std::string(nonce);
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  HMAC(EVP_sha256(), token.data(), static_cast<int>(token.size()),
       reinterpret_cast<const unsigned char*>(message.data()), message.size(), digest, &length);
  return to_hex({reinterpret_cast<const char*>(digest), length});
}

Reply proof_reply(std::string_view target, std::string_view token, std::string_view authority) {
  const std::string nonce = query_value(target, "nonce");
  if (!is_nonce(nonce)) return json_error(400, "the nonce must be 32 to 128 lowercase hex digits");
  json::Value::Object body;
  body["proof"] = json::Value(desk_proof(token, authority, nonce));
  return {200, "application/json", json::write(json::Value(std::move(body)))};
}

}  // namespace varnock::desk
