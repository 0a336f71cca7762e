// The message text of a log entry against the C library's own snprintf, including a text it cannot
// format: the hook then sees an empty message, never the bytes a failed conversion left behind.
#include <gtest/gtest.h>

#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

#include "brol/log/brol_log.h"

namespace {

std::vector<std::string> messages;

std::int64_t keep(const brol_log_entry* e) {
  messages.emplace_back(e->message);
  return 1;
}

// A wide text that the C locale cannot convert on runtimes that check it: snprintf then gives -1.
const wchar_t k_unconvertible[] = {'a', 'b', 0xFF, 0x2603, 0};

TEST(BrolLogMessage, TextsAsTheCLibraryFormatsThem) {
  messages.clear();
  brol_log_hook = keep;
  brol_log(4, "f", "s", 1, 0, "%d-%s", 42, "x");
  brol_log(4, "f", "s", 1, 0, "%*d", 3000, 7);  // cut at 2047 characters
  brol_log(4, "f", "s", 1, 0, "[%ls]", k_unconvertible);
  brol_log_hook = nullptr;
  ASSERT_EQ(messages.size(), 3u);
  EXPECT_EQ(messages[0], "42-x");
  EXPECT_EQ(messages[1], std::string(2047, ' '));  // the first 2047 of 2999 blanks and a 7
  char expected[64];
  const int n = std::snprintf(expected, sizeof expected, "[%ls]", k_unconvertible);
  EXPECT_EQ(messages[2], n < 0 ? std::string() : std::string(expected));
}

}  // namespace
