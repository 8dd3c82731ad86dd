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
  std::string authority;  // "127.0.0.1:8123": the only Host accepted
  std::string token;      // the desk's secret
  std::string run;        // this run's name, which the proof tells the tab
  std::string tab_key;    // what the tab sends in this run (desk_proof.h)
};

// The parts of a request the checks read; absent headers are "".
struct RequestFacts {
  std::string_view method;
  std::string_view target;  // path and query, e.g. "/?token=..."
  std::string_view host;
  std::string_view origin;
  std::string_view token_header;  // X-Desk-Token
  std::string_view sec_fetch_site;
  bool websocket_upgrade = false;
};

struct Verdict {
  int status = 200;         // 200 to go on; otherwise the refusal's status
  std::string_view reason;  // why it was refused, for the response body
  bool by_token = false;    // the token was shown
};

// The checks, in order: the Host must be the desk's own (a page on
// another name that resolves to the loopback address gets 403); a request
// from another site's page (Sec-Fetch-Site cross-site or same-site) gets
// 403; a WebSocket upgrade or any method but GET must carry the desk's
// own Origin (403); only GET and POST are known (405); then the token
// (401 without it). The page's own files hold no secret and are the same
// for everyone, so they need no token. What reads or answers the queue
// needs the token, or the run's tab key which the page sends instead: in
// the X-Desk-Token header, or, for the event socket (which cannot send
// headers), in the address as "?token=...". An empty secret opens nothing.
// No cookie is read or set: a cookie reaches every server on this host,
// whatever its port, and any page on this host can set one.
Verdict check_request(const RequestFacts& request, const DeskIdentity& desk);

// The path of `target` without its query.
std::string_view target_path(std::string_view target);
// The value of the first `name` in the query of `target`, percent-decoded;
// "" when there is none, or when `target` is not a path and query as a
// request line carries them ("/events?token=..."), such as one with a
// malformed percent escape.
std::string query_value(std::string_view target, std::string_view name);

// The headers every response carries: the content security policy, no
// sniffing, no referrer, no caching, no framing.
std::vector<std::pair<std::string, std::string>> security_headers(const DeskIdentity& desk);

}  // namespace varnock::desk
