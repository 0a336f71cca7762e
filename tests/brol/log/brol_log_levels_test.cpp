// The named levels and targets: each name gives the label its number has in a real log file, and the
// thresholds set by name let through exactly the levels their numbers do.
#include <gtest/gtest.h>

#include <string>

#include "brol/log/brol_log.h"
#include "brol_test_support.h"

namespace {

// Logs one message at level into a fresh file and returns the file's text.
std::string logged_line(std::uint8_t level, const std::string& path) {
  brol_test::write_file(path, "");
  brol_log(level, "caller", "source", 7, 0, "message");
  return brol_test::read_file(path);
}

TEST(BrolLogLevels, NamesWriteTheLabelsOfTheirNumbers) {
  brol_test::temp_dir dir;
  const std::string path = dir.file("levels.log");
  brol_log_file = path.c_str();
  brol_log_level(brol_log_detail, brol_log_to_both);
  const struct {
    std::uint8_t level;
    std::uint8_t number;
    const char* label;
  } cases[] = {
      {brol_log_debug, 0, " DEBUG: [source caller() line 7] message\n"},
      {brol_log_fatal, 1, " FATAL: [source caller() line 7] message\n"},
      {brol_log_warn, 4, " WARN: message\n"},
      {brol_log_info, 5, ") : message\n"},
      {brol_log_detail, 6, ") : message\n"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.level, c.number);
    const std::string line = logged_line(c.level, path);
    ASSERT_GE(line.size(), std::string(c.label).size()) << int{c.number};
    EXPECT_EQ(line.substr(line.size() - std::string(c.label).size()), c.label) << int{c.number};
  }
  brol_log_file = nullptr;
  brol_log_level(brol_log_info, brol_log_to_both);
}

TEST(BrolLogLevels, ThresholdsByName) {
  brol_log_level(brol_log_fatal, brol_log_to_file);  // 1 is raised to 3, as the number is
  EXPECT_EQ(brol_log_file_level, 3);
  EXPECT_EQ(brol_log_hook_level, brol_log_info);
  brol_log_level(brol_log_warn, brol_log_to_hook);
  EXPECT_EQ(brol_log_hook_level, brol_log_warn);
  EXPECT_EQ(brol_log_file_level, 3);
  brol_log_level(brol_log_detail, brol_log_to_both);
  EXPECT_EQ(brol_log_file_level, brol_log_detail);
  EXPECT_EQ(brol_log_hook_level, brol_log_detail);

  brol_test::temp_dir dir;
  const std::string path = dir.file("threshold.log");
  brol_log_file = path.c_str();
  brol_log_level(brol_log_warn, brol_log_to_file);
  EXPECT_NE(logged_line(brol_log_warn, path), "");
  EXPECT_EQ(logged_line(brol_log_info, path), "");
  brol_log_file = nullptr;
  brol_log_level(brol_log_info, brol_log_to_both);
}

}  // namespace
