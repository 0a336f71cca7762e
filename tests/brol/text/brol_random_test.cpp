// The process-wide generator: distinct values across calls and threads, letters and digits only.
#include "brol/text/brol_random.h"

#include <gtest/gtest.h>

#include <cctype>
#include <set>
#include <thread>
#include <vector>

TEST(Random, ValuesDoNotRepeatAcrossCallsOrThreads) {
  constexpr std::size_t k_threads = 4;
  constexpr int k_each = 20000;
  std::vector<std::vector<std::uint64_t>> drawn(k_threads);
  std::vector<std::thread> threads;
  for (std::size_t t = 0; t < k_threads; ++t) {
    threads.emplace_back([&drawn, t] {
      for (int i = 0; i < k_each; ++i) drawn[t].push_back(brol_random_next());
    });
  }
  for (auto& th : threads) th.join();
  std::set<std::uint64_t> all;
  for (const auto& v : drawn) all.insert(v.begin(), v.end());
  EXPECT_EQ(all.size(), k_threads * k_each);
}

TEST(Random, AlnumWritesExactlyNLettersOrDigitsCoveringAllSixtyTwo) {
  std::vector<char> buffer(64 * 1024 + 2, '#');
  brol_random_alnum(buffer.data() + 1, 64 * 1024);
  EXPECT_EQ(buffer.front(), '#');
  EXPECT_EQ(buffer.back(), '#');
  std::set<char> seen;
  int counts[256] = {};
  for (std::size_t i = 1; i + 1 < buffer.size(); ++i) {
    const auto c = static_cast<unsigned char>(buffer[i]);
    ASSERT_TRUE(std::isalnum(c)) << "byte " << int(c) << " at " << i;
    seen.insert(buffer[i]);
    ++counts[c];
  }
  EXPECT_EQ(seen.size(), 62u);
  // Each of 62 symbols is expected about 1057 times; a skewed mapping would leave some far off.
  for (const char c : seen) {
    EXPECT_GT(counts[static_cast<unsigned char>(c)], 800) << c;
    EXPECT_LT(counts[static_cast<unsigned char>(c)], 1350) << c;
  }
  char untouched[4] = {'x', 'y', 'z', 0};
  brol_random_alnum(untouched, 0);
  brol_random_alnum(untouched, -5);
  brol_random_alnum(nullptr, 8);
  EXPECT_STREQ(untouched, "xyz");
}

TEST(Random, TwoShortDrawsInOneSecondDiffer) {
  char a[9] = {}, b[9] = {};
  brol_random_alnum(a, 8);
  brol_random_alnum(b, 8);
  EXPECT_STRNE(a, b);
}
