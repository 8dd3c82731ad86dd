// varnock-review with real varnock-mcp servers: each server's edits land in
// its own working directory, the file shown is the file written, decisions
// are journalled, and who may connect; the socket, the command line, and
// the person answering at a terminal. (What is refused before asking, and
// why, is decided in process: review_core_test and review_pieces_test.)
#include <gtest/gtest.h>
#include <linux/securebits.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <future>
#include <iterator>
#include <regex>
#include <sstream>
#include <thread>

#include "base/unix_socket.h"
#include "json/parse.h"
#include "review_harness.h"
#include "support/vectors.h"
#include "varnock/version.h"
#include "write_file_wire.h"

namespace varnock::test {
namespace {

// Two servers in different directories, and a server in a subdirectory of
// another's: each file lands where its own server works.
TEST(ReviewServers, EachServerWritesInItsOwnDirectory) {
  ReviewerFixture fixture;
  ASSERT_TRUE(fixture.start("accept"));
  fixture.root.write("ws/sub/.keep", "");
  fixture.root.write("wsb/.keep", "");
  const std::string absolute = real_path(fixture.root.file("wsb")) + "/abs.txt";
  const std::string edits[][3] = {// where the server works, the path it sends, the file
                                  {"ws/sub", "brandnew.txt", "ws/sub/brandnew.txt"},
                                  {"ws", "brandnew.txt", "ws/brandnew.txt"},
                                  {"wsb", "b/new.txt", "wsb/b/new.txt"},
                                  {"wsb", absolute, "wsb/abs.txt"}};
  for (const auto& [cwd, path, file] : edits) {
    EXPECT_EQ(fixture.edit(cwd, path, file), accepted_response(path));
  }
  for (const auto& [cwd, path, file] : edits) EXPECT_EQ(fixture.root.read(file), file);
  EXPECT_TRUE(fixture.reviewer->wait_for("in " + real_path(fixture.root.file("ws/sub")) + ")"));
}

// A link inside the workspace is followed, and the person is shown the file
// that will be written; the link itself stays.
TEST(ReviewServers, TheResolvedTargetIsShownAndWritten) {
  ReviewerFixture fixture;
  ASSERT_TRUE(fixture.start("accept"));
  fixture.root.write("ws/scripts/deploy.sh", "echo deploy\n");
  const std::string ws = fixture.root.file("ws");
  ASSERT_EQ(::symlink("scripts/deploy.sh", (ws + "/notes.md").c_str()), 0);
  EXPECT_EQ(fixture.edit("ws", "notes.md", "rm -rf /\n"), accepted_response("notes.md"));
  EXPECT_TRUE(fixture.reviewer->wait_for("writes: scripts/deploy.sh"));
  EXPECT_TRUE(fixture.reviewer->wait_for("Accepted (by auto): scripts/deploy.sh is written."));
  EXPECT_EQ(fixture.root.read("ws/scripts/deploy.sh"), "rm -rf /\n");
  EXPECT_TRUE(S_ISLNK(mode_of(ws + "/notes.md")));
}

// Answering every proposal at once, with no desk, nothing shows a change:
// no diff is run (there is none on PATH), and the terminal says so.
TEST(ReviewServers, AutoAnswersWithoutComparingAnything) {
  ReviewerFixture fixture;
  ASSERT_TRUE(fixture.start("accept", {}, {{"PATH", "/nonexistent"}}));
  fixture.root.write("ws/notes.txt", "old\n");
  EXPECT_EQ(fixture.edit("ws", "notes.txt", "new\n"), accepted_response("notes.txt"));
  EXPECT_TRUE(fixture.reviewer->wait_for("Accepted (by auto): notes.txt is written."));
  EXPECT_NE(fixture.reviewer->out().find("(not compared: every proposal is answered at once)"),
            std::string::npos)
      << fixture.reviewer->out();
  EXPECT_EQ(fixture.reviewer->out().find("diff"), std::string::npos) << fixture.reviewer->out();
}

// Every decision is appended as one JSON line to a journal only the user
// can read, by default under $XDG_STATE_HOME; --no-journal keeps none. With
// no usable place for the texts beside it (here one others may write to),
// the person is told, and decisions are journalled all the same.
TEST(ReviewServers, DecisionsAreAppendedToAPrivateJournal) {
  ReviewerFixture fixture;
  const std::map<std::string, std::string> state = {{"XDG_STATE_HOME", fixture.sockets.path()}};
  fixture.root.write("ws/.keep", "");
  const std::string ws = fixture.root.file("ws");
  for (const std::vector<std::string>& journal :
       {std::vector<std::string>{}, {"--no-journal"}, {}}) {
    ASSERT_TRUE(fixture.start("accept", journal, state));
    EXPECT_EQ(fixture.edit("ws", "new.txt", "1234\n"), accepted_response("new.txt"));
    fixture.reviewer->stop();
  }
  ASSERT_EQ(::chmod(fixture.sockets.file("varnock-review/texts").c_str(), 0777), 0);
  ASSERT_TRUE(fixture.start("accept", {}, state));
  EXPECT_TRUE(fixture.reviewer->wait_for("The history will not show changes, nor can they be"));
  EXPECT_EQ(fixture.edit("ws", "new.txt", "1234\n"), accepted_response("new.txt"));
  fixture.reviewer->stop();
  const std::string journal = fixture.sockets.file("varnock-review/journal.jsonl");
  EXPECT_EQ(mode_of(journal) & 0777, 0600u);
  const std::string text = fixture.sockets.read("varnock-review/journal.jsonl");
  EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 3) << text;
  const std::string members[] = {R"("decision":"accepted")",
                                 "\"workspace\":" + quoted(real_path(ws)), R"("after_bytes":5)",
                                 R"("thread_id":"t-e2e")"};
  for (const std::string& member : members) {
    EXPECT_NE(text.find(member), text.rfind(member)) << member << " twice in " << text;
  }
}

// Started with its standard output closed, the reviewer keeps the number
// from the files and sockets it opens: nothing it prints lands in the
// journal, which holds the decision alone.
TEST(ReviewServers, AClosedStandardOutputIsNotTakenByTheJournal) {
  TempDir dir, ws;
  ServerProcess reviewer(
      {.program = VARNOCK_REVIEW_BINARY,
       .arguments = {"--socket", dir.file("s"), "--auto", "accept", "--journal", dir.file("j")},
       .closed_descriptors = {1}});
  ASSERT_TRUE(wait_until_listening(dir.file("s")));
  EXPECT_EQ(edit_through_server(dir.file("s"), ws.path(), "a.txt", "a\n").out,
            accepted_response("a.txt"));
  reviewer.signal(SIGTERM);
  EXPECT_EQ(reviewer.finish(), 0);
  const std::string journal = dir.read("j");
  EXPECT_TRUE(journal.starts_with(R"({")") && journal.find('\n') == journal.size() - 1) << journal;
}

// With --notify, a proposal that waits is announced on the session bus:
// the project, the file, new or edited and its size; never its content nor
// the desk's address. A monitor on a bus of the test's own sees the call.
TEST(ReviewServers, AWaitingProposalIsAnnouncedOnTheSessionBus) {
  TempDir dir;
  dir.write("project/.keep", "");
  const std::string bus = "unix:path=" + dir.file("bus");
  ServerProcess daemon({.program = "dbus-daemon",
                        .arguments = {"--session", "--nofork", "--address=" + bus}});
  ASSERT_TRUE(wait_until_listening(dir.file("bus")));
  ServerProcess monitor({.program = "dbus-monitor",
                         .arguments = {"--address", bus, "member='Notify'"}});
  ASSERT_TRUE(monitor.wait_for("NameLost"));
  ReviewerProcess reviewer({"--socket", dir.file("s"), "--web", "--notify", "--no-journal"},
                           {{"DBUS_SESSION_BUS_ADDRESS", bus}});
  const std::string desk = reviewer.desk_url();
  ScopedDirectory inside(dir.file("project"));
  Connection server = Connection::to(reviewer.socket_path());
  ASSERT_TRUE(server.send(hello_line() + raw_proposal("p", "a<b>.md", "", "secret words\n")));
  EXPECT_TRUE(monitor.wait_for("string \"project: a&lt;b&gt;.md (new file, 13 bytes)\"")) << monitor.out();
  EXPECT_EQ(desk_answer(desk, 1, "reject"), R"(200 {"decided":true})");
  EXPECT_EQ(server.read_line(), decision("p", false));
  const std::string seen = monitor.out();
  EXPECT_EQ(seen.find("secret"), std::string::npos);
  EXPECT_EQ(seen.find(desk.substr(desk.find("token=") + 6)), std::string::npos) << seen;
  monitor.signal(SIGTERM);
  daemon.signal(SIGTERM);
}

// When the agent's host is killed during a review, its server lives on
// under another parent: the terminal and the desk say that no agent will
// hear the answer, which can still be given; the server's next proposal
// carries the notice at once. The host is a shell that runs the server as
// its child; the test kills it and keeps the server's pipes.
TEST(ReviewServers, AProposalWhoseHostIsGoneSaysSoAndCanStillBeAnswered) {
  const std::string gone = "no agent will hear the answer: its host is gone";
  TempDir sockets, ws;
  const std::string socket = sockets.file("s");
  ReviewerProcess reviewer({"--socket", socket, "--web", "--no-journal"});
  const std::string desk = reviewer.desk_url();  // printed before the socket
  ASSERT_EQ(reviewer.socket_path(), socket) << reviewer.err();
  ServerProcess server({.program = "/bin/sh",
                        .arguments = {"-c", "\"$0\"; exit", VARNOCK_MCP_BINARY},
                        .environment = {{"VARNOCK_SOCKET", socket}},
                        .working_directory = ws.path()});
  server.write(write_file_call(1, "kept.txt", "kept\n", "- why"));
  ASSERT_TRUE(reviewer.wait_for("Proposed edit from")) << reviewer.out();
  EXPECT_EQ(desk_request(desk, "GET", "/api/proposals/1").find(gone), std::string::npos);
  // Killed once the reviewer has looked at it a few times: it must go on looking.
  std::this_thread::sleep_for(std::chrono::milliseconds(2500));
  server.signal(SIGKILL);
  EXPECT_TRUE(reviewer.wait_for("Proposal #1 (kept.txt from server #1): " + gone + "."))
      << reviewer.out();
  for (const char* path : {"/api/state", "/api/proposals/1"}) {
    EXPECT_NE(desk_request(desk, "GET", path).find(quoted(gone)), std::string::npos) << path;
  }
  EXPECT_EQ(desk_answer(desk, 1, "accept"), R"(200 {"decided":true})");
  EXPECT_EQ(server.read_line(), result_response(1, receipt("kept.txt", kAcceptedMessage)));
  EXPECT_EQ(ws.read("kept.txt"), "kept\n");
  server.write(write_file_call(2, "later.txt", "later\n", "- why"));
  EXPECT_TRUE(reviewer.wait_for("  notice: " + gone + "\n")) << reviewer.out();
  EXPECT_EQ(desk_answer(desk, 2, "reject"), R"(200 {"decided":true})");
  EXPECT_EQ(server.read_line(), error_response(2, kRejected));
  EXPECT_EQ(server.finish(), 128 + SIGKILL);
}

// A server run by another user is refused when it connects, and the person
// is told; the test connects as user 65534.
TEST(ReviewServers, AServerOfAnotherUserIsRefused) {
  if (::geteuid() != 0) GTEST_SKIP() << "only root can connect as another user";
  ReviewerFixture fixture;
  ASSERT_TRUE(fixture.start("accept"));
  const pid_t child = ::fork();
  if (child == 0) {  // it keeps its capabilities, so it can still reach the socket
    ::prctl(PR_SET_SECUREBITS, SECBIT_NO_SETUID_FIXUP);
    if (::seteuid(65534) != 0) ::_exit(2);
    Connection stranger = Connection::to(fixture.socket);
    ::_exit(stranger.connected() && stranger.closed_by_peer() ? 0 : 1);
  }
  int status = -1;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  EXPECT_EQ(status, 0);
  EXPECT_TRUE(fixture.reviewer->wait_for("it belongs to user 65534, not to you"));
}

// With --workspace, a server working elsewhere is refused at hello, and the
// person is told why.
TEST(ReviewServers, WorkspaceOptionLimitsWhereServersMayWork) {
  ReviewerFixture fixture;
  fixture.root.write("allowed/.keep", "");
  fixture.root.write("elsewhere/.keep", "");
  ASSERT_TRUE(fixture.start("accept", {"--workspace", fixture.root.file("allowed")}));
  fixture.edit("elsewhere", "x.txt", "x\n");
  EXPECT_TRUE(fixture.reviewer->wait_for("is disconnected: it works in "));
  EXPECT_TRUE(fixture.reviewer->wait_for(", outside " + real_path(fixture.root.file("allowed"))));
  EXPECT_FALSE(exists(fixture.root.file("elsewhere/x.txt")));
  EXPECT_EQ(fixture.edit("allowed", "x.txt", "x\n"), accepted_response("x.txt"));
}

// Started by a service manager on the first connection, the reviewer serves
// the server that was waiting and leaves the socket file it did not make.
TEST(ReviewServers, SocketActivation) {
  TempDir dir;
  const std::string socket = dir.file("activated.sock");
  ReviewerProcess manager(
      {"--auto", "accept"}, {},
      {"systemd-socket-activate", "-l", socket, "-E", "PATH", "-E", "XDG_STATE_HOME"});
  ASSERT_TRUE(wait_until_listening(socket));
  TempDir ws;
  EXPECT_EQ(edit_through_server(socket, ws.path(), "made.txt", "activated\n").out,
            accepted_response("made.txt"));
  EXPECT_EQ(ws.read("made.txt"), "activated\n");
  EXPECT_EQ(manager.stop(), 0);
  EXPECT_TRUE(exists(socket));
}

// The desk's token is kept in the state directory, mode 0600, across starts
// until --rotate-token replaces it; one that others could read is refused.
// "status" and "open" find the running reviewer there, and a killed one's
// file as stale: "open" hands xdg-open a launch page, never the token.
TEST(ReviewServers, TheDeskKeepsItsAddressAndOtherCommandsFindIt) {
  TempDir dir;
  dir.write("bin/xdg-open", "#!/bin/sh\necho \"$@\" > \"$0.args\"\n");
  ::chmod(dir.file("bin/xdg-open").c_str(), 0755);
  dir.write("ws/.keep", "");
  const std::map<std::string, std::string> env = {
      {"XDG_STATE_HOME", dir.path()},
      {"XDG_RUNTIME_DIR", dir.path()},
      {"PATH", dir.file("bin") + ":" + std::getenv("PATH")}};
  const std::vector<std::string> web = {"--socket", dir.file("s"), "--web", "--no-journal"};
  const std::string kept = dir.file("varnock-review/desk-token");
  std::string token;
  for (const bool rotate : {false, false, true, false}) {
    std::vector<std::string> args = web;
    if (rotate) args.push_back("--rotate-token");
    ReviewerProcess reviewer(args, env);
    const std::string url = reviewer.desk_url();
    EXPECT_EQ(url.substr(url.find("token=") + 6) == token, !rotate && !token.empty()) << url;
    token = url.substr(url.find("token=") + 6);
    EXPECT_EQ(dir.read("varnock-review/desk-token"), token + "\n");
    EXPECT_EQ(mode_of(kept) & 0777, 0600u);
  }
  EXPECT_FALSE(exists(dir.file("bin/xdg-open.args"))) << "a browser opened without --open";
  dir.write("varnock-review/desk-token", "not a token\n");
  ReviewerProcess garbled(web, env);
  EXPECT_EQ(garbled.stop(0), 1);
  EXPECT_NE(garbled.err().find(kept + " does not hold a desk token; replace it: varnock-review "
                                      "--web --rotate-token"),
            std::string::npos)
      << garbled.err();
  dir.write("varnock-review/desk-token", token + "\n");
  const auto command = [&](const std::string& name) {
    return run_server("",
                      {.program = VARNOCK_REVIEW_BINARY, .arguments = {name}, .environment = env});
  };
  ReviewerProcess reviewer(web, env);
  const std::string url = reviewer.desk_url();
  ScopedDirectory inside(dir.file("ws"));
  Connection server = Connection::to(reviewer.socket_path());
  ASSERT_TRUE(server.send(hello_line() + raw_proposal("p", "a.txt", "", "new\n")));
  ProcessOutput status;
  EXPECT_TRUE(poll_until([&] {
    status = command("status");
    return status.exit_status == 0 && status.out.find("1 proposal waits.") != std::string::npos;
  })) << status.out << status.err;
  EXPECT_NE(status.out.find("Socket: " + dir.file("s") + "\nDesk: " + url.substr(0, url.find('?'))),
            std::string::npos)
      << status.out;
  EXPECT_EQ(command("open").exit_status, 0);
  EXPECT_EQ(dir.read("bin/xdg-open.args"), dir.file("varnock-review-open.html") + "\n");
  EXPECT_NE(dir.read("varnock-review-open.html").find("url=" + url + "\""), std::string::npos);
  reviewer.stop();
  EXPECT_FALSE(exists(dir.file("varnock-review/running.json")));
  ReviewerProcess killed({"--socket", dir.file("s"), "--auto", "accept"}, env);
  ASSERT_EQ(killed.socket_path(), dir.file("s"));
  killed.stop(SIGKILL);
  EXPECT_TRUE(exists(dir.file("varnock-review/running.json")));
  EXPECT_EQ(command("status").out, "No reviewer is running.\n");
  ::chmod(kept.c_str(), 0640);
  ReviewerProcess refused(web, env);
  EXPECT_EQ(refused.stop(0), 1);
  EXPECT_NE(refused.err().find("refusing the desk token in " + kept), std::string::npos)
      << refused.err();
}

// A running.json left by a killed reviewer names a pid that another process
// may get: one of this user named varnock-review is taken for the reviewer,
// one of another user with that name is not (it could be listening on the
// desk's port for the token "open" would send). Nor does "open" hand the
// address with the token to a browser before the desk there has proved that
// it holds the token.
TEST(ReviewServers, OpenSendsTheTokenOnlyToTheProvenDesk) {
  TempDir dir;
  dir.write("bin/xdg-open", "#!/bin/sh\necho \"$@\" > \"$0.args\"\n");
  ::chmod(dir.file("bin/xdg-open").c_str(), 0755);
  dir.write("varnock-review/desk-token", std::string(64, 'a') + "\n");
  ::chmod(dir.file("varnock-review").c_str(), 0700);
  ::chmod(dir.file("varnock-review/desk-token").c_str(), 0600);
  const std::map<std::string, std::string> env = {
      {"XDG_STATE_HOME", dir.path()},
      {"XDG_RUNTIME_DIR", dir.path()},
      {"PATH", dir.file("bin") + ":" + std::getenv("PATH")}};
  const auto command = [&](const std::string& name) {
    return run_server("",
                      {.program = VARNOCK_REVIEW_BINARY, .arguments = {name}, .environment = env});
  };
  std::vector<uid_t> users = {::geteuid()};
  if (::geteuid() == 0) users.push_back(65534);  // only root starts one as another user
  for (const uid_t uid : users) {
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    const pid_t squatter = ::fork();
    if (squatter == 0) {
      ::prctl(PR_SET_NAME, "varnock-review");
      if (::setresuid(uid, uid, uid) != 0 || ::write(ready[1], "x", 1) != 1) ::_exit(2);
      ::pause();
      ::_exit(0);
    }
    ::close(ready[1]);
    char byte = 0;
    ASSERT_EQ(::read(ready[0], &byte, 1), 1) << "the process did not start as " << uid;
    ::close(ready[0]);
    // Nothing listens at the desk's address: no proof comes.
    dir.write("varnock-review/running.json", R"({"desk":"http://127.0.0.1:9/","pid":)" +
                                                 std::to_string(squatter) +
                                                 R"(,"socket":"","waiting":0})");
    ::chmod(dir.file("varnock-review/running.json").c_str(), 0600);
    const ProcessOutput status = command("status");
    const ProcessOutput open = command("open");
    ::kill(squatter, SIGKILL);
    ::waitpid(squatter, nullptr, 0);
    const bool ours = uid == ::geteuid();
    EXPECT_TRUE(status.out.starts_with(ours ? "A reviewer is running" : "No reviewer"))
        << uid << ": " << status.out << status.err;
    EXPECT_EQ(open.exit_status, 1);
    EXPECT_NE(
        open.err.find(ours ? "did not prove that it holds the token" : "no reviewer is running"),
        std::string::npos)
        << open.err;
  }
  EXPECT_FALSE(exists(dir.file("bin/xdg-open.args")));
  // A desk on the IPv6 loopback address proves itself under its bracketed
  // name, and is opened.
  ReviewerProcess reviewer({"--socket", dir.file("s"), "--web", "[::1]:0", "--no-journal"}, env);
  ASSERT_NE(reviewer.desk_url().find("http://[::1]:"), std::string::npos) << reviewer.desk_url();
  const ProcessOutput opened = command("open");
  EXPECT_EQ(opened.exit_status, 0) << opened.err;
  EXPECT_TRUE(exists(dir.file("bin/xdg-open.args")));
}

// What may already be at the socket path: a stale socket is taken over, a
// live reviewer's is not, and any other file is left alone (the one that
// takes it over names the rules file it read); and the other command lines
// that end at once.
TEST(ReviewServers, TheSocketPathIsTakenOverOnlyFromTheDead) {
  TempDir dir;
  {  // a socket file nobody listens on, as a killed reviewer leaves it
    Result<UniqueFd> stale = listen_unix(dir.file("stale"), 1);
    ASSERT_TRUE(stale.ok()) << stale.failure();
  }
  dir.write("rules", "# kept out\nreject .env\n\n[workspace /srv/site]\naccept docs/**\n");
  ReviewerProcess taker(
      {"--socket", dir.file("stale"), "--auto", "reject", "--rules", dir.file("rules")});
  EXPECT_EQ(taker.socket_path(), dir.file("stale"));
  EXPECT_TRUE(taker.wait_for("; rules " + dir.file("rules") + " (2 rules).")) << taker.out();
  dir.write("plain", "not a socket");
  std::filesystem::create_symlink(".env", dir.file("link.txt"));
  std::filesystem::create_symlink("/etc/passwd", dir.file("out-link"));
  for (const VectorRecord& end : read_vectors("review/ends.tsv")) {
    std::istringstream words(
        std::regex_replace(end.columns.at(0), std::regex("\\{dir\\}"), dir.path()));
    ReviewerProcess ended({std::istream_iterator<std::string>(words), {}});
    const std::string message = std::regex_replace(
        unescape(end.columns.at(2)), std::regex("\\{version\\}"), std::string(kVersion));
    EXPECT_EQ(ended.stop(0), std::stoi(end.columns.at(1))) << message;
    EXPECT_NE((ended.out() + ended.err()).find(message), std::string::npos) << ended.err();
  }
  EXPECT_EQ(dir.read("plain"), "not a socket");
  EXPECT_FALSE(exists(dir.file("t")));
}

// Longer than the reviewer gives a question before it takes an answer.
constexpr auto kReadingTime = std::chrono::milliseconds(600);

// The person at the terminal: varnock-review on a pseudo-terminal of its
// own, asked about each proposal in turn, answering there; an answer that
// comes before the question could be read is not taken.
TEST(ReviewTerminal, ThePersonAnswersEachProposalInTurn) {
  TempDir sockets, ws;
  const std::string socket = sockets.file("s");
  std::future<std::string> edits[3];  // outlive the reviewer, which ends them
  const auto edit = [&](const std::string& path) {
    return std::async(std::launch::async,
                      [&, path] { return edit_through_server(socket, ws.path(), path, path).out; });
  };
  ServerProcess reviewer({.program = VARNOCK_REVIEW_BINARY,
                          .arguments = {"--socket", socket, "--no-journal"},
                          .terminal = true});
  ASSERT_TRUE(reviewer.wait_for("VARNOCK_SOCKET=" + socket)) << reviewer.out();
  // With nothing asked, a line asks for the history or is told what it can ask.
  reviewer.write("h\n");
  ASSERT_TRUE(reviewer.wait_for("No decisions yet.")) << reviewer.out();
  reviewer.write("a\n");
  ASSERT_TRUE(reviewer.wait_for("No proposal waits for an answer. Type h")) << reviewer.out();
  edits[0] = edit("first.txt");
  ASSERT_TRUE(reviewer.wait_for("Accept this edit to first.txt?")) << reviewer.out();
  // Answered the moment the question shows, with no round trip before it,
  // so that it comes well within the time the reviewer gives a question.
  // An answer is one key, without Enter; a longer word ends with Enter.
  reviewer.write("a");
  ASSERT_TRUE(reviewer.wait_for("That answer came before the question could be read"));
  reviewer.write("maybe\n");
  ASSERT_TRUE(reviewer.wait_for("Please answer a (accept), r (reject) or h (history)"));
  std::this_thread::sleep_for(kReadingTime);
  reviewer.write("a");
  EXPECT_EQ(edits[0].get(), accepted_response("first.txt"));
  EXPECT_EQ(ws.read("first.txt"), "first.txt");
  edits[1] = edit("second.txt");
  ASSERT_TRUE(reviewer.wait_for("Accept this edit to second.txt?")) << reviewer.out();
  reviewer.write("h");
  ASSERT_TRUE(reviewer.wait_for("Accepted (by terminal): first.txt is written."));
  std::this_thread::sleep_for(kReadingTime);
  reviewer.write("r");
  EXPECT_EQ(edits[1].get(), rejected_response());
  EXPECT_FALSE(exists(ws.file("second.txt")));
  edits[2] = edit("third.txt");
  ASSERT_TRUE(reviewer.wait_for("Accept this edit to third.txt?")) << reviewer.out();
  reviewer.signal(SIGTERM);
  EXPECT_TRUE(reviewer.wait_for("Withdrawn: third.txt (the reviewer stopped before an answer)"))
      << reviewer.out();
  EXPECT_EQ(reviewer.finish(), 0);
  EXPECT_FALSE(exists(ws.file("third.txt")));
}

}  // namespace
}  // namespace varnock::test
