// The review core's decisions, driven in process from the scripts in
// vectors/review_core.txt with a stand-in for the files, the diff, the
// journal and the clock. After each step the loop runs until nothing is
// left to do, and what the core did (front-end events, decisions sent,
// journal lines) must be the lines that follow the step.
#include <gtest/gtest.h>

#include <boost/asio/io_context.hpp>
#include <boost/asio/post.hpp>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "core/review_core.h"
#include "support/vectors.h"

namespace varnock::review {
namespace {

using Log = std::vector<std::string>;

std::vector<std::string> words(const std::string& text) {
  std::istringstream in(text);
  std::vector<std::string> out;
  for (std::string word; in >> word;) out.push_back(word == "-" ? "" : word);
  return out;
}

// The rest of `text` after its first `skip` words.
std::string rest(const std::string& text, int skip) {
  std::istringstream in(text);
  std::string word;
  for (int i = 0; i < skip; ++i) in >> word;
  std::getline(in >> std::ws, word);
  return word;
}

// Files, diff, journal and clock as the scripts set them. prepare() and
// apply() run on the core's workers; the maps they read are filled before
// the proposal they concern is sent.
class ScriptedEnv final : public ReviewEnv {
 public:
  ScriptedEnv(boost::asio::io_context& io, Log& log) : io_(io), log_(log) {}

  std::map<std::string, std::string> refused;       // path -> reason
  std::map<std::string, std::string> apply_fails;   // path -> reason
  std::map<std::string, bool> held;                 // path -> its comparison waits
  std::map<std::string, std::string> diff_notices;  // path -> whole-replacement notice
  std::map<std::uint64_t, std::function<void(ChangedLines)>> comparing;

  void prepare(QueuedProposal& proposal, const Workspace&, bool html) override {
    proposal.target = proposal.path;
    if (auto reason = refused.find(proposal.path); reason != refused.end()) {
      proposal.refusal = proposal.outcome = reason->second;
      proposal.state = ProposalState::kRefused;
      return;
    }
    proposal.new_file = proposal.before.empty();
    if (proposal.new_file) proposal.notices.emplace_back("new file");
    if (html) proposal.explanation_html = "<p>" + proposal.explanation + "</p>";
  }
  Result<std::string> apply(const QueuedProposal& proposal, const Workspace&) override {
    auto reason = apply_fails.find(proposal.path);
    if (reason != apply_fails.end()) return fail(reason->second);
    return std::string();
  }
  ChildRunner::Id compare(std::string_view, std::string_view after,
                          std::function<void(ChangedLines)> done) override {
    const std::string path(after.substr(0, after.find(':')));
    const std::string& notice = diff_notices[path];
    ChangedLines lines{{}, notice, !notice.empty()};  // the core counts a whole one's lines
    if (!lines.whole) lines.runs = {desk::ChangedRun{0, 1, 0, 1}};
    const ChildRunner::Id id = ++last_id_;
    if (held[path]) {
      comparing[id] = std::move(done);
    } else {
      boost::asio::post(io_, [done = std::move(done), lines] { done(lines); });
    }
    return id;
  }
  void cancel(ChildRunner::Id comparison) override {
    if (comparing.erase(comparison) > 0) log_.push_back("comparison cancelled");
  }
  Result<std::string> keep(std::string_view text) override {
    if (keep_fails) return fail("cannot keep a text: disk full");
    return "<" + std::string(text) + ">";
  }
  Result<Reverted> revert(std::uint64_t entry) override {
    auto found = journalled_.find(entry);
    if (found == journalled_.end()) return fail("no decision at " + std::to_string(entry));
    if (found->second.decision != "accepted") return fail("only an accepted edit");
    return Reverted{found->second, revert_warning};
  }
  Result<std::uint64_t> record(const JournalRecord& r) override {
    ++entries_;
    PastDecision& d = journalled_[entries_];
    d = PastDecision{entries_, std::string(r.time), std::string(r.workspace),
                     std::string(r.path), std::string(r.target), std::string(r.decision),
                     "", std::string(r.before_text), std::string(r.after_text),
                     r.new_file, r.reverts, std::string(r.rule)};
    d.before_bytes = r.before_bytes;
    d.after_bytes = r.after_bytes;
    std::ostringstream line;
    line << "journal " << r.decision << " " << r.path << " -> " << r.target << " at " << r.time
         << " (" << r.before_bytes << "/" << r.after_bytes << " bytes)";
    if (!r.reason.empty()) line << ": " << r.reason;
    if (!r.rule.empty()) line << " [rule " << r.rule << "]";
    if (!r.after_text.empty()) line << " kept " << r.before_text << " " << r.after_text;
    if (r.reverts) line << " reverts #" << *r.reverts;
    log_.push_back(line.str());
    if (journal_fails) return fail("cannot write the journal: disk full");
    return entries_;
  }
  std::string now() override { return "t" + std::to_string(++clock_); }
  Result<std::vector<PastDecision>> past(std::string_view search, std::size_t limit) override {
    std::vector<PastDecision> found;
    for (auto it = journalled_.rbegin(); it != journalled_.rend() && found.size() < limit; ++it) {
      if (it->second.path.find(search) != std::string::npos) found.push_back(it->second);
    }
    return found;
  }
  // A kept text's name is "<text>".
  Result<PastTexts> past_texts(std::uint64_t entry) override {
    auto found = journalled_.find(entry);
    if (found == journalled_.end()) return fail("no decision at " + std::to_string(entry));
    const PastDecision& d = found->second;
    if (d.after_text.empty()) return PastTexts{d, "", "", "the texts were not kept"};
    const auto text = [](const std::string& name) { return name.substr(1, name.size() - 2); };
    return PastTexts{d, text(d.before_text), text(d.after_text), ""};
  }

  bool journal_fails = false;
  bool keep_fails = false;
  std::string revert_warning;

 private:
  boost::asio::io_context& io_;
  Log& log_;
  ChildRunner::Id last_id_ = 0;
  int clock_ = 0;
  std::uint64_t entries_ = 0;
  std::map<std::uint64_t, PastDecision> journalled_;
};

// In the order of ProposalState.
const char* state_word(ProposalState state) {
  const char* words[] = {"waiting", "accepted", "rejected", "not applied", "refused", "withdrawn"};
  return words[static_cast<int>(state)];
}

std::string describe(const QueuedProposal& p) {
  std::string out = "#" + std::to_string(p.number) + " " + p.id + " " + p.path;
  for (const std::string& notice : p.notices) out += " [" + notice + "]";
  if (p.runs) out += " runs " + std::to_string(p.runs->size());
  if (!p.explanation_html.empty()) out += " html " + p.explanation_html;
  if (!p.shown_changes.empty()) out += " (" + p.shown_changes + ")";
  return out;
}

std::string outcome(const QueuedProposal& p) {
  std::string out = "#" + std::to_string(p.number) + " " + state_word(p.state);
  if (!p.answered_by.empty()) out += " by " + p.answered_by;
  if (!p.outcome.empty()) out += ": " + p.outcome;
  return out + " at " + p.decided_at;
}

class RecordingFrontEnd final : public FrontEnd {
 public:
  explicit RecordingFrontEnd(Log& log) : log_(log) {}

  void proposal_queued(const QueuedProposal& p) override {
    log_.push_back((p.refusal.empty() ? "queued " : "refused ") + describe(p));
  }
  void proposal_decided(const QueuedProposal& p) override {
    log_.push_back("decided " + outcome(p));
  }
  void proposal_withdrawn(const QueuedProposal& p) override {
    log_.push_back("withdrawn " + outcome(p));
  }
  void proposal_changed(const QueuedProposal& p, std::string_view notice) override {
    log_.push_back("changed #" + std::to_string(p.number) + ": " + std::string(notice));
  }
  void notice(std::string_view text) override { log_.push_back("notice " + std::string(text)); }
  void reverted(const PastDecision& d, const Status& outcome, std::string_view who) override {
    log_.push_back("reverted #" + std::to_string(d.entry) + " " + d.path + " by " +
                   std::string(who) + (outcome.ok() ? "" : ": " + outcome.failure()));
  }
  bool wants_changes() const override { return changes; }
  // Made on a worker, before the proposal is queued.
  void prepare_changes(QueuedProposal& p) const override {
    p.shown_changes = "shown " + std::to_string(p.runs->size());
  }
  bool wants_html() const override { return html; }
  std::size_t held_bytes() const override { return kept; }

  bool changes = true;
  bool html = false;
  std::size_t kept = 0;

 private:
  Log& log_;
};

// One script: a core with its stand-ins, fed step by step.
class Script {
 public:
  Script() : env_(io_, log_), front_end_(log_), core_(std::make_unique<ReviewCore>(env_, io_)) {
    core_->subscribe(front_end_);
  }

  // Runs the actions of `step` ("a; b" runs b before the loop runs again).
  Log run(const std::string& step) {
    log_.clear();
    std::size_t begin = 0;
    for (std::size_t end; (end = step.find("; ", begin)) != std::string::npos; begin = end + 2) {
      const std::string action = step.substr(begin, end - begin);
      perform(words(action), action);
    }
    perform(words(step.substr(begin)), step.substr(begin));
    io_.restart();
    io_.run();
    return std::move(log_);
  }

 private:
  void perform(const std::vector<std::string>& w, const std::string& step) {
    const std::string& verb = w.at(0);
    if (verb == "hello") return hello(std::stoi(w.at(1)));
    if (verb == "propose") return propose(w);
    if (verb == "answer") return answer(w);
    if (verb == "gone") return core_->server_gone(std::stoi(w.at(1)));
    if (verb == "orphaned") return core_->server_orphaned(std::stoi(w.at(1)));
    if (verb == "stop") return core_->withdraw_all();
    if (verb == "revert") return core_->revert(std::stoull(w.at(1)), w.at(2));
    if (verb == "past") return past(w.size() > 1 ? w[1] : "");
    if (verb == "open") return open(std::stoull(w.at(1)));
    if (verb == "refuse") return void(env_.refused[w.at(1)] = rest(step, 2));
    if (verb == "apply-fails") return void(env_.apply_fails[w.at(1)] = rest(step, 2));
    if (verb == "diff-notice") return void(env_.diff_notices[w.at(1)] = rest(step, 2));
    if (verb == "hold") return void(env_.held[w.at(1)] = true);
    if (verb == "compared") return release();
    if (verb == "journal-fails") return void(env_.journal_fails = true);
    if (verb == "keep-fails") return void(env_.keep_fails = true);
    if (verb == "front-end") return configure(w);
    if (verb == "end") return core_.reset();
    if (verb == "show") return show(w.at(1));
    if (verb == "rules") return use_rules(rest(step, 1));
    FAIL() << "unknown step: " << step;
  }

  void hello(int server) {
    ServerInfo info{server, "/ws" + std::to_string(server), 100 + server, std::nullopt, ""};
    core_->server_ready(info, std::make_shared<Workspace>(), [this, server](const Decision& d) {
      log_.push_back("to server " + std::to_string(server) + ": " + std::string(d.id) +
                     (d.accepted ? " accepted" : " rejected"));
    });
  }

  // propose SERVER ID PATH [BEFORE] [EXPLANATION]; the new text is
  // "PATH:new", so the stand-in diff knows whose texts it compares.
  void propose(const std::vector<std::string>& w) {
    mcp::BrokerProposal proposal;
    proposal.id = w.at(2);
    proposal.edit.path = w.at(3);
    proposal.edit.before = w.size() > 4 ? w[4] : "";
    proposal.edit.after = w.at(3) + ":new";
    proposal.edit.explanation_in_markdown = w.size() > 5 ? w[5] : "why";
    core_->receive(std::stoi(w.at(1)), std::move(proposal));
  }

  // answer NUMBER accept|reject WHO
  void answer(const std::vector<std::string>& w) {
    if (!core_->answer(std::stoull(w.at(1)), w.at(2) == "accept", w.at(3))) {
      log_.push_back("answer not taken");
    }
  }

  // rules LINE | LINE ...: a core with these rules, before any server.
  void use_rules(const std::string& given) {
    std::string text;
    for (std::size_t i = 0; i < given.size(); ++i) {
      const bool bar = given.compare(i, 3, " | ") == 0;
      text.push_back(bar ? '\n' : given[i]);
      if (bar) i += 2;
    }
    Result<Rules> rules = Rules::parse(text, "rules", "");
    ASSERT_TRUE(rules.ok()) << rules.failure();
    core_ = std::make_unique<ReviewCore>(env_, io_, std::move(rules).value());
    core_->subscribe(front_end_);
  }

  // past [SEARCH]: the journalled decisions, newest first.
  void past(const std::string& search) {
    core_->past(search, 10, [this](Result<std::vector<PastDecision>> found) {
      std::string line = "past:";
      for (const PastDecision& d : found.value()) {
        line += " #" + std::to_string(d.entry) + " " + d.decision + " " + d.path;
        if (!d.rule.empty()) line += " [rule " + d.rule + "]";
      }
      log_.push_back(line);
    });
  }

  // open ENTRY: a past decision's change, compared.
  void open(std::uint64_t entry) {
    core_->past_change(entry, [this, entry](Result<PastChange> change) {
      std::string line = "change #" + std::to_string(entry) + ": ";
      if (!change.ok()) return log_.push_back(line + change.failure());
      const PastChange& c = change.value();
      line += c.texts.missing.empty() ? c.texts.before + " -> " + c.texts.after : c.texts.missing;
      log_.push_back(line + ", runs " + std::to_string(c.lines.runs.size()));
    });
  }

  void release() {
    auto waiting = std::move(env_.comparing);
    for (auto& [id, done] : waiting) done(ChangedLines{{desk::ChangedRun{0, 1, 0, 1}}, ""});
  }

  // front-end changes|html on|off, or front-end keeps BYTES
  void configure(const std::vector<std::string>& w) {
    if (w.at(1) == "keeps") front_end_.kept = std::stoull(w.at(2));
    if (w.at(1) == "changes") front_end_.changes = w.at(2) == "on";
    if (w.at(1) == "html") front_end_.html = w.at(2) == "on";
  }

  // show waiting|history|held|in-flight:SERVER
  void show(const std::string& what) {
    std::string line = what + ":";
    if (what == "waiting") {
      for (const QueuedProposal* p : core_->waiting()) line += " #" + std::to_string(p->number);
    } else if (what == "history") {
      for (const QueuedProposal& p : core_->history()) {
        line += " #" + std::to_string(p.number) + " " + state_word(p.state) +
                (p.after.empty() ? "" : " (texts kept)");
      }
    } else if (what == "held") {
      line += " " + std::to_string(core_->held_bytes());
    } else {
      line += " " + std::to_string(core_->in_flight(std::stoi(what.substr(what.find(':') + 1))));
    }
    log_.push_back(line);
  }

  boost::asio::io_context io_;
  Log log_;
  ScriptedEnv env_;
  RecordingFrontEnd front_end_;
  std::unique_ptr<ReviewCore> core_;
};

struct Case {
  std::string name;
  std::vector<std::pair<std::string, Log>> steps;  // each step and what it must do
  int line = 0;
};

// "== name" starts a case, "> step" is a step, "< line" what it did.
std::vector<Case> read_cases() {
  std::vector<Case> cases;
  for (const test::VectorRecord& record : test::read_vectors("review_core.txt")) {
    const std::string& text = record.columns.at(0);
    const std::string body = text.size() > 2 ? text.substr(text.find(' ') + 1) : "";
    if (text.starts_with("== ")) {
      cases.push_back(Case{body, {}, record.line});
    } else if (text.starts_with("> ")) {
      cases.back().steps.emplace_back(body, Log{});
    } else {
      cases.back().steps.back().second.push_back(text.substr(2));
    }
  }
  return cases;
}

TEST(ReviewCore, DecidesAsTheScriptsSay) {
  const std::vector<Case> cases = read_cases();
  ASSERT_GT(cases.size(), 10u);
  for (const Case& c : cases) {
    SCOPED_TRACE("review_core.txt:" + std::to_string(c.line) + ": " + c.name);
    Script script;
    for (const auto& [step, expected] : c.steps) {
      EXPECT_EQ(script.run(step), expected) << "after step: " << step;
    }
  }
}

}  // namespace
}  // namespace varnock::review
