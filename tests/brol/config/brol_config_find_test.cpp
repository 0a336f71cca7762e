// find tells a missing key from an empty value: every row is read from a real file, and get must
// answer the same text, or "" where find answers null.
#include <gtest/gtest.h>

#include <string>

#include "brol/config/brol_config.h"
#include "brol_test_support.h"
#include "config_test_util.h"

namespace {

using config_test::config;

constexpr const char* k_file =
    "top=1\n"
    "bare\n"
    "[s]\n"
    "empty=\n"
    "blank =   \n"
    "quoted=\"\"\n"
    "open=\"\n"
    "value = 5500\n"
    "text=\"a b\" x\n"
    "#hidden=1\n"
    "flag\n"
    "[]\n"
    "nameless=2\n";

TEST(BrolConfigFind, MissingKeysAreNullAndEmptyValuesAreEmpty) {
  brol_test::temp_dir dir;
  const std::string path = dir.file("find.ini");
  brol_test::write_file(path, k_file);
  config c;
  ASSERT_TRUE(c.load(path.c_str()));
  const struct {
    const char* section;
    const char* key;
    const char* expected;  // null: missing
  } rows[] = {
      {"s", "empty", ""},       {"s", "blank", ""},        {"s", "quoted", ""},   {"s", "open", ""},
      {"s", "value", "5500"},   {"s", "text", "a b"},      {"s", "missing", nullptr},
      {"s", "hidden", nullptr}, {"s", "#hidden", "1"},     {"s", "flag", nullptr}, {"s", "", nullptr},
      {"nosuch", "empty", nullptr},                        {"", "nameless", "2"},  {nullptr, "nameless", "2"},
      {"s", "top", nullptr},  // global's lines are not a named section's
  };
  for (const auto& r : rows) {
    const std::string where = std::string(r.section ? r.section : "(null)") + "/" + r.key;
    const char* found = c.find(r.section, r.key, '=');
    if (r.expected == nullptr) {
      EXPECT_EQ(found, nullptr) << where;
    } else {
      ASSERT_NE(found, nullptr) << where;
      EXPECT_STREQ(found, r.expected) << where;
    }
    EXPECT_STREQ(c.get(r.section, r.key, '='), r.expected ? r.expected : "") << where;
  }
  ASSERT_NE(c.global.find("top", '='), nullptr);
  EXPECT_STREQ(c.global.find("top", '='), "1");
  EXPECT_EQ(c.global.find("bare", '='), nullptr);
  EXPECT_EQ(c.global.find("top", ':'), nullptr);
}

}  // namespace
