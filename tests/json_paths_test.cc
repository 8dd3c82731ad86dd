// The two reading paths: the fast one may refuse a text, but what it gives
// must be what the exact one gives, and every vector must come out right
// through both.
#include <gtest/gtest.h>

#include <string>

#include "json/exact_parse.h"
#include "json/fast_parse.h"
#include "json/write.h"
#include "support/vectors.h"

namespace varnock::json {
namespace {

TEST(ReadingPaths, EveryParseVectorThroughBoth) {
  for (const auto& record : test::read_vectors("parse.tsv")) {
    const std::string text = test::from_hex(record.columns.at(0));
    const std::string& expected = record.columns.at(2);
    auto exact = exact_parse(text);
    auto fast = fast_parse(text);
    if (record.columns.at(1) == "OK") {
      ASSERT_TRUE(exact.ok()) << "line " << record.line << ": " << exact.failure();
      EXPECT_EQ(write(exact.value()), expected) << "line " << record.line;
      if (fast) {
        EXPECT_EQ(write(*fast), expected) << "line " << record.line;
      }
    } else {
      EXPECT_FALSE(fast.has_value()) << "line " << record.line;
      ASSERT_FALSE(exact.ok()) << "line " << record.line;
      EXPECT_EQ(exact.failure(), expected) << "line " << record.line;
    }
  }
}

TEST(ReadingPaths, FastPathTakesPlainRequests) {
  for (const char* text : {R"({"id":1,"method":"tools/list"})", R"([0,1.5,"x",null,true])",
                           R"({"a":0,"b":-1})", "18446744073709551615"}) {
    EXPECT_TRUE(fast_parse(text).has_value()) << text;
  }
}

// What the fast parser cannot represent exactly goes to the exact path.
TEST(ReadingPaths, FastPathRefusesWhatItCannotRepresent) {
  const std::string deep = std::string(128, '[') + std::string(128, ']');
  for (const std::string& text :
       {std::string("-0"), std::string("[-0]"), std::string(R"({"a":0,"b":"-0"})"),
        std::string("18446744073709551616"), std::string("-9223372036854775809"), deep,
        std::string("\xEF\xBB\xBF"
                    "1"),
        std::string("1\0", 2), std::string("1e400")}) {
    EXPECT_FALSE(fast_parse(text).has_value()) << text;
  }
}

TEST(ReadingPaths, FastPathKeepsTheLaterDuplicateAndSignedZeros) {
  auto value = fast_parse(R"({"b":1,"a":-0.0,"b":3,"c":-1e-400})");
  ASSERT_TRUE(value.has_value());
  EXPECT_EQ(write(*value), R"({"a":-0.0,"b":3,"c":-0.0})");
}

}  // namespace
}  // namespace varnock::json
