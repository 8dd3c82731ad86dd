// Who may talk to the desk: token, Host, Origin and the other site's pages,
// as one table of requests; the headers on every response; and the proof a
// tab asks for before it sends anything, and the run's key it sends then.
#include "desk/request_check.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "desk/desk_proof.h"
#include "support/vectors.h"

namespace varnock::desk {
namespace {

const DeskIdentity kDesk{"127.0.0.1:8123", "s3cret", "r1", "k3y"};

// The requests and their verdicts are in tests/vectors/desk/requests.tsv.
TEST(RequestCheck, Table) {
  for (const test::VectorRecord& record : test::read_vectors("desk/requests.tsv")) {
    std::vector<std::string_view> c(record.columns.begin(), record.columns.end());
    for (std::string_view& column : c) column = column == "-" ? "" : column;
    const RequestFacts request{c.at(1), c.at(2), c.at(3), c.at(4),
                               c.at(5), c.at(6), c.at(7) == "yes"};
    const Verdict verdict = check_request(request, kDesk);
    EXPECT_EQ(verdict.status, std::stoi(record.columns.at(8))) << c[0];
    EXPECT_EQ(verdict.by_token, c.at(9) == "yes") << c[0];
  }
}

TEST(RequestCheck, EveryResponseCarriesTheSecurityHeaders) {
  const std::vector<std::pair<std::string, std::string>> list = security_headers(kDesk);
  std::map<std::string, std::string> value(list.begin(), list.end());
  const std::string policy = value["Content-Security-Policy"];
  for (const char* directive : {"default-src 'none'", "script-src 'self'", "style-src 'self'",
                                "connect-src 'self' ws://127.0.0.1:8123", "frame-ancestors 'none'",
                                "base-uri 'none'", "form-action 'none'"}) {
    EXPECT_NE(policy.find(directive), std::string::npos) << directive;
  }
  EXPECT_EQ(policy.find("unsafe"), std::string::npos);
  EXPECT_EQ(value["X-Content-Type-Options"], "nosniff");
  EXPECT_EQ(value["Referrer-Policy"], "no-referrer");
  EXPECT_EQ(value["Cache-Control"], "no-store");
}

// A desk whose key is not made yet lets no request through without one.
TEST(RequestCheck, AnEmptySecretOpensNothing) {
  const DeskIdentity unkeyed{"127.0.0.1:8123", "s3cret", "r1", ""};
  EXPECT_EQ(
      check_request({"GET", "/api/state", "127.0.0.1:8123", "", "", "", false}, unkeyed).status,
      401);
  EXPECT_EQ(check_request(
                {"GET", "/events?token=", "127.0.0.1:8123", "http://127.0.0.1:8123", "", "", true},
                unkeyed)
                .status,
            401);
}

// The HMACs as Python's hmac module makes them; the address and the run
// take part, and only a nonce of 32 to 128 lowercase hex digits is answered.
TEST(DeskProof, IsTheHmacOfTheAddressNonceAndRun) {
  const std::string nonce = "0123456789abcdef0123456789abcdef";
  const std::string expected = "98bcf527ef4738301e6cc65aca2436c9bfb9d45d6aaebf232f459e488da9f252";
  EXPECT_EQ(desk_proof("s3cret", "127.0.0.1:8123", nonce, "r1"), expected);
  EXPECT_NE(desk_proof("s3cret", "127.0.0.1:8124", nonce, "r1"), expected);
  EXPECT_NE(desk_proof("s3cret", "127.0.0.1:8123", nonce, "r2"), expected);
  const DeskIdentity desk = desk_identity("127.0.0.1:8123", "s3cret", "r1");
  EXPECT_EQ(desk.tab_key, "8d19e1c95b3d4a269b28b8becdb9c675b55c1d926502f444fdecd1af8d0ae792");
  EXPECT_NE(desk_identity("127.0.0.1:8123", "s3cret", "r2").tab_key, desk.tab_key);
  EXPECT_EQ(proof_reply("/proof?nonce=" + nonce, desk).body,
            "{\"proof\":\"" + expected + "\",\"run\":\"r1\"}");
  for (const std::string& bad : std::vector<std::string>{
           "/proof", "/proof?nonce=" + nonce.substr(1), "/proof?nonce=" + std::string(129, 'a'),
           "/proof?nonce=0123456789ABCDEF0123456789abcdef"}) {
    EXPECT_EQ(proof_reply(bad, desk).status, 400) << bad;
  }
  EXPECT_EQ(proof_reply("/proof?nonce=" + std::string(128, 'a'), desk).status, 200);
  // What `open` takes for a proof: the desk's own reply, and nothing else.
  const std::string run = R"(,"run":"r1"})";
  for (const auto& [reply, holds] : std::vector<std::pair<std::string, bool>>{
           {proof_reply("/proof?nonce=" + nonce, desk).body, true},
           {R"({"proof":")" + expected + R"("})", false},
           {R"({"proof":")" + expected + R"(","run":1})", false},
           {R"({"proof":1)" + run, false},
           {R"({"proof":")" + expected + R"(","run":"r2"})", false},
           {R"({"run":"r1"})", false},
           {"not json", false}}) {
    EXPECT_EQ(proof_holds(reply, "s3cret", "127.0.0.1:8123", nonce), holds) << reply;
  }
}

}  // namespace
}  // namespace varnock::desk
