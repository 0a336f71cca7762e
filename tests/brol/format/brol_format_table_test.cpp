// The conversion table's integer entries, called as a custom caller of the table calls them, give the
// engine's own texts and printf's digits, cut at every count.
#include <gtest/gtest.h>

#include <cinttypes>
#include <cstdio>
#include <string>
#include <vector>

#include "brol_format_check.h"

namespace {

using brol_format_check::convert;
using brol_format_check::defaults;

struct setting {
  const char* name;
  std::int64_t base;
  std::int64_t min_digits;
  std::uint16_t flags;
  char group;
};

const setting k_settings[] = {
    {"plain", 10, 1, 0, 0},     {"plus, 5 digits", 10, 5, brol_flag_plus, 0},
    {"grouped", 10, 1, 0, ','}, {"hex lower", 16, 1, brol_flag_lower, 0},
    {"base 36", 36, 1, 0, 0},
};

// The same settings as items ahead of the conversion, through the engine.
std::string engine_text(const setting& s, brol_item conversion, brol_item size, brol_item value) {
  std::vector<brol_item> list = {brol_fmt_base,   static_cast<brol_item>(s.base),
                                 brol_fmt_digits, static_cast<brol_item>(s.min_digits),
                                 brol_fmt_group,  static_cast<brol_item>(s.group)};
  if ((s.flags & brol_flag_plus) != 0) list.push_back(brol_fmt_plus);
  if ((s.flags & brol_flag_lower) != 0) list.push_back(brol_fmt_lower);
  list.insert(list.end(), {conversion, size, value, brol_fmt_end});
  return brol_format_check::format_swept([&](char* d, std::int64_t n) {
    return brol_vformat(d, n, list[0], brol_fmt_cursor{list.data() + 1, list.data() + list.size()});
  });
}

TEST(BrolFormatTable, IntegerEntriesMatchTheEngine) {
  const std::int64_t values[] = {0, 1, -1, 9, 10, 99, 1000, -12345, INT32_MAX, INT32_MIN, INT64_MAX, INT64_MIN};
  const brol_item sizes[] = {1, 2, 4, 8};
  for (const setting& s : k_settings) {
    brol_format_state st = defaults();
    st.base = s.base;
    st.min_digits = s.min_digits;
    st.flags = s.flags;
    st.group_char = s.group;
    for (const brol_item conversion : {brol_item{brol_fmt_int}, brol_item{brol_fmt_uint}}) {
      for (const brol_item size : sizes) {
        for (const std::int64_t v : values) {
          const auto raw = static_cast<brol_item>(v);
          SCOPED_TRACE(std::string(s.name) + " conversion " + std::to_string(conversion) + " size " +
                       std::to_string(size) + " value " + std::to_string(v));
          const std::string text = convert(brol_fmt_conversions[conversion], st, {size, raw}).text;
          EXPECT_EQ(text, engine_text(s, conversion, size, raw));
        }
      }
    }
  }
}

TEST(BrolFormatTable, IntegerEntriesGivePrintfDigits) {
  const std::int64_t values[] = {0, 7, -7, 4095, -65536, INT64_MAX, INT64_MIN};
  for (const std::int64_t v : values) {
    char expected[32];
    std::snprintf(expected, sizeof expected, "%" PRId64, v);
    EXPECT_EQ(convert(brol_fmt_conversions[brol_fmt_int], defaults(), {8, static_cast<brol_item>(v)}).text, expected);
    std::snprintf(expected, sizeof expected, "%" PRIu64, static_cast<std::uint64_t>(v));
    EXPECT_EQ(convert(brol_fmt_conversions[brol_fmt_uint], defaults(), {8, static_cast<brol_item>(v)}).text, expected);
  }
}

}  // namespace
