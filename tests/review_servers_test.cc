// varnock-review with real varnock-mcp servers: each server's edits land in
// its own working directory, the file shown is the file written, and what
// cannot be applied is refused before anyone is asked, and journalled.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "base/unix_socket.h"
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
  const std::string absolute = real_path(fixture.root.file("wsb")) + "/abs.txt";
  const std::string edits[][3] = {// where the server works, the path it sends, the file
                                  {"ws/sub", "brandnew.txt", "ws/sub/brandnew.txt"},
                                  {"ws", "brandnew.txt", "ws/brandnew.txt"},
                                  {"wsb", "b/new.txt", "wsb/b/new.txt"},
                                  {"wsb", absolute, "wsb/abs.txt"}};
  for (const auto& [cwd, path, file] : edits) {
    EXPECT_EQ(edit_through_server(fixture.socket, fixture.root.file(cwd), path, file).out,
              accepted_response(path));
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
  EXPECT_EQ(edit_through_server(fixture.socket, ws, "notes.md", "rm -rf /\n").out,
            accepted_response("notes.md"));
  EXPECT_TRUE(fixture.reviewer->wait_for("writes: scripts/deploy.sh"));
  EXPECT_TRUE(fixture.reviewer->wait_for("Accepted (by auto): scripts/deploy.sh is written."));
  EXPECT_EQ(fixture.root.read("ws/scripts/deploy.sh"), "rm -rf /\n");
  EXPECT_TRUE(S_ISLNK(mode_of(ws + "/notes.md")));
}

// What cannot be applied is refused without asking, with its reason, and
// nothing changes; the table is what the agent can cause.
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
  std::string deep = "f";
  for (int depth = 0; depth < 100; ++depth) deep.insert(0, "d/");
  const std::pair<std::string, const char*> cases[] = {
      {"data.bin", "not text the server could send"},
      {"out/planted.txt", "leads outside the workspace"},
      {"leak.txt", "leads outside the workspace"},
      {"up.txt", "leads outside the workspace"},
      {deep, "too long or too deep"},
  };
  const std::string outside_before = outside.snapshot();
  const std::string ws_before = fixture.root.snapshot();
  for (const auto& [path, reason] : cases) {
    EXPECT_EQ(edit_through_server(fixture.socket, ws, path, "new\n").out, rejected_response());
    EXPECT_TRUE(fixture.reviewer->wait_for("Refused without asking: "));
    EXPECT_NE(fixture.reviewer->out().rfind(reason), std::string::npos) << path;
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
  const std::string first = text.substr(0, text.find('\n'));
  const std::string second = text.substr(std::min(first.size() + 1, text.size()));
  const std::string members[] = {R"("decision":"accepted")",
                                 "\"workspace\":" + quoted(real_path(ws)), R"("after_bytes":5)",
                                 R"("thread_id":"t-e2e")"};
  for (const std::string& member : members) {
    EXPECT_NE(first.find(member), std::string::npos) << member << " in " << text;
  }
  EXPECT_TRUE(second.find(R"("decision":"refused")") != std::string::npos &&
              second.find(R"("reason":"the file has changed since the agent read it")") !=
                  std::string::npos)
      << text;
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
  dir.write("plain", "not a socket");
  const std::pair<std::vector<std::string>, const char*> refusals[] = {
      {{"--socket", dir.file("stale"), "--auto", "accept"},
       "another reviewer is already listening"},
      {{"--socket", dir.file("plain"), "--auto", "reject"}, "not a socket"},
      {{"--socket", dir.file("t")}, "--auto"}};
  for (const auto& [args, message] : refusals) {
    ReviewerProcess refused(args);
    EXPECT_EQ(refused.stop(0), 1);
    EXPECT_NE(refused.err().find(message), std::string::npos) << refused.err();
  }
  EXPECT_EQ(dir.read("plain"), "not a socket");
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
