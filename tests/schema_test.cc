// The write_file records: decoding the arguments, encoding the receipt.
#include "mcp/schema.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "json/parse.h"
#include "json/write.h"
#include "support/vectors.h"

namespace varnock::mcp {
namespace {

// "ERR <message>" or the decoded strings as a JSON array, as decode.tsv has them.
std::string decode_outcome(const std::string& text) {
  Result<json::Value> value = json::parse(text);
  if (!value.ok()) return "ERR\t" + value.failure();
  Result<WriteFilePayload> payload = decode_write_file_payload(std::move(value).value());
  if (!payload.ok()) return "ERR\t" + payload.failure();
  json::Value::Array strings = {json::Value(payload.value().path),
                                json::Value(payload.value().content),
                                json::Value(payload.value().explanation_in_markdown)};
  return "OK\t" + json::write(json::Value(std::move(strings)));
}

TEST(DecodeWriteFilePayload, EveryVectorOfDecodeTsv) {
  const std::vector<test::VectorRecord> records = test::read_vectors("decode.tsv");
  ASSERT_GT(records.size(), 100u);
  for (const test::VectorRecord& record : records) {
    ASSERT_EQ(record.columns.size(), 3u) << "decode.tsv line " << record.line;
    EXPECT_EQ(decode_outcome(test::from_hex(record.columns[0])),
              record.columns[1] + "\t" + record.columns[2])
        << "decode.tsv line " << record.line;
  }
}

struct DecodeCase {
  const char* arguments;
  const char* outcome;
};

// Objects: type errors during the walk in key order, missing members after it.
const DecodeCase kObjectCases[] = {
    {R"({})", "ERR\tmissing field `path`"},
    {R"({"path":"a"})", "ERR\tmissing field `content`"},
    {R"({"path":"a","content":"b"})", "ERR\tmissing field `explanationInMarkdown`"},
    {R"({"path":5})", "ERR\tinvalid type: integer `5`, expected a string"},
    {R"({"path":null,"content":"b","explanationInMarkdown":"c"})",
     "ERR\tinvalid type: null, expected a string"},
    {R"({"path":1,"content":2})", "ERR\tinvalid type: integer `2`, expected a string"},
    {R"({"explanationInMarkdown":[],"path":{}})", "ERR\tinvalid type: sequence, expected a string"},
    {R"({"content":"b","explanationInMarkdown":false})",
     "ERR\tinvalid type: boolean `false`, expected a string"},
    {R"({"Path":"a","content":"b","explanationInMarkdown":"c"})", "ERR\tmissing field `path`"},
    {R"({"path":"a","content":"b","explanation_in_markdown":"c"})",
     "ERR\tmissing field `explanationInMarkdown`"},
    {R"({"path":"a","content":"b","explanationInMarkdown":"c","extra":{"x":[1]}})",
     R"(OK	["a","b","c"])"},
    {R"({"path":"","content":"","explanationInMarkdown":""})", R"(OK	["","",""])"},
    {R"({"path":"x","path":"a","content":"b","explanationInMarkdown":"c"})",
     R"(OK	["a","b","c"])"},
};

// Arrays: positional, with the length messages.
const DecodeCase kArrayCases[] = {
    {R"(["a.txt","x","why"])", R"(OK	["a.txt","x","why"])"},
    {R"([])", "ERR\tinvalid length 0, expected struct WriteFilePayload with 3 elements"},
    {R"(["a","b"])", "ERR\tinvalid length 2, expected struct WriteFilePayload with 3 elements"},
    {R"(["a","b","c","d"])", "ERR\tinvalid length 4, expected fewer elements in array"},
    {R"(["a","b","c",1,2])", "ERR\tinvalid length 5, expected fewer elements in array"},
    {R"([1])", "ERR\tinvalid type: integer `1`, expected a string"},
    {R"(["a",null])", "ERR\tinvalid type: null, expected a string"},
    {R"(["a","b",1.5,"d"])", "ERR\tinvalid type: floating point `1.5`, expected a string"},
};

// Every other kind names the whole record.
const DecodeCase kOtherKindCases[] = {
    {"null", "ERR\tinvalid type: null, expected struct WriteFilePayload"},
    {"true", "ERR\tinvalid type: boolean `true`, expected struct WriteFilePayload"},
    {"-7", "ERR\tinvalid type: integer `-7`, expected struct WriteFilePayload"},
    {"1e20", "ERR\tinvalid type: floating point `1e+20`, expected struct WriteFilePayload"},
    {R"("x")", "ERR\tinvalid type: string \"x\", expected struct WriteFilePayload"},
};

void expect_outcomes(const DecodeCase* begin, const DecodeCase* end) {
  for (const DecodeCase* c = begin; c != end; ++c) {
    EXPECT_EQ(decode_outcome(c->arguments), c->outcome) << c->arguments;
  }
}

TEST(DecodeWriteFilePayload, Objects) {
  expect_outcomes(std::begin(kObjectCases), std::end(kObjectCases));
}

TEST(DecodeWriteFilePayload, Arrays) {
  expect_outcomes(std::begin(kArrayCases), std::end(kArrayCases));
}

TEST(DecodeWriteFilePayload, OtherKinds) {
  expect_outcomes(std::begin(kOtherKindCases), std::end(kOtherKindCases));
}

// The content can be very large, so it is moved out of the value, not copied.
TEST(DecodeWriteFilePayload, MovesTheStringsOutOfTheValue) {
  json::Value::Object object;
  object.emplace("path", json::Value(std::string(64, 'p')));
  object.emplace("content", json::Value(std::string(1 << 20, 'c')));
  object.emplace("explanationInMarkdown", json::Value(std::string(64, 'e')));
  json::Value value(std::move(object));
  const char* content_bytes = json::member(value, "content")->as_string().data();

  Result<WriteFilePayload> payload = decode_write_file_payload(std::move(value));
  ASSERT_TRUE(payload.ok()) << payload.failure();
  EXPECT_EQ(payload.value().content.data(), content_bytes);
  EXPECT_EQ(payload.value().content.size(), 1u << 20);
}

TEST(EncodeReceipt, MembersInDeclaredOrder) {
  EXPECT_EQ(
      encode_receipt({true, "notes.txt", "file written and accepted by reviewer"}),
      R"({"received":true,"path":"notes.txt","message":"file written and accepted by reviewer"})");
  EXPECT_EQ(encode_receipt({false, "a\"b\\c\n", "m\u00e9"}),
            "{\"received\":false,\"path\":\"a\\\"b\\\\c\\n\",\"message\":\"m\u00e9\"}");
}

}  // namespace
}  // namespace varnock::mcp
