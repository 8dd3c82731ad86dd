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
