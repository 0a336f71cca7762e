// Section lookups by name: a missing section answers as documented and is never created by a read,
// and a null name is the section "[]".
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "../stream/stream_test_fakes.h"
#include "brol/config/brol_config.h"
#include "config_test_util.h"

namespace {

using config_test::config;

template <class T>
using list = brol_scoped<brol_list<T>>;

std::vector<std::string> keys_of(config& c, const char* section) {
  list<brol_string> out;
  c.keys(section, out);
  std::vector<std::string> v;
  for (auto* n = out.first; n != nullptr; n = n->next) v.push_back(n->value.c_str());
  return v;
}

std::vector<std::string> lines_of(config& c, const char* section) {
  list<brol_string*> out;
  c.content_lines(section, out);
  std::vector<std::string> v;
  for (auto* n = out.first; n != nullptr; n = n->next) v.push_back(n->value->c_str());
  return v;
}

TEST(BrolConfigSections, LookupsByNameMissingOrNull) {
  brol_test::temp_dir dir;
  const std::string text = "g = 1\n[]\nempty = 2\n[a]\nk = v\n; note\n";
  stream_test::write_file(dir.file("in.ini"), text);
  config c;
  ASSERT_TRUE(c.load(dir.file("in.ini").c_str()));
  struct row {
    const char* section;
    std::vector<std::string> keys;  // the text before '=', not trimmed
    std::vector<std::string> lines;
    const char* value;  // of key "k", or of "empty" for the section ""
  };
  const row rows[] = {
      {"a", {"k ", "; note"}, {"k = v", "; note"}, "v"},
      {"", {"empty "}, {"empty = 2"}, "2"},
      {nullptr, {"empty "}, {"empty = 2"}, "2"},
      {"missing", {}, {}, ""},
      {"A", {}, {}, ""},  // names are compared case-sensitively
  };
  for (const row& r : rows) {
    SCOPED_TRACE(r.section != nullptr ? r.section : "null");
    EXPECT_EQ(keys_of(c, r.section), r.keys);
    EXPECT_EQ(lines_of(c, r.section), r.lines);
    const char* key = r.section != nullptr && *r.section == 'a' ? "k" : "empty";
    EXPECT_STREQ(c.get(r.section, key, '='), r.value);
    if (r.keys.empty()) {
      // Removing from a missing section changes nothing and succeeds; no section appears.
      EXPECT_TRUE(c.remove(r.section, "k", '=', true));
    }
  }
  EXPECT_EQ(c.text(), text);
}

}  // namespace
