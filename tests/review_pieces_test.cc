// varnock-review's pure decisions in process: where a path leads beneath a
// workspace (both ways of resolving), whether the present file still holds
// what the agent read, the apply, what the display escapes, the line
// bounds and the command line. (That the first answer of the terminal or the
// desk wins is the browser test's, with both answering the built program.)
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <iterator>
#include <map>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "core/journal.h"
#include "core/revert.h"
#include "core/review_env.h"
#include "core/rules.h"
#include "core/visible_text.h"
#include "json/parse.h"
#include "options.h"
#include "servers/line_limits.h"
#include "support/temp_dir.h"
#include "support/vectors.h"
#include "system/apply.h"
#include "system/beneath.h"
#include "system/target.h"
#include "system/text_store.h"
#include "terminal/keys.h"
#include "terminal/terminal.h"

namespace varnock::review {
namespace {

using test::TempDir;

Workspace open_at(const std::string& path) {
  return Workspace{UniqueFd(::open(path.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC)),
                   std::filesystem::canonical(path).string()};
}

// A scratch tree:
//   ws/file.txt "old"  ws/sub/kept.txt  ws/inner.txt -> file.txt  ws/subl -> sub
//   ws/out -> outside/  ws/leak.txt -> outside/secret.txt  ws/up -> ../ws/sub
//   ws/dangling.txt -> nowhere  ws/fifo  outside/secret.txt
class BeneathTest : public ::testing::TestWithParam<ResolveMethod> {
 protected:
  void SetUp() override {
    set_resolve_method(GetParam());
    tree_.write("ws/file.txt", "old");
    tree_.write("ws/sub/kept.txt", "kept");
    tree_.write("outside/secret.txt", "secret");
    const std::string ws = tree_.file("ws") + "/";
    for (const auto& [target, link] : {std::pair{"file.txt", "inner.txt"},
                                       {"sub", "subl"},
                                       {"../outside", "out"},
                                       {"../outside/secret.txt", "leak.txt"},
                                       {"../ws/sub", "up"},
                                       {"nowhere", "dangling.txt"}}) {
      ASSERT_EQ(::symlink(target, (ws + link).c_str()), 0) << link;
    }
    ASSERT_EQ(::mkfifo((ws + "fifo").c_str(), 0600), 0);
    workspace_ = open_at(ws);
  }
  void TearDown() override { set_resolve_method(ResolveMethod::kKernel); }

  // The shown target, or the refusal.
  std::string resolve(const std::string& path) {
    Result<Target> target = resolve_target(workspace_, path);
    return target.ok() ? target.value().shown : "refused: " + target.failure();
  }

  TempDir tree_;
  Workspace workspace_;
};

// The paths and what they give are in tests/vectors/review/beneath.tsv.
TEST_P(BeneathTest, PathsResolveInsideOrAreRefusedWithTheirReason) {
  const std::map<std::string, std::string_view> reasons = {{"outside", kOutside},
                                                           {"not-regular", kNotRegular},
                                                           {"not-a-name", kNotAFileName},
                                                           {"too-long", kTooLong}};
  for (const test::VectorRecord& record : test::read_vectors("review/beneath.tsv")) {
    std::string path = test::unescape(record.columns.at(0));
    if (path.starts_with("{WS}")) path.replace(0, 4, workspace_.name);
    std::string expected = record.columns.at(1);
    if (expected.starts_with("refused: "))
      expected = "refused: " + std::string(reasons.at(expected.substr(9)));
    EXPECT_EQ(resolve(path), expected) << "beneath.tsv line " << record.line;
  }
}

TEST_P(BeneathTest, ApplyWritesTheResolvedFileAndKeepsItsMode) {
  ASSERT_EQ(::chmod(tree_.file("ws/file.txt").c_str(), 0751), 0);
  Result<std::string> applied = apply_proposal(workspace_, "inner.txt", "file.txt", "old", "new");
  ASSERT_TRUE(applied.ok()) << applied.failure();
  EXPECT_EQ(tree_.read("ws/file.txt"), "new");
  struct stat st;
  ASSERT_EQ(::lstat(tree_.file("ws/inner.txt").c_str(), &st), 0);
  EXPECT_TRUE(S_ISLNK(st.st_mode));
  ASSERT_EQ(::stat(tree_.file("ws/file.txt").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0751u);
  ASSERT_TRUE(apply_proposal(workspace_, "a/b/c.txt", "a/b/c.txt", "", "made").ok());
  EXPECT_EQ(tree_.read("ws/a/b/c.txt"), "made");
  const std::string before = tree_.snapshot();
  Result<std::string> stale = apply_proposal(workspace_, "file.txt", "file.txt", "old", "again");
  EXPECT_EQ(stale.ok() ? "" : stale.failure(), kChanged);
  // The link was shown leading to one file and now leads to another.
  Result<std::string> turned = apply_proposal(workspace_, "inner.txt", "a/b/c.txt", "new", "x");
  EXPECT_EQ(turned.ok() ? "" : turned.failure(), kRetargeted);
  EXPECT_EQ(tree_.snapshot(), before) << "no temporary file is left either";
}

INSTANTIATE_TEST_SUITE_P(BothMethods, BeneathTest,
                         ::testing::Values(ResolveMethod::kKernel, ResolveMethod::kWalk));

// The cases are in tests/vectors/review/present.tsv; the file is read in
// pieces of 1 MiB, so a long one has a sequence cut between two.
TEST(ReviewPresent, TheFileStillHoldsWhatTheAgentRead) {
  const std::map<std::string, std::string_view> reasons = {
      {"-", ""}, {"changed", kChanged}, {"not-text", kNotText}, {"too-large", kFileTooLarge}};
  for (const test::VectorRecord& record : test::read_vectors("review/present.tsv")) {
    TempDir dir;
    const UniqueFd fd(::open(dir.path().c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    const auto text = [](const std::string& column) {
      return column.starts_with("LONG")
                 ? std::string((1 << 20) - 1, 'x') + test::unescape(column.substr(4))
                 : test::unescape(column);
    };
    if (record.columns.at(0) != "-") dir.write("f", text(record.columns[0]));
    if (record.columns[0] == "SPARSE") {
      ASSERT_EQ(::truncate(dir.file("f").c_str(), 3L << 30), 0);
    }
    Result<PresentFile> present = check_present(fd.get(), "f", text(record.columns.at(1)));
    EXPECT_EQ(present.ok() ? "" : present.failure(), reasons.at(record.columns.at(2)))
        << "present.tsv line " << record.line;
    EXPECT_EQ(present.ok() && present.value().exists, present.ok() && record.columns[0] != "-");
  }
}

// The texts and how they are shown are in tests/vectors/review/display.tsv.
TEST(ReviewDisplay, HiddenAndControlCharactersAreEscapedAndFlagged) {
  for (const test::VectorRecord& record : test::read_vectors("review/display.tsv")) {
    const std::string text = test::unescape(record.columns.at(0));
    const std::string as_name = test::unescape(record.columns.at(2));
    const bool hidden = record.columns.at(3) == "yes";
    SCOPED_TRACE("display.tsv line " + std::to_string(record.line));
    EXPECT_EQ(visible_text(text).text, test::unescape(record.columns.at(1)));
    EXPECT_EQ(visible_name(text).text, as_name);
    EXPECT_EQ(visible_text(text).hidden, hidden);
    EXPECT_EQ(holds_hidden_characters(text, false), hidden);
    EXPECT_EQ(holds_hidden_characters(text, true), as_name != text);
  }
}

// The journal holds no character the screen would escape (bidi overrides,
// zero-width and C1 characters, tags, an escape sequence ...): every byte
// is printable ASCII or a line's end, and a JSON reader gets each text back.
TEST(ReviewJournal, HoldsNoHiddenCharacterRaw) {
  const std::string texts[] = {
      "evil\u202Etxt.sh",       "t\u200B1\u2028x", "\u2066\u2069\u061C", "tag\U000E0041\U000E007F",
      "\u00AD\u3164\x7F\u0085", "vs\uFE0F\uFEFF",  "ws\x1B[2J"};
  TempDir dir;
  Result<Journal> journal = Journal::open(dir.file("journal.jsonl"));
  ASSERT_TRUE(journal.ok()) << journal.failure();
  for (const std::string& t : texts) {
    const JournalRecord record{"t", 1, t, t, t, t, "refused", t, 0, 0, "", "", false, {}};
    ASSERT_TRUE(journal.value().record(record).ok());
  }
  const std::string written = dir.read("journal.jsonl");
  for (const char byte : written) ASSERT_TRUE((byte >= 0x20 && byte < 0x7F) || byte == '\n');
  std::istringstream lines(written);
  for (const std::string& text : texts) {
    std::string line;
    ASSERT_TRUE(std::getline(lines, line));
    Result<json::Value> record = json::parse(line);
    ASSERT_TRUE(record.ok()) << line;
    for (const char* member : {"thread_id", "workspace", "path", "target", "reason"}) {
      EXPECT_EQ(record.value().as_object().at(member).as_string(), text) << member;
    }
  }
}

// Texts are kept under their SHA-256, privately, read back only when they
// still hash to their name, and pruned oldest first past the bounds.
TEST(ReviewTextStore, KeepsTextsByTheirHashAndPrunesTheOldestFirst) {
  TempDir dir;
  Result<TextStore> store =
      TextStore::open(dir.file("texts"), StoreBounds{10, std::chrono::hours(1)});
  ASSERT_TRUE(store.ok()) << store.failure();
  const TextStore& texts = store.value();
  const auto text = [](Result<std::string> result) { return result.ok() ? result.value() : ""; };
  const std::string a = "ca978112ca1bbdcafac231b39a23dc4da786eff8147c4e72b9807785afee48bb";
  ASSERT_EQ(text(texts.put("a")), a);
  EXPECT_EQ(text(texts.get(a)), "a");
  struct stat st;
  ASSERT_EQ(::stat(dir.file("texts/" + a).c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  ASSERT_EQ(::stat(dir.file("texts").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);
  ASSERT_EQ(::chmod(dir.file("texts").c_str(), 0770), 0);
  EXPECT_FALSE(TextStore::open(dir.file("texts")).ok()) << "others could swap texts there";
  ASSERT_EQ(::chmod(dir.file("texts").c_str(), 0700), 0);
  dir.write("texts/" + a, "b");
  EXPECT_FALSE(texts.get(a).ok());
  EXPECT_FALSE(texts.get("../" + a.substr(3)).ok());
  // Kept at 1000.9 s (6 bytes), 2000.5 s (4 bytes) and 3000 s (4 bytes),
  // pruned at 4000 s: the seconds order them before the nanoseconds.
  std::vector<std::string> names;
  for (const auto& [kept, time, nanoseconds] :
       {std::tuple{"oldest", 1000, 900'000'000L}, {"both", 2000, 500'000'000L}, {"last", 3000, 0L}}) {
    names.push_back(text(texts.put(kept)));
    const timespec times[2] = {{time, nanoseconds}, {time, nanoseconds}};
    ASSERT_EQ(::utimensat(AT_FDCWD, dir.file("texts/" + names.back()).c_str(), times, 0), 0);
  }
  ASSERT_TRUE(texts.prune(4000).ok());
  EXPECT_FALSE(texts.get(a).ok()) << "older than an hour";
  EXPECT_FALSE(texts.get(names[0]).ok()) << "the oldest, past 10 bytes";
  EXPECT_EQ(text(texts.get(names[1])) + text(texts.get(names[2])), "bothlast");
  // The two newest, the latest decision's, stay even past the bound.
  const std::string big = text(texts.put("twenty bytes of text"));
  ASSERT_TRUE(texts.prune(std::time(nullptr)).ok());
  EXPECT_EQ(text(texts.get(big)), "twenty bytes of text");
  EXPECT_TRUE(::access(dir.file("texts/" + a).c_str(), F_OK) == 0) << "the second newest";
  EXPECT_FALSE(texts.get(names[2]).ok()) << "older than an hour";
}

// An accepted edit, journalled with its kept texts, is undone only while
// the file holds what was written; a file the edit made is removed; what
// was not accepted is not undone. The journal is read back newest first.
TEST(ReviewRevert, UndoesAnAcceptedEditWhileTheFileHoldsWhatWasWritten) {
  TempDir dir;
  dir.write("ws/a.txt", "new");
  dir.write("ws/made.txt", "made");
  Result<TextStore> store = TextStore::open(dir.file("texts"));
  Result<Journal> journal = Journal::open(dir.file("journal.jsonl"));
  ASSERT_TRUE(store.ok() && journal.ok());
  const std::string ws = std::filesystem::canonical(dir.file("ws")).string();
  const auto name = [&](const char* text) { return store.value().put(text).value(); };
  const std::string old_name = name("old"), new_name = name("new"), made = name("made");
  const auto record = [&](const char* path, const char* decision, const std::string& before,
                          const std::string& after, bool new_file) {
    return journal.value()
        .record({"t", 1, "", ws, path, path, decision, "", 3, 4, before, after, new_file, {}})
        .value();
  };
  const std::uint64_t edit = record("a.txt", "accepted", old_name, new_name, false);
  const std::uint64_t creation = record("made.txt", "accepted", name(""), made, true);
  const std::uint64_t rejection = record("a.txt", "rejected", new_name, old_name, false);
  Result<std::vector<PastDecision>> past = read_past_decisions(journal.value().path(), "made", 9);
  ASSERT_TRUE(past.ok() && past.value().size() == 1) << "made.txt only";
  EXPECT_EQ(past.value()[0].entry, creation);
  EXPECT_EQ(read_past_decisions(journal.value().path(), "", 2).value()[1].entry, creation);
  boost::asio::io_context io;
  ChildRunner runner(io);
  SystemEnv env(journal.value(), runner, &store.value());
  const auto outcome = [&](std::uint64_t entry) {
    Result<Reverted> reverted = env.revert(entry);
    return reverted.ok() ? "reverted " + reverted.value().decision.path : reverted.failure();
  };
  dir.write("ws/a.txt", "edited since");
  EXPECT_EQ(outcome(edit), kChangedSinceWritten);
  dir.write("ws/a.txt", "new");
  EXPECT_EQ(outcome(edit), "reverted a.txt");
  EXPECT_EQ(dir.read("ws/a.txt"), "old");
  EXPECT_EQ(outcome(edit), kChangedSinceWritten) << "twice";
  EXPECT_EQ(outcome(creation), "reverted made.txt");
  EXPECT_FALSE(std::filesystem::exists(dir.file("ws/made.txt")));
  EXPECT_EQ(outcome(rejection), "only an accepted edit can be reverted");
  EXPECT_EQ(outcome(edit + 1), "the journal holds no decision at " + std::to_string(edit + 1));
  // The history shows what a revert undid, and each change while its texts are kept.
  ASSERT_TRUE(journal.value()
                  .record({"t", 1, "", ws, "a.txt", "a.txt", "reverted", "", 3, 3, new_name,
                           old_name, false, edit})
                  .ok());
  std::vector<bool> revertible;  // newest first: the revert, the rejection, the creation, the edit
  const Result<std::vector<PastDecision>> all = read_past_decisions(journal.value().path(), "", 9);
  for (const PastDecision& d : all.value()) revertible.push_back(d.revertible());
  EXPECT_EQ(revertible, (std::vector<bool>{false, false, true, false}));
  EXPECT_EQ(std::make_pair(all.value().back().before_bytes, all.value().back().after_bytes),
            std::make_pair(std::uint64_t{3}, std::uint64_t{4}));
  const auto shown = [&](std::uint64_t entry) {
    const PastTexts texts = env.past_texts(entry).value();
    return texts.missing.empty() ? texts.before + ">" + texts.after : texts.missing;
  };
  EXPECT_EQ(shown(edit), "old>new");
  const PastTexts indexed = env.past_texts(edit).value();  // on the worker, for the desk
  EXPECT_TRUE(indexed.before_lines && indexed.after_lines && indexed.after_lines->count() == 1);
  const auto listed_revertible = [&] { return env.past("made", 9).value().at(0).revertible(); };
  EXPECT_TRUE(listed_revertible());
  std::filesystem::remove(dir.file("texts/" + made));
  EXPECT_EQ(shown(creation).rfind("the texts of this decision are no longer kept", 0), 0u);
  EXPECT_FALSE(listed_revertible()) << "no revert is offered once the texts are pruned";
  // At the terminal: "u" lists the accepted edits, "u N" reverts the N-th.
  const std::vector<std::pair<std::string, std::optional<std::size_t>>> undo = {
      {" U ", 0}, {"undo 3", 3}, {"u  12", 12}, {"u 0", {}}, {"u x", {}}, {"up", {}}};
  for (const auto& [line, number] : undo) EXPECT_EQ(parse_undo(line), number) << line;
}

// The lines and their counts are in tests/vectors/review/values.tsv.
TEST(ReviewLimits, JsonValuesAreCountedOutsideStrings) {
  for (const test::VectorRecord& record : test::read_vectors("review/values.tsv")) {
    EXPECT_EQ(count_json_values(test::unescape(record.columns.at(0)), kMaxValuesPerLine),
              std::stoul(record.columns.at(1)))
        << "values.tsv line " << record.line;
  }
}

// The options that differ from the defaults, as options.tsv writes them.
std::string describe(const ReviewOptions& o) {
  std::string out;
  const auto add = [&out](bool differs, const std::string& text) {
    if (differs) out += (out.empty() ? "" : " ") + text;
  };
  add(!o.socket_path.empty(), "socket=" + o.socket_path);
  add(!o.workspace.empty(), "workspace=" + o.workspace);
  add(!o.journal.empty(), "journal=" + o.journal);
  add(o.no_journal, "no-journal");
  add(o.auto_answer != AutoAnswer::kNone,
      o.auto_answer == AutoAnswer::kAccept ? "auto=accept" : "auto=reject");
  add(o.limits.max_line != LineLimits{}.max_line, "max-line=" + std::to_string(o.limits.max_line));
  add(o.limits.memory_budget != LineLimits{}.memory_budget,
      "budget=" + std::to_string(o.limits.memory_budget));
  add(o.web.has_value(), o.web ? "web=" + o.web->host + ":" + std::to_string(o.web->port) : "");
  add(o.open_browser, "open");
  add(o.web_allow_remote, "allow-remote");
  add(o.notify, "notify");
  add(o.rotate_token, "rotate-token");
  add(o.command != Command::kServe, o.command == Command::kStatus ? "status" : "open");
  add(o.show_help, "help");
  add(o.show_version, "version");
  add(!o.rules.empty(), "rules=" + o.rules);
  add(o.history.max_bytes != StoreBounds{}.max_bytes,
      "history-bytes=" + std::to_string(o.history.max_bytes));
  add(o.history.max_age != StoreBounds{}.max_age,
      "history-hours=" + std::to_string(o.history.max_age.count() / 3600));
  add(o.rules_check.has_value(),
      o.rules_check ? "check=" + o.rules_check->workspace + ":" + o.rules_check->path : "");
  return out;
}

// The command lines are in tests/vectors/review/options.tsv.
TEST(ReviewOptions, CommandLine) {
  for (const test::VectorRecord& record : test::read_vectors("review/options.tsv")) {
    std::istringstream words(record.columns.at(0));
    const std::vector<std::string> strings{std::istream_iterator<std::string>(words), {}};
    const std::vector<std::string_view> args(strings.begin(), strings.end());
    Result<ReviewOptions> options = parse_options(args);
    EXPECT_EQ(options.ok() ? describe(options.value()) : "refused", record.columns.at(1))
        << record.columns[0];
  }
  EXPECT_EQ(parse_answer(" Yes \n"), Answer::kAccept);
  EXPECT_EQ(parse_answer("r"), Answer::kReject);
  EXPECT_EQ(parse_answer("H"), Answer::kHistory);
  EXPECT_EQ(parse_answer("ok"), Answer::kUnclear);
}

// Keys typed while a question is open: what they say ("[...]" each, "[end]"
// for the end-of-file key) and what is echoed for them.
TEST(ReviewKeys, AnAnswerIsOneKeyAndAnythingElseALine) {
  const struct {
    std::string keys, said, echo;
  } cases[] = {
      {"a", "[a]", "a\n"},
      {"Ya", "[Y][a]", "Y\na\n"},
      {"maybe\n", "[maybe]", "maybe\n"},
      {"\n\r", "", ""},
      {"x\x7fh", "[h]", "x\b \bh\n"},
      {"\xc3\xa9\x7f\x7fn", "[n]", "\xc3\xa9\b \bn\n"},
      {"q\x04\x1b\r", "[q\x1b]", "q\n"},
      {"\x04", "[end]", ""},
  };
  for (const auto& c : cases) {
    KeyLine line;
    std::string said, echo;
    for (char key : c.keys) {
      const Said one = line.key(key);
      echo += one.echo;
      if (one.text) said += "[" + *one.text + "]";
      if (one.closed) said += "[end]";
    }
    EXPECT_EQ(said, c.said) << c.keys;
    EXPECT_EQ(echo, c.echo) << c.keys;
  }
}

// Patterns, rules files and which rule decides: vectors/review/rules.tsv.
TEST(ReviewRules, PatternsFilesAndFirstMatch) {
  for (const test::VectorRecord& record : test::read_vectors("review/rules.tsv")) {
    const std::vector<std::string>& c = record.columns;
    SCOPED_TRACE("rules.tsv:" + std::to_string(record.line));
    if (c.at(0).starts_with("rules:")) {
      Result<Rules> rules = Rules::parse(test::unescape(c.at(1)), "r", "/home/u");
      if (c.at(0) == "rules:error") {
        EXPECT_EQ(rules.ok() ? "ok" : rules.failure(), test::unescape(c.at(2)));
        continue;
      }
      ASSERT_TRUE(rules.ok()) << rules.failure();
      const Rule* rule = rules.value().find(c.at(2), c.at(3));
      EXPECT_EQ(rule == nullptr ? "none" : describe_rule(*rule), c.at(4));
      continue;
    }
    Result<PathPattern> pattern = PathPattern::compile(c.at(0));
    ASSERT_TRUE(pattern.ok()) << pattern.failure();
    EXPECT_EQ(pattern.value().meets(c.at(1)) ? "meets" : "misses", c.at(2)) << c.at(0);
  }
  Result<PathPattern> everything = PathPattern::compile("**");
  ASSERT_TRUE(everything.ok());
  EXPECT_FALSE(everything.value().meets(std::string(PathPattern::kMaxPath + 1, 'a')));
}

}  // namespace
}  // namespace varnock::review
