// How the decoder messages describe the value found: each record of
// found.tsv is a JSON text and the description of the value it holds.
#include <gtest/gtest.h>

#include <string>

#include "json/decode.h"
#include "json/parse.h"
#include "support/vectors.h"

namespace varnock::json {
namespace {

TEST(DescribeFound, EveryRecordOfFoundTsv) {
  const auto records = test::read_vectors("found.tsv");
  ASSERT_GT(records.size(), 30u);
  for (const auto& record : records) {
    Result<Value> value = parse(test::from_hex(record.columns[0]));
    ASSERT_TRUE(value.ok()) << "found.tsv line " << record.line;
    EXPECT_EQ(describe_found(value.value()), record.columns[1]) << "found.tsv line " << record.line;
  }
}

}  // namespace
}  // namespace varnock::json
