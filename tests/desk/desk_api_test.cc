// The desk's JSON interface over a fake source: routes, refusals of bad
// input, and answers reaching the source. (What the page draws from it, and
// the events, are the browser tests'.)
#include "desk/desk_api.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "support/vectors.h"

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
  std::optional<DeskProposal> proposal(std::uint64_t number) override {
    for (DeskProposal& shown : pending()) {
      if (shown.number == number) return shown;
    }
    return std::nullopt;
  }
  std::vector<DeskDecision> history(std::size_t) override {
    return {{6, "old.txt", "/w", "accepted", "2026-12-07T10:00:00Z"}};
  }
  std::optional<DeskTexts> texts(std::uint64_t number) override {
    if (!pending_ || number != 7) return std::nullopt;
    return DeskTexts{"one\ntwo\n", "one\n2\n", "**why**", "<p><strong>why</strong></p>\n", runs_};
  }
  bool answer(std::uint64_t number, bool accept) override {
    answers.push_back(std::to_string(number) + (accept ? " accept" : " reject"));
    const bool decided = pending_ && number == 7;
    pending_ = false;
    return decided;
  }
  void subscribe(std::function<void(const DeskEvent&)>) override {}
  // One past edit at entry 40, accepted by a rule; entry 41's texts are gone.
  void past(std::string search, std::size_t limit,
            std::function<void(Result<std::vector<DeskPast>>)> done) override {
    const bool found = std::string("/w old.txt").find(search) != std::string::npos && limit > 0;
    done(found ? std::vector<DeskPast>{past_} : std::vector<DeskPast>{});
  }
  // With `hold_changes`, a change is read only when release() says so.
  void past_change(std::uint64_t entry, std::function<void(Result<DeskPastChange>)> done) override {
    if (!hold_changes) return done(change(entry));
    held.push_back(entry);
    held_done_.push_back(std::move(done));
  }
  void release() {
    const std::uint64_t entry = held.front();
    auto done = std::move(held_done_.front());
    held.erase(held.begin());
    held_done_.erase(held_done_.begin());
    done(change(entry));
  }
  void revert(std::uint64_t entry, std::function<void(Status)> done) override {
    answers.push_back(std::to_string(entry) + " revert");
    done(entry == 40 ? Status() : Status(fail("the file has changed since")));
  }

  std::vector<std::string> answers;
  bool hold_changes = false;
  std::vector<std::uint64_t> held;  // the changes asked for and not yet read

 private:
  Result<DeskPastChange> change(std::uint64_t entry) const {
    if (entry == 40) return DeskPastChange{past_, "one\ntwo\n", "one\n2\n", runs_, "", ""};
    if (entry == 41) return DeskPastChange{past_, "", "", {}, "", "the texts were pruned"};
    return fail("the journal holds no decision at " + std::to_string(entry));
  }

  std::vector<std::function<void(Result<DeskPastChange>)>> held_done_;
  bool pending_ = true;
  const std::vector<ChangedRun> runs_ = {{2, 1, 2, 1}};
  const DeskPast past_{40, "2026-12-07T10:00:00Z", "/w", "old.txt", "old.txt", "accepted",
                       "", "accept *.txt", false, true, false};
};

// The exchanges, in order, are in tests/vectors/desk/api.tsv; a WAIT line
// moves the desk's clock on by its milliseconds.
TEST(DeskApi, Routes) {
  FakeSource source;
  std::chrono::steady_clock::time_point now;
  DeskApi api(source, [&] { return now; });
  for (const test::VectorRecord& record : test::read_vectors("desk/api.tsv")) {
    const std::vector<std::string>& c = record.columns;
    if (c.at(0) == "WAIT") {
      now += std::chrono::milliseconds(std::stoi(c.at(1)));
      continue;
    }
    Reply reply{0, "", ""};
    api.handle(c.at(0), c.at(1), c.at(2) == "-" ? "" : c.at(2), [&](Reply made) { reply = made; });
    EXPECT_EQ(reply.status, std::stoi(c.at(3))) << c[0] << " " << c[1];
    if (c.at(4) != "-") {
      EXPECT_EQ(reply.body, test::unescape(c.at(4))) << c[0] << " " << c[1];
    }
  }
  EXPECT_EQ(source.answers,
            (std::vector<std::string>{"7 accept", "7 reject", "40 revert", "41 revert"}));
}

// A reviewer started again numbers afresh: an answer names the run whose
// view was read, and one meant for another run's proposal is refused. Each
// desk is a run of its own.
TEST(DeskApi, AnAnswerForAnotherRunIsRefused) {
  FakeSource source;
  std::chrono::steady_clock::time_point now;
  DeskApi api(source, [&] { return now; });
  const std::string view = api.handle("GET", "/api/proposals/7", "").body;
  const std::size_t at = view.find("\"run\":\"");
  ASSERT_NE(at, std::string::npos) << view;
  const std::string run = view.substr(at + 7, view.find('"', at + 7) - at - 7);
  const std::string other =
      DeskApi(source).handle("GET", "/api/proposals/7", "").body.substr(at, run.size() + 7);
  EXPECT_NE(other, view.substr(at, run.size() + 7));
  now += std::chrono::seconds(1);
  const std::string earlier = (run[0] == '0' ? "1" : "0") + run.substr(1);
  const Reply refused = api.handle("POST", "/api/proposals/7/answer?run=" + earlier, "accept");
  EXPECT_EQ(refused.status, 409);
  EXPECT_EQ(refused.body,
            "{\"error\":\"the reviewer was started again since this proposal was shown\"}");
  EXPECT_TRUE(source.answers.empty());
  EXPECT_EQ(api.handle("POST", "/api/proposals/7/answer?run=" + run, "accept").status, 200);
  EXPECT_EQ(source.answers, std::vector<std::string>{"7 accept"});
}

// One past change is read at a time: the requests for it are answered when
// it comes; one for another waits, and a later one takes its place.
TEST(DeskApi, ReadsOnePastChangeAtATime) {
  FakeSource source;
  source.hold_changes = true;
  DeskApi api(source);
  std::vector<std::string> replies;
  const auto ask = [&](const std::string& target) {
    api.handle("GET", target, "", [&replies, target](const Reply& made) {
      replies.push_back(target + " " + std::to_string(made.status));
    });
  };
  for (const char* target :
       {"/api/history/40", "/api/history/40/diff?from=1", "/api/history/41", "/api/history/42"}) {
    ask(target);
  }
  EXPECT_EQ(source.held, std::vector<std::uint64_t>{40});
  EXPECT_EQ(replies, std::vector<std::string>{"/api/history/41 409"});
  source.release();
  EXPECT_EQ(replies, (std::vector<std::string>{"/api/history/41 409", "/api/history/40 200",
                                               "/api/history/40/diff?from=1 200"}));
  EXPECT_EQ(source.held, std::vector<std::uint64_t>{42});
  ask("/api/history/40/lines?from=1&count=1");  // kept: answered at once
  source.release();
  EXPECT_EQ(replies.at(3), "/api/history/40/lines?from=1&count=1 200");
  EXPECT_EQ(replies.at(4), "/api/history/42 404");
  EXPECT_TRUE(source.held.empty());
}

// A page alone keeps the index of the proposal's lines, counted with the
// views, until the proposal is forgotten.
TEST(DeskApi, CountsTheLineIndexItKeeps) {
  FakeSource source;
  DeskApi api(source);
  EXPECT_EQ(api.handle("GET", "/api/proposals/7/diff?from=1", "").status, 200);
  EXPECT_GT(api.kept_bytes(), 0u);
  api.forget(7);
  EXPECT_EQ(api.kept_bytes(), 0u);
}

}  // namespace
}  // namespace varnock::desk
