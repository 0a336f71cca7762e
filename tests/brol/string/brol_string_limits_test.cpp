// Counts at the 64-bit limit are refused before any arithmetic can overflow: the text stays as it
// was and the documented failure is reported.
#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>

#include "brol/string/brol_string.h"

namespace {

constexpr std::int64_t k_max = std::numeric_limits<std::int64_t>::max();

TEST(BrolStringLimits, RandomTextOfImpossibleLengths) {
  const struct {
    std::int64_t n;
    bool error;  // the error flag afterwards (a negative count is refused without it)
  } rows[] = {{-1, false},       {std::numeric_limits<std::int64_t>::min(), false},
              {k_max, true},     {k_max - 2, true},
              {k_max - 4, true}, {k_max - 5, true}};
  for (const auto& r : rows) {
    brol_string s;
    s.init();
    ASSERT_TRUE(s.assign("abc").error == 0);
    EXPECT_FALSE(s.append_random(r.n)) << r.n;
    EXPECT_EQ(s.error != 0, r.error) << r.n;
    EXPECT_STREQ(s.c_str(), "abc") << r.n;
    s.error = 0;
    EXPECT_TRUE(s.append_random(3));
    EXPECT_EQ(s.length(), 6);
    s.destroy();
  }
}

}  // namespace
