// Who may talk to the desk: token, Host, Origin and the other site's pages,
// as one table; and the headers on every response.
#include "desk/request_check.h"

#include <gtest/gtest.h>

namespace varnock::desk {
namespace {

const DeskIdentity kDesk{"127.0.0.1:8123", "s3cret", "varnock_desk_8123"};
constexpr const char* kOrigin = "http://127.0.0.1:8123";
constexpr const char* kCookie = "other=1; varnock_desk_8123=s3cret";

struct Case {
  const char* name;
  RequestFacts request;
  int status;
  bool set_cookie = false;
};

RequestFacts get(const char* target, const char* cookie = kCookie) {
  return {"GET", target, "127.0.0.1:8123", "", cookie, "", false};
}

RequestFacts post(const char* origin, const char* cookie = kCookie) {
  return {"POST", "/api/proposals/1/answer", "127.0.0.1:8123", origin, cookie, "", false};
}

TEST(RequestCheck, Table) {
  RequestFacts foreign_host = get("/api/state");
  foreign_host.host = "attacker.example:8123";
  RequestFacts other_port = get("/api/state");
  other_port.host = "127.0.0.1:9999";
  RequestFacts cross_site = get("/api/state");
  cross_site.sec_fetch_site = "cross-site";
  RequestFacts same_site = get("/api/state");
  same_site.sec_fetch_site = "same-site";
  RequestFacts own_site = get("/api/state");
  own_site.sec_fetch_site = "same-origin";
  RequestFacts upgrade = get("/events");
  upgrade.websocket_upgrade = true;
  RequestFacts foreign_upgrade = upgrade;
  upgrade.origin = kOrigin;
  foreign_upgrade.origin = "http://attacker.example";
  RequestFacts put = post(kOrigin);
  put.method = "PUT";

  const Case cases[] = {
      {"page with the token in the address", get("/?token=s3cret", ""), 200, true},
      {"page with the cookie", get("/"), 200},
      {"page without a token", get("/", ""), 401},
      {"page with a wrong token", get("/?token=s3creT", ""), 401},
      {"page with a token prefix", get("/?token=s3cre", ""), 401},
      {"address token works for the page only", get("/api/state?token=s3cret", ""), 401},
      {"wrong cookie", get("/api/state", "varnock_desk_8123=nope"), 401},
      {"another desk's cookie", get("/api/state", "varnock_desk_9999=s3cret"), 401},
      {"api with the cookie", get("/api/state"), 200},
      {"foreign Host", foreign_host, 403},
      {"Host with another port", other_port, 403},
      {"cross-site page", cross_site, 403},
      {"same-site page on another port", same_site, 403},
      {"own page", own_site, 200},
      {"answer from the desk's origin", post(kOrigin), 200},
      {"answer without Origin", post(""), 403},
      {"answer from a foreign origin", post("http://attacker.example"), 403},
      {"answer from another port", post("http://127.0.0.1:9999"), 403},
      {"answer without the token", post(kOrigin, ""), 401},
      {"upgrade from the desk's origin", upgrade, 200},
      {"upgrade from a foreign origin", foreign_upgrade, 403},
      {"unknown method", put, 405},
  };
  for (const Case& c : cases) {
    const Verdict verdict = check_request(c.request, kDesk);
    EXPECT_EQ(verdict.status, c.status) << c.name;
    EXPECT_EQ(verdict.set_cookie, c.set_cookie) << c.name;
  }
}

TEST(RequestCheck, EveryResponseCarriesTheSecurityHeaders) {
  const auto headers = security_headers(kDesk);
  const auto value = [&](const std::string& name) {
    for (const auto& [key, text] : headers) {
      if (key == name) return text;
    }
    return std::string("(absent)");
  };
  const std::string policy = value("Content-Security-Policy");
  for (const char* directive : {"default-src 'none'", "script-src 'self'", "style-src 'self'",
                                "connect-src 'self' ws://127.0.0.1:8123", "frame-ancestors 'none'",
                                "base-uri 'none'", "form-action 'none'"}) {
    EXPECT_NE(policy.find(directive), std::string::npos) << directive;
  }
  EXPECT_EQ(policy.find("unsafe"), std::string::npos);
  EXPECT_EQ(value("X-Content-Type-Options"), "nosniff");
  EXPECT_EQ(value("Referrer-Policy"), "no-referrer");
  EXPECT_EQ(value("Cache-Control"), "no-store");
}

TEST(RequestCheck, CookieIsHttpOnlyAndStrict) {
  EXPECT_EQ(token_cookie(kDesk), "varnock_desk_8123=s3cret; Path=/; HttpOnly; SameSite=Strict");
}

}  // namespace
}  // namespace varnock::desk
