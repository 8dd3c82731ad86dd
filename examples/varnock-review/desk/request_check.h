// Who may talk to the desk: the checks every request passes before any
// handling, and the headers every response carries. Pure functions, so the
// rules can be read and tested as a table.
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace varnock::desk {

// What the desk is, for the checks.
struct DeskIdentity {
  std::string authority;    // "127.0.0.1:8123": the only Host accepted
  std::string token;        // the run's secret
  std::string cookie_name;  // the cookie that carries the secret
};

// The parts of a request the checks read; absent headers are "".
struct RequestFacts {
  std::string_view method;
  std::string_view target;  // path and query, e.g. "/?token=..."
  std::string_view host;
  std::string_view origin;
  std::string_view cookie;
  std::string_view token_header;  // X-Desk-Token
  std::string_view sec_fetch_site;
  bool websocket_upgrade = false;
};

struct Verdict {
  int status = 200;         // 200 to go on; otherwise the refusal's status
  std::string_view reason;  // why it was refused, for the response body
  bool set_cookie = false;  // the token came in the address: hand out the cookie
  bool by_token = false;    // the token itself was shown, not only the cookie
};

// The checks, in order: the Host must be the desk's own (a page on
// another name that resolves to the loopback address gets 403); a request
// from another site's page (Sec-Fetch-Site cross-site or same-site) gets
// 403; a WebSocket upgrade or any method but GET must carry the desk's
// own Origin (403); only GET and POST are known (405); then the token
// (401 without it). What reads or answers the queue needs the token itself:
// in the X-Desk-Token header, or, for the event socket (which cannot send
// headers), in the address as "?token=...". A cookie reaches every server
// on this host, whatever its port, so the cookie only fetches the page's
// own files, which are the same for everyone; the page itself ("/") also
// takes the token in the address, and then hands out the cookie.
Verdict check_request(const RequestFacts& request, const DeskIdentity& desk);

// The path of `target` without its query.
std::string_view target_path(std::string_view target);
// The value of `name` in the query of `target`, "" when absent.
std::string_view query_value(std::string_view target, std::string_view name);

// The headers every response carries: the content security policy, no
// sniffing, no referrer, no caching, no framing.
std::vector<std::pair<std::string, std::string>> security_headers(const DeskIdentity& desk);

// The Set-Cookie value that hands the token to the page.
std::string token_cookie(const DeskIdentity& desk);

}  // namespace varnock::desk
