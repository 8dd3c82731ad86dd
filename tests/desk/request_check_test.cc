// Who may talk to the desk: token, Host, Origin and the other site's pages,
// as one table of requests; the headers on every response; and the proof a
// tab asks for before it sends the token.
#include "desk/request_check.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "desk/desk_proof.h"
#include "support/vectors.h"

namespace varnock::desk {
namespace {

const DeskIdentity kDesk{"127.0.0.1:8123", "s3cret"};

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

// The HMAC as Python's hmac module makes it; the address takes part, and
// only a nonce of 32 to 128 lowercase hex digits is answered.
TEST(DeskProof, IsTheHmacOfTheAddressAndNonce) {
  const std::string nonce = "0123456789abcdef0123456789abcdef";
  const std::string expected = "5e5949064029ec08a38589a297160e95dc6aeb294518837c2b4111d928cc79dc";
  EXPECT_EQ(desk_proof("s3cret", "127.0.0.1:8123", nonce), expected);
  EXPECT_NE(desk_proof("s3cret", "127.0.0.1:8124", nonce), expected);
  EXPECT_EQ(proof_reply("/proof?nonce=" + nonce, "s3cret", "127.0.0.1:8123").body,
            "{\"proof\":\"" + expected + "\"}");
  for (const std::string& bad : std::vector<std::string>{
           "/proof", "/proof?nonce=" + nonce.substr(1), "/proof?nonce=" + std::string(129, 'a'),
           "/proof?nonce=0123456789ABCDEF0123456789abcdef"}) {
    EXPECT_EQ(proof_reply(bad, "s3cret", "127.0.0.1:8123").status, 400) << bad;
  }
  EXPECT_EQ(proof_reply("/proof?nonce=" + std::string(128, 'a'), "s3cret", "127.0.0.1:8123").status,
            200);
}

}  // namespace
}  // namespace varnock::desk
