// The desk's JSON interface over a fake source: routes, refusals of bad
// input, answers reaching the source, and the events the page receives.
#include "desk/desk_api.h"

#include <gtest/gtest.h>

#include <string>

namespace varnock::desk {
namespace {

class FakeSource : public DeskSource {
 public:
  std::vector<DeskProposal> pending() override {
    if (!pending_) return {};
    DeskProposal proposal;
    proposal.number = 7;
    proposal.path = "a\xff.txt";
    proposal.server = {"/w", "12", "t"};
    return {proposal};
  }
  std::vector<DeskDecision> history(std::size_t) override {
    return {{6, "old.txt", "/w", "accepted", "2026-12-07T10:00:00Z"}};
  }
  std::optional<DeskTexts> texts(std::uint64_t number) override {
    if (!pending_ || number != 7) return std::nullopt;
    return DeskTexts{"one\ntwo\n", "one\n2\n", "**why**"};
  }
  bool answer(std::uint64_t number, bool accept) override {
    answers.push_back(std::to_string(number) + (accept ? " accept" : " reject"));
    const bool decided = pending_ && number == 7;
    pending_ = false;
    return decided;
  }
  void subscribe(std::function<void(const DeskEvent&)>) override {}

  std::vector<std::string> answers;

 private:
  bool pending_ = true;
};

struct Exchange {
  const char* method;
  const char* target;
  const char* body;
  int status;
  const char* reply;  // the whole body, or "" to skip
};

TEST(DeskApi, Routes) {
  FakeSource source;
  DeskApi api(source);
  const Exchange exchanges[] = {
      {"GET", "/api/state", "", 200,
       R"({"history":[{"number":6,"outcome":"accepted","path":"old.txt","time":)"
       R"("2026-12-07T10:00:00Z","workspace":"/w"}],"pending":[{"after_size":0,)"
       R"("before_size":0,"new_file":false,"notices":[],"number":7,"path":)"
       "\"a\xEF\xBF\xBD.txt\","
       R"("server":{"pid":"12","thread_id":"t","workspace":"/w"},"target":""}]})"},
      {"GET", "/api/proposals/7/lines?from=2&count=1", "", 200, R"(["2"])"},
      {"GET", "/api/proposals/7/lines?from=0&count=1", "", 400, ""},
      {"GET", "/api/proposals/7/lines?from=1&count=5001", "", 400, ""},
      {"GET", "/api/proposals/7/lines?from=1&count=x", "", 400, ""},
      {"GET", "/api/proposals/8", "", 404, R"({"error":"not pending"})"},
      {"GET", "/api/proposals/x", "", 404, ""},
      {"GET", "/api/nothing", "", 404, ""},
      {"GET", "/api/proposals/7/answer", "", 404, ""},
      {"POST", "/api/proposals/7/answer", "yes", 400, ""},
      {"POST", "/api/proposals/7/answer", "accept", 200, R"({"decided":true})"},
      {"POST", "/api/proposals/7/answer", "reject", 200, R"({"decided":false})"},
      {"GET", "/api/proposals/7", "", 404, ""},
  };
  for (const Exchange& e : exchanges) {
    const Reply reply = api.handle(e.method, e.target, e.body);
    EXPECT_EQ(reply.status, e.status) << e.method << " " << e.target;
    if (e.reply[0] != '\0') {
      EXPECT_EQ(reply.body, e.reply) << e.method << " " << e.target;
    }
  }
  EXPECT_EQ(source.answers, (std::vector<std::string>{"7 accept", "7 reject"}));
}

TEST(DeskApi, ProposalViewHoldsTheRenderedExplanationAndTheModel) {
  FakeSource source;
  DeskApi api(source);
  const Reply reply = api.handle("GET", "/api/proposals/7", "");
  ASSERT_EQ(reply.status, 200);
  EXPECT_NE(reply.body.find(R"("explanation_html":"<p><strong>why</strong></p>\n")"),
            std::string::npos);
  EXPECT_NE(reply.body.find(R"(["~","two","2",[0,3],[0,1]])"), std::string::npos);
  EXPECT_NE(reply.body.find(R"("proposal":{"after_size":0)"), std::string::npos);
}

TEST(DeskApi, EventsAsThePageReadsThem) {
  EXPECT_EQ(DeskApi::event_json({DeskEvent::Kind::kQueued, 3, ""}),
            R"({"event":"queued","number":3,"outcome":""})");
  EXPECT_EQ(DeskApi::event_json({DeskEvent::Kind::kWithdrawn, 4, "withdrawn"}),
            R"({"event":"withdrawn","number":4,"outcome":"withdrawn"})");
  EXPECT_EQ(DeskApi::event_json({DeskEvent::Kind::kDecided, 5, "failed: disk full"}),
            R"({"event":"decided","number":5,"outcome":"failed: disk full"})");
}

}  // namespace
}  // namespace varnock::desk
