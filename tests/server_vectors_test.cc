// The request and response lines of tests/vectors/server.tsv, through the
// built program: every line of a kind in one run, answers compared in order.

#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>
#include <string>
#include <vector>

#include "support/process.h"
#include "support/temp_dir.h"
#include "support/vectors.h"

namespace varnock::test {
namespace {

// Sends the lines of the given kinds to one server without a broker and
// compares its answers, line i with EXPECTED i.
void expect_vector_answers(const std::vector<std::string>& kinds) {
  std::string input;
  std::vector<VectorRecord> sent;
  for (VectorRecord& record : read_vectors("server.tsv")) {
    if (std::find(kinds.begin(), kinds.end(), record.columns.at(0)) == kinds.end()) continue;
    input += from_hex(record.columns.at(1));
    sent.push_back(std::move(record));
  }
  ASSERT_FALSE(sent.empty());
  const std::string out = serve_without_broker(input);
  std::istringstream answers(out);
  std::string answer;
  for (const VectorRecord& record : sent) {
    ASSERT_TRUE(std::getline(answers, answer)) << "no answer from server.tsv line " << record.line;
    EXPECT_EQ(answer, record.columns.at(2)) << "server.tsv line " << record.line;
  }
  EXPECT_FALSE(std::getline(answers, answer)) << "extra line: " << answer;
  EXPECT_EQ(out.empty() ? '\n' : out.back(), '\n');
}

TEST(ServerVectors, ParseAndValueLines) { expect_vector_answers({"parse", "value"}); }

TEST(ServerVectors, DecodeLines) { expect_vector_answers({"decode"}); }

}  // namespace
}  // namespace varnock::test
