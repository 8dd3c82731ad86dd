// The timestamps the reviewer writes (base/clock.h): fixed instants give
// their exact text.
#include "base/clock.h"

#include <gtest/gtest.h>

namespace varnock {
namespace {

TEST(UtcTimestamp, WritesIso8601InUtc) {
  struct Case {
    std::time_t time;
    const char* text;
  };
  const Case cases[] = {
      {0, "1970-01-01T00:00:00Z"},
      {951825599, "2000-02-29T11:59:59Z"},
      {1796639400, "2026-12-07T10:30:00Z"},
  };
  for (const Case& c : cases) EXPECT_EQ(utc_timestamp(c.time), c.text) << c.time;
}

}  // namespace
}  // namespace varnock
