// The message loop and the dispatcher as the host sees them: request lines
// written to the program's standard input, response lines compared byte for
// byte, with no review broker configured.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/process.h"
#include "support/temp_dir.h"

namespace varnock::test {
namespace {

std::string serve(const std::string& input) { return serve_without_broker(input); }

std::string parse_error(const std::string& reader_text) {
  return R"({"error":{"code":-32700,"message":"invalid JSON-RPC message: )" + reader_text +
         R"("},"id":null,"jsonrpc":"2.0"})" + "\n";
}

std::string failure(const std::string& id, const std::string& message) {
  return R"({"error":{"code":-32602,"message":")" + message + R"("},"id":)" + id +
         R"(,"jsonrpc":"2.0"})" + "\n";
}

const std::string kInitialize = R"({"jsonrpc":"2.0","id":1,"method":"initialize"})";
const std::string kInitializeAnswer =
    R"({"id":1,"jsonrpc":"2.0","result":{"capabilities":{"tools":{}},)"
    R"("protocolVersion":"2025-06-18","serverInfo":{"name":"varnock-mcp","version":"0.4.11"}}})"
    "\n";

const std::string kToolsListAnswer =
    R"({"id":7,"jsonrpc":"2.0","result":{"tools":[{"description":"Submit a full-file )"
    R"(replacement for human review. The user sees the diff plus your explanation )"
    R"(side-by-side and decides whether to accept.","inputSchema":{"properties":{"content":{")"
    R"(description":"Full new file contents. MUST be non-empty — this tool will )"
    R"(not create zero-byte files. If the user genuinely wants an empty file,)"
    R"( use a shell `touch` instead.","type":"string"},"explanationInMarkdown":{"description")"
    R"(:"Explain the code you are writing so a reviewer can judge it without )"
    R"(re-reading the diff. Cover: (1) what the new code DOES — the behavior,)"
    R"( the logic, the contract; (2) WHY you structured it this way — the key )"
    R"(design choices, the trade-offs you considered, what you rejected; (3) )"
    R"(anything non-obvious — invariants, edge cases handled, assumptions about )"
    R"(callers, known limitations. Be concrete and reference identifiers/functions/branches )"
    R"(by name. Use markdown bullets (3–8 points) — not paragraphs. DO NOT narrate )"
    R"(the diff itself: no 'Updated X', no 'added N lines', no 'expanded the )"
    R"(implementation', no 'kept the review focused on the diff' — the reviewer )"
    R"(already sees the diff. If the change is trivially mechanical (e.g. a one-line )"
    R"(rename) say so explicitly and stop. Write for an engineer who will maintain )"
    R"(this code next month.","type":"string"},"path":{"description":"Absolute )"
    R"(path of the file to create or overwrite.","type":"string"}},"required":["path",)"
    R"("content","explanationInMarkdown"],"type":"object"},"name":"write_file"}]}})"
    "\n";

struct Case {
  const char* name;
  std::string input;
  std::string expected;
};

void expect_answers(const std::vector<Case>& cases) {
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(serve(c.input), c.expected);
  }
}

TEST(MessageLoop, FramesLinesAndSkipsBlankOnes) {
  const std::string nbsp = "\xc2\xa0";
  const std::string every_white_space =
      "\t\x0b\x0c\r \xc2\x85\xc2\xa0\xe1\x9a\x80\xe2\x80\x80\xe2\x80\x81\xe2\x80\x82\xe2\x80\x83"
      "\xe2\x80\x84\xe2\x80\x85\xe2\x80\x86\xe2\x80\x87\xe2\x80\x88\xe2\x80\x89\xe2\x80\x8a"
      "\xe2\x80\xa8\xe2\x80\xa9\xe2\x80\xaf\xe2\x81\x9f\xe3\x80\x80";
  expect_answers({
      {"LF", kInitialize + "\n", kInitializeAnswer},
      {"CR LF", kInitialize + "\r\n", kInitializeAnswer},
      {"no final LF", kInitialize, kInitializeAnswer},
      {"CR without LF at the end", kInitialize + "\r", kInitializeAnswer},
      {"blanks around", " \t" + kInitialize + "\t  \n", kInitializeAnswer},
      {"empty lines", "\n\r\n\n", ""},
      {"spaces and tabs", "  \t \t\n", ""},
      {"CR CR LF", "\r\r\n", ""},
      {"no-break space only", nbsp + "\n", ""},
      {"every Unicode White_Space character", every_white_space + "\n", ""},
      {"no-break space before a request", nbsp + kInitialize + "\n",
       parse_error("expected value at line 1 column 1")},
      {"byte-order mark before a request", "\xef\xbb\xbf" + kInitialize + "\n",
       parse_error("expected value at line 1 column 1")},
      {"zero-width space is not blank", "\xe2\x80\x8b\n",
       parse_error("expected value at line 1 column 1")},
      {"NUL byte", std::string(1, '\0') + "\n", parse_error("expected value at line 1 column 1")},
      {"two values on one line", kInitialize + " " + kInitialize + "\n",
       parse_error("trailing characters at line 1 column 48")},
      {"blank lines between requests", "\n" + kInitialize + "\n \n" + kInitialize + "\n",
       kInitializeAnswer + kInitializeAnswer},
  });
}

TEST(MessageLoop, ParseErrorLineForHelloIsExact) {
  EXPECT_EQ(serve("hello\n"),
            std::string(R"({"error":{"code":-32700,"message":"invalid JSON-RPC message: )"
                        R"(expected value at line 1 column 1"},"id":null,"jsonrpc":"2.0"})") +
                "\n");
}

TEST(MessageLoop, DropsLinesThatAreNotUtf8AndReadsOn) {
  expect_answers({
      {"stray byte", "\xff\n" + kInitialize + "\n", kInitializeAnswer},
      {"overlong slash", "\xc0\xaf\n" + kInitialize + "\n", kInitializeAnswer},
      {"encoded surrogate", "\xed\xa0\x80\n" + kInitialize + "\n", kInitializeAnswer},
      {"inside a request with an id", "{\"id\":1,\"method\":\"x\xfe\"}\n" + kInitialize + "\n",
       kInitializeAnswer},
      {"truncated sequence on the last line", kInitialize + "\n\xe2\x82", kInitializeAnswer},
  });
}

TEST(MessageLoop, ValuesThatAreNotRequestsGetNoAnswer) {
  EXPECT_EQ(serve("42\n[]\nnull\n\"text\"\ntrue\n{}\n[" + kInitialize + "]\n"), "");
}

TEST(MessageLoop, AnswersRequestsWrittenOneByteAtATime) {
  TempDir workspace;
  ProcessOptions options;
  options.working_directory = workspace.path();
  ServerProcess server(options);
  const std::string input = kInitialize + "\r\n" + R"({"id":"b","method":"ping"})" + "\n\nhello\n" +
                            R"({"id":3,"method":"tools/list"})";
  for (char byte : input) server.write(std::string(1, byte));
  EXPECT_EQ(server.finish(), 0);
  EXPECT_EQ(server.read_line(), kInitializeAnswer.substr(0, kInitializeAnswer.size() - 1));
  EXPECT_EQ(server.read_line().value_or("") + "\n", failure(R"("b")", "unsupported method: ping"));
  EXPECT_EQ(server.read_line().value_or("") + "\n",
            parse_error("expected value at line 1 column 1"));
  std::optional<std::string> tools = server.read_line();
  ASSERT_TRUE(tools.has_value());
  EXPECT_EQ(tools->substr(0, 7), R"({"id":3)");
  EXPECT_EQ(server.read_line(), std::nullopt);
  EXPECT_EQ(server.err(), "");
}

TEST(MessageLoop, AnswersAVeryLongLine) {
  const std::size_t size = 20 * 1024 * 1024;
  const std::string filler(size, 'a');
  const std::string request = R"({"id":1,"method":"long","params":{"pad":")" + filler + R"("}})";
  const std::string broken = "\"" + filler + "\"x";
  EXPECT_EQ(serve(request + "\n" + broken + "\n" + kInitialize),
            failure("1", "unsupported method: long") +
                parse_error("trailing characters at line 1 column " + std::to_string(size + 3)) +
                kInitializeAnswer);
}

TEST(MessageLoop, SurvivesAClosedStandardOutput) {
  TempDir workspace;
  ProcessOptions options;
  options.working_directory = workspace.path();
  ServerProcess server(options);
  server.close_stdout_reader();
  for (int i = 0; i < 50; ++i) server.write(kInitialize + "\nhello\n");
  EXPECT_EQ(server.finish(), 0);
  EXPECT_EQ(server.err(), "");
}

TEST(MessageLoop, ServesWithClosedStandardDescriptors) {
  TempDir workspace;
  ProcessOptions options;
  options.working_directory = workspace.path();
  options.closed_descriptors = {2};
  ProcessOutput no_stderr = run_server(kInitialize + "\n", options);
  EXPECT_EQ(no_stderr.exit_status, 0);
  EXPECT_EQ(no_stderr.out, kInitializeAnswer);

  options.closed_descriptors = {0, 1, 2};
  EXPECT_EQ(run_server(kInitialize + "\n", options).exit_status, 0);

  options.closed_descriptors = {1};
  ProcessOutput no_stdout = run_server(kInitialize + "\n", options);
  EXPECT_EQ(no_stdout.exit_status, 0);
  EXPECT_EQ(no_stdout.err, "");

  options.closed_descriptors = {0};
  ProcessOutput no_stdin = run_server(kInitialize + "\n", options);
  EXPECT_EQ(no_stdin.exit_status, 0);
  EXPECT_EQ(no_stdin.out, "");
}

TEST(Dispatch, EchoesEveryKindOfId) {
  const std::vector<std::pair<std::string, std::string>> ids = {
      {"1", "1"},
      {"-7", "-7"},
      {"0", "0"},
      {"18446744073709551615", "18446744073709551615"},
      {"-9223372036854775808", "-9223372036854775808"},
      {"1.0", "1.0"},
      {"1.50", "1.5"},
      {"1e2", "100.0"},
      {"-0", "-0.0"},
      {R"("abc")", R"("abc")"},
      {R"("")", R"("")"},
      {R"("tab\there\u00e9")", "\"tab\\there\xc3\xa9\""},
      {"null", "null"},
      {"true", "true"},
      {"false", "false"},
      {"[]", "[]"},
      {R"([1, "a", [null]])", R"([1,"a",[null]])"},
      {"{}", "{}"},
      {R"({"b": 1, "a": {"z": true, "Z": false}})", R"({"a":{"Z":false,"z":true},"b":1})"},
  };
  std::string input;
  std::string expected;
  for (const auto& [sent, echoed] : ids) {
    input += R"({"jsonrpc":"2.0","id":)" + sent + R"(,"method":"ping"})" + "\n";
    expected += failure(echoed, "unsupported method: ping");
  }
  EXPECT_EQ(serve(input), expected);
}

TEST(Dispatch, NotificationsGetNoAnswer) {
  const std::string notifications[] = {
      R"({"jsonrpc":"2.0","method":"initialize"})",
      R"({"jsonrpc":"2.0","method":"notifications/initialized"})",
      R"({"jsonrpc":"2.0","method":"notifications/cancelled","params":{"requestId":1}})",
      R"({"jsonrpc":"2.0","method":"tools/list"})",
      R"({"jsonrpc":"2.0","method":"tools/call","params":{"name":"write_file","arguments":{"path":"a.txt","content":"x","explanationInMarkdown":"why"}}})",
      R"({"jsonrpc":"2.0","method":"tools/call","params":{"name":"nope"}})",
      R"({"jsonrpc":"2.0","method":"ping"})",
      R"({"jsonrpc":"2.0"})",
      R"({"ID":1,"method":"initialize"})",
  };
  std::string input;
  for (const std::string& line : notifications) input += line + "\n";
  EXPECT_EQ(serve(input + kInitialize + "\n"), kInitializeAnswer);
}

TEST(Dispatch, RefusesEveryUnsupportedMethod) {
  const std::vector<std::pair<std::string, std::string>> methods = {
      {R"("method":"ping",)", "ping"},
      {"", ""},
      {R"("method":5,)", ""},
      {R"("method":null,)", ""},
      {R"("method":["initialize"],)", ""},
      {R"("method":"",)", ""},
      {R"("method":"Initialize",)", "Initialize"},
      {R"("method":"INITIALIZE",)", "INITIALIZE"},
      {R"("method":"tools/list ",)", "tools/list "},
      {R"("method":" tools/list",)", " tools/list"},
      {R"("method":"tools/List",)", "tools/List"},
      {R"("method":"tools/call\u0000",)", "tools/call\\u0000"},
      {R"("method":"a\"b\\c\u001f/",)", R"(a\"b\\c\u001f/)"},
  };
  std::string input;
  std::string expected;
  for (const auto& [member, named] : methods) {
    input += "{" + member + R"("id":9})" + "\n";
    expected += failure("9", "unsupported method: " + named);
  }
  EXPECT_EQ(serve(input), expected);
}

TEST(Dispatch, AnswersInitializeAlwaysTheSame) {
  const std::string with_params =
      R"({"jsonrpc":"2.0","id":1,"method":"initialize","params":{"protocolVersion":"1999-01-01",)"
      R"("capabilities":{"roots":{}},"clientInfo":{"name":"c","version":"1"}}})";
  EXPECT_EQ(serve(kInitialize + "\n" + with_params + "\n" + kInitialize + "\n"),
            kInitializeAnswer + kInitializeAnswer + kInitializeAnswer);
}

TEST(Dispatch, ListsTheWriteFileToolByteForByte) {
  const std::string list = std::string(R"({"jsonrpc":"2.0","id":7,"method":"tools/list"})") + "\n";
  const std::string with_cursor =
      std::string(R"({"jsonrpc":"2.0","id":7,"method":"tools/list","params":{"cursor":"x"}})") +
      "\n";
  EXPECT_EQ(serve(list + kInitialize + "\n" + with_cursor),
            kToolsListAnswer + kInitializeAnswer + kToolsListAnswer);
}

// The texts of the descriptor are also checked on their own, so that a
// failure says which one is wrong.
TEST(Dispatch, DescriptorTextsHaveTheirExactLengths) {
  std::string line = serve(std::string(R"({"id":7,"method":"tools/list"})") + "\n");
  auto description_of = [&line](const std::string& argument) {
    std::string key = "\"" + argument + R"(":{"description":")";
    std::size_t start = line.find(key);
    if (start == std::string::npos) return std::string();
    start += key.size();
    return line.substr(start, line.find('"', start) - start);
  };
  EXPECT_EQ(description_of("path").size(), 49u);
  EXPECT_EQ(description_of("content").size(), 160u);
  EXPECT_EQ(description_of("explanationInMarkdown").size(), 843u);
}

TEST(Dispatch, ToolCallFailsBeforeDecodingOnABadToolName) {
  const std::string bad_arguments = R"("arguments":7)";
  const std::vector<std::pair<std::string, std::string>> calls = {
      {"", "tool name is required"},
      {R"(,"params":null)", "tool name is required"},
      {R"(,"params":[])", "tool name is required"},
      {R"(,"params":"write_file")", "tool name is required"},
      {R"(,"params":{})", "tool name is required"},
      {R"(,"params":{"name":5})", "tool name is required"},
      {R"(,"params":{"name":null,)" + bad_arguments + "}", "tool name is required"},
      {R"(,"params":{"Name":"write_file"})", "tool name is required"},
      {R"(,"params":{"name":"Write_File"})", "unknown tool: Write_File"},
      {R"(,"params":{"name":"write_file ",)" + bad_arguments + "}", "unknown tool: write_file "},
      {R"(,"params":{"name":"",)" + bad_arguments + "}", "unknown tool: "},
      {R"(,"params":{"name":"write_file"})", "missing field `path`"},
      {R"(,"params":{"name":"write_file","arguments":{}})", "missing field `path`"},
      {R"(,"params":{"name":"write_file","arguments":null})",
       "invalid type: null, expected struct WriteFilePayload"},
  };
  std::string input;
  std::string expected;
  for (const auto& [params, message] : calls) {
    input += R"({"jsonrpc":"2.0","id":"c","method":"tools/call")" + params + "}\n";
    expected += failure(R"("c")", message);
  }
  EXPECT_EQ(serve(input), expected);
}

TEST(Dispatch, ToolCallWithoutBrokerAnswersWithAToolResultAtOnce) {
  const std::string call =
      R"({"jsonrpc":"2.0","id":4,"method":"tools/call","params":{"name":"write_file",)"
      R"("arguments":{"path":"notes.txt","content":"hello\n","explanationInMarkdown":"- greets"}}})"
      "\n";
  TempDir workspace;
  ProcessOptions options;
  options.working_directory = workspace.path();
  ProcessOutput output = run_server(call, options);
  EXPECT_EQ(output.exit_status, 0);
  EXPECT_EQ(
      output.out,
      R"({"id":4,"jsonrpc":"2.0","result":{"content":[{"text":"{\"received\":true,)"
      R"(\"path\":\"notes.txt\",\"message\":\"not written: no review broker is connected\"}",)"
      R"("type":"text"}]}})"
      "\n");
  EXPECT_EQ(workspace.snapshot(), "");
}

}  // namespace
}  // namespace varnock::test
