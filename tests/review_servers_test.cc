// varnock-review with real varnock-mcp servers: each server's edits land in
// its own working directory, the file shown is the file written, and what
// cannot be applied is refused before anyone is asked, and journalled.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "base/unix_socket.h"
#include "json/parse.h"
#include "json/write.h"
#include "review_harness.h"
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
  const std::string ws = fixture.root.file("ws");
  const std::string sub = fixture.root.file("ws/sub");
  const std::string wsb = fixture.root.file("wsb");
  EXPECT_EQ(edit_through_server(fixture.socket, sub, "brandnew.txt", "in sub\n").out,
            accepted_response("brandnew.txt"));
  EXPECT_EQ(edit_through_server(fixture.socket, ws, "brandnew.txt", "in ws\n").out,
            accepted_response("brandnew.txt"));
  EXPECT_EQ(edit_through_server(fixture.socket, wsb, "b/new.txt", "in wsb\n").out,
            accepted_response("b/new.txt"));
  const std::string absolute = real_path(wsb) + "/abs.txt";
  EXPECT_EQ(edit_through_server(fixture.socket, wsb, absolute, "absolute\n").out,
            accepted_response(absolute));
  EXPECT_EQ(fixture.root.read("ws/sub/brandnew.txt"), "in sub\n");
  EXPECT_EQ(fixture.root.read("ws/brandnew.txt"), "in ws\n");
  EXPECT_EQ(fixture.root.read("wsb/b/new.txt"), "in wsb\n");
  EXPECT_EQ(fixture.root.read("wsb/abs.txt"), "absolute\n");
  EXPECT_TRUE(fixture.reviewer->wait_for("in " + real_path(sub) + ")"));
}

// A link inside the workspace is followed, and the person is shown the file
// that will be written; the link itself stays.
TEST(ReviewServers, TheResolvedTargetIsShownAndWritten) {
  ReviewerFixture fixture;
  ASSERT_TRUE(fixture.start("accept"));
  fixture.root.write("ws/scripts/deploy.sh", "echo deploy\n");
  const std::string ws = fixture.root.file("ws");
  ASSERT_EQ(::symlink("scripts/deploy.sh", (ws + "/notes.md").c_str()), 0);
  EXPECT_EQ(edit_through_server(fixture.socket, ws, "notes.md", "rm -rf /\n").out,
            accepted_response("notes.md"));
  EXPECT_TRUE(fixture.reviewer->wait_for("writes: scripts/deploy.sh"));
  EXPECT_TRUE(fixture.reviewer->wait_for("Accepted (by auto): scripts/deploy.sh is written."));
  EXPECT_EQ(fixture.root.read("ws/scripts/deploy.sh"), "rm -rf /\n");
  EXPECT_TRUE(S_ISLNK(mode_of(ws + "/notes.md")));
}

// What cannot be applied is refused without asking, with its reason, and
// nothing changes; the table is what the agent can cause.
struct Unappliable {
  const char* name;
  const char* path;
  const char* reason;
};

TEST(ReviewServers, WhatCannotBeAppliedIsRefusedBeforeAsking) {
  ReviewerFixture fixture;
  ASSERT_TRUE(fixture.start("accept", {"--journal", fixture.sockets.file("j/journal.jsonl")}));
  TempDir outside;
  outside.write("secret.txt", "secret\n");
  fixture.root.write("ws/data.bin", std::string("\xff\xfe\x00\x01", 4));
  fixture.root.write("ws/dir/inner.txt", "x");
  const std::string ws = fixture.root.file("ws");
  ASSERT_EQ(::symlink(outside.path().c_str(), (ws + "/out").c_str()), 0);
  ASSERT_EQ(::symlink(outside.file("secret.txt").c_str(), (ws + "/leak.txt").c_str()), 0);
  ASSERT_EQ(::symlink("../../x", (ws + "/up.txt").c_str()), 0);
  const Unappliable cases[] = {
      {"binary", "data.bin", "not text the server could send"},
      {"link to outside dir", "out/planted.txt", "leads outside the workspace"},
      {"link to outside file", "leak.txt", "leads outside the workspace"},
      {"relative link climbing out", "up.txt", "leads outside the workspace"},
      {"too deep", nullptr, "too long or too deep"},
  };
  const std::string outside_before = outside.snapshot();
  const std::string ws_before = fixture.root.snapshot();
  for (const Unappliable& unappliable : cases) {
    SCOPED_TRACE(unappliable.name);
    std::string path = unappliable.path ? unappliable.path : "";
    for (int depth = 0; !unappliable.path && depth < 100; ++depth) path += "d/";
    if (!unappliable.path) path += "f";
    EXPECT_EQ(edit_through_server(fixture.socket, ws, path, "new\n").out, rejected_response());
    EXPECT_TRUE(fixture.reviewer->wait_for("Refused without asking: "));
    EXPECT_NE(fixture.reviewer->out().rfind(unappliable.reason), std::string::npos);
  }
  EXPECT_EQ(outside.snapshot(), outside_before);
  EXPECT_EQ(fixture.root.snapshot(), ws_before);
  EXPECT_FALSE(exists(ws + "/d"));
  EXPECT_EQ(fixture.reviewer->out().find("Changes:"), std::string::npos) << "nothing was asked";
}

// Every decision is one JSON line in a journal only the user can read.
TEST(ReviewServers, DecisionsAreJournalled) {
  ReviewerFixture fixture;
  const std::string journal = fixture.sockets.file("state/journal.jsonl");
  ASSERT_TRUE(fixture.start("accept", {"--journal", journal}));
  fixture.root.write("ws/old.txt", "old\n");
  const std::string ws = fixture.root.file("ws");
  EXPECT_EQ(edit_through_server(fixture.socket, ws, "new.txt", "1234\n").out,
            accepted_response("new.txt"));
  {
    RawServer stale(fixture.socket);
    ASSERT_TRUE(stale.send(hello_line() + raw_proposal("p-1", "old.txt", "not old\n", "x")));
    EXPECT_EQ(stale.read_line(), decision("p-1", false));
  }
  fixture.reviewer->stop();
  EXPECT_EQ(mode_of(journal) & 0777, 0600u);
  const std::string text = fixture.sockets.read("state/journal.jsonl");
  const std::size_t first_end = text.find('\n');
  ASSERT_NE(first_end, std::string::npos) << text;
  Result<json::Value> first = json::parse(text.substr(0, first_end));
  Result<json::Value> second = json::parse(text.substr(first_end + 1));
  ASSERT_TRUE(first.ok() && second.ok()) << text;
  const json::Value::Object& accepted = first.value().as_object();
  EXPECT_EQ(json::write(accepted.at("decision")), "\"accepted\"");
  EXPECT_EQ(json::write(accepted.at("workspace")), quoted(real_path(ws)));
  EXPECT_EQ(json::write(accepted.at("after_bytes")), "5");
  EXPECT_EQ(json::write(accepted.at("thread_id")), "\"t-e2e\"");
  const json::Value::Object& refused = second.value().as_object();
  EXPECT_EQ(json::write(refused.at("decision")), "\"refused\"");
  EXPECT_EQ(json::write(refused.at("reason")), "\"the file has changed since the agent read it\"");
}

// With --workspace, a server working elsewhere is refused at hello, and the
// person is told why.
TEST(ReviewServers, WorkspaceOptionLimitsWhereServersMayWork) {
  ReviewerFixture fixture;
  fixture.root.write("allowed/.keep", "");
  fixture.root.write("elsewhere/.keep", "");
  ASSERT_TRUE(fixture.start("accept", {"--workspace", fixture.root.file("allowed")}));
  edit_through_server(fixture.socket, fixture.root.file("elsewhere"), "x.txt", "x\n");
  EXPECT_TRUE(fixture.reviewer->wait_for("is disconnected: it works in "));
  EXPECT_NE(fixture.reviewer->out().find(", outside " + real_path(fixture.root.file("allowed"))),
            std::string::npos);
  EXPECT_FALSE(exists(fixture.root.file("elsewhere/x.txt")));
  EXPECT_EQ(edit_through_server(fixture.socket, fixture.root.file("allowed"), "x.txt", "x\n").out,
            accepted_response("x.txt"));
}

// The pid shown is the kernel's; a hello that claims another is shown too.
TEST(ReviewServers, ThePidComesFromTheKernel) {
  ReviewerFixture fixture;
  ASSERT_TRUE(fixture.start("reject"));
  RawServer liar(fixture.socket);
  ASSERT_TRUE(liar.send(hello_line("1")));
  EXPECT_TRUE(fixture.reviewer->wait_for("(pid " + std::to_string(::getpid()) +
                                         ", hello said pid 1, thread \"t-raw\""));
}

// Started by a service manager on the first connection, the reviewer serves
// the server that was waiting and leaves the socket file it did not make.
TEST(ReviewServers, SocketActivation) {
  TempDir dir;
  const std::string socket = dir.file("activated.sock");
  ReviewerProcess manager({"--auto", "accept"}, {},
                          {"systemd-socket-activate", "-l", socket, "-E", "PATH"});
  for (int i = 0; i < 500 && !exists(socket); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  ASSERT_TRUE(exists(socket));
  TempDir ws;
  EXPECT_EQ(edit_through_server(socket, ws.path(), "made.txt", "activated\n").out,
            accepted_response("made.txt"));
  EXPECT_EQ(ws.read("made.txt"), "activated\n");
  EXPECT_EQ(manager.stop(), 0);
  EXPECT_TRUE(exists(socket));
}

// What may already be at the socket path: a stale socket is taken over, a
// live reviewer's is not, and any other file is left alone.
TEST(ReviewServers, TheSocketPathIsTakenOverOnlyFromTheDead) {
  TempDir dir;
  {  // a socket file nobody listens on, as a killed reviewer leaves it
    Result<UniqueFd> stale = listen_unix(dir.file("stale"), 1);
    ASSERT_TRUE(stale.ok()) << stale.failure();
  }
  ReviewerProcess taker({"--socket", dir.file("stale"), "--auto", "reject"});
  EXPECT_EQ(taker.socket_path(), dir.file("stale"));
  ReviewerProcess second({"--socket", dir.file("stale"), "--auto", "accept"});
  EXPECT_EQ(second.stop(0), 1);
  EXPECT_NE(second.err().find("another reviewer is already listening"), std::string::npos);
  dir.write("plain", "not a socket");
  ReviewerProcess refused({"--socket", dir.file("plain"), "--auto", "reject"});
  EXPECT_EQ(refused.stop(0), 1);
  EXPECT_NE(refused.err().find("not a socket"), std::string::npos) << refused.err();
  EXPECT_EQ(dir.read("plain"), "not a socket");
  ReviewerProcess no_terminal({"--socket", dir.file("t")});
  EXPECT_EQ(no_terminal.stop(0), 1);
  EXPECT_NE(no_terminal.err().find("--auto"), std::string::npos) << no_terminal.err();
  EXPECT_FALSE(exists(dir.file("t")));
}

TEST(ReviewServers, VersionIsTheProjectVersion) {
  ReviewerProcess reviewer({"--version"});
  const std::string line = reviewer.read_line().value_or("");
  EXPECT_TRUE(line.starts_with("varnock-review ") && line.size() > 15 && std::isdigit(line[15]))
      << line;
  EXPECT_EQ(reviewer.stop(0), 0);
}

}  // namespace
}  // namespace varnock::test
