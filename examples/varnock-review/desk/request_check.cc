#include "request_check.h"

#include <boost/url/parse.hpp>

namespace varnock::desk {
namespace {

// Compares in time independent of where the texts differ, so that the
// token cannot be guessed byte by byte from response times.
bool same_secret(std::string_view a, std::string_view b) {
  if (a.empty() || a.size() != b.size()) return false;
  unsigned char difference = 0;
  for (std::size_t i = 0; i < a.size(); ++i) {
    difference |= static_cast<unsigned char>(a[i] ^ b[i]);
  }
  return difference == 0;
}

bool shows_secret(std::string_view shown, const DeskIdentity& desk) {
  return same_secret(shown, desk.token) || same_secret(shown, desk.tab_key);
}

bool changes_state(const RequestFacts& request) {
  return request.websocket_upgrade || request.method != "GET";
}

bool from_other_site(std::string_view sec_fetch_site) {
  return sec_fetch_site == "cross-site" || sec_fetch_site == "same-site";
}

}  // namespace

std::string_view target_path(std::string_view target) { return target.substr(0, target.find('?')); }

std::string query_value(std::string_view target, std::string_view name) {
  const auto parsed = boost::urls::parse_origin_form(target);
  if (!parsed.has_value()) return "";
  const boost::urls::params_view params = parsed->params();
  const auto found = params.find(name);
  return found == params.end() ? "" : (*found).value;
}

Verdict check_request(const RequestFacts& request, const DeskIdentity& desk) {
  if (request.host != desk.authority) return {403, "unknown host"};
  if (from_other_site(request.sec_fetch_site)) return {403, "request from another site"};
  const std::string origin = "http://" + desk.authority;
  if (changes_state(request) && request.origin != origin) return {403, "foreign origin"};
  if (request.method != "GET" && request.method != "POST") {
    return {405, "method not allowed"};
  }
  if (shows_secret(request.token_header, desk)) return {200, "", true};
  const std::string_view path = target_path(request.target);
  const bool addressed = path == "/" || path == "/events";
  if (addressed && shows_secret(query_value(request.target, "token"), desk)) {
    return {200, "", true};
  }
  if (!path.starts_with("/api/") && path != "/events") return {};
  return {401, "missing or wrong token"};
}

std::vector<std::pair<std::string, std::string>> security_headers(const DeskIdentity& desk) {
  return {
      {"Content-Security-Policy",
       "default-src 'none'; script-src 'self'; style-src 'self'; img-src 'self'; "
       "connect-src 'self' ws://" +
           desk.authority + "; frame-ancestors 'none'; base-uri 'none'; form-action 'none'"},
      {"X-Content-Type-Options", "nosniff"},
      {"Referrer-Policy", "no-referrer"},
      {"Cache-Control", "no-store"},
      {"X-Frame-Options", "DENY"},
      {"Cross-Origin-Opener-Policy", "same-origin"},
      {"Cross-Origin-Resource-Policy", "same-origin"},
  };
}

}  // namespace varnock::desk
