// Checks shared by the conversion tests: a conversion run as the engine runs it, under every cut, and
// an item list through the engine at every buffer size.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "brol/format/brol_format.h"
#include "brol/format/brol_format_conv.h"

namespace brol_format_check {

// The settings record as the engine resets it.
inline brol_format_state defaults() {
  brol_format_state st{};
  st.min_digits = 1;
  st.min_frac = 1;
  st.max_frac = 4;
  st.base = 10;
  st.point_char = '.';
  return st;
}

// The text and results of one conversion.
struct converted {
  std::string text;
  brol_format_state state;  // after the measure call
};

// Runs conversion `conv` on `items` as the engine does: a measure call, then a write call for every
// count from 1 to the length (a spread of them for a long text), each on a fresh cursor and with the measured state.
// Checks that every call consumes the same items, that each write stores exactly its count of characters and nothing
// past them, and that each is the start of the whole text.
// With every_cut false only the whole text is written.
inline converted convert(brol_fmt_conversion conv, brol_format_state st, const std::vector<brol_item>& items,
                         bool every_cut = true) {
  const brol_item* begin = items.data();
  const brol_item* end = begin + items.size();
  brol_fmt_cursor measured{begin, end};
  st.int_length = st.frac_digits = st.text_length = 0;
  conv(&st, &measured, nullptr, 0);
  const std::int64_t n = st.text_length;
  EXPECT_GE(n, 0);
  EXPECT_LT(n, 1 << 20) << "a test text is short";
  // Every count of a short text; for a long one the counts near both ends and a spread between.
  std::vector<std::int64_t> counts;
  for (std::int64_t count = n; count >= 1; --count) {
    if (count == n || (every_cut && (n <= 80 || count <= 24 || count > n - 24 || count % (n / 32) == 0)))
      counts.push_back(count);
  }
  std::string whole;
  for (const std::int64_t count : counts) {
    brol_format_state copy = st;
    brol_fmt_cursor cursor{begin, end};
    std::string buffer(static_cast<std::size_t>(n) + 8, '\x5A');
    conv(&copy, &cursor, buffer.data(), count);
    EXPECT_EQ(cursor.next, measured.next) << "write consumed other items, count " << count;
    const auto stored = static_cast<std::size_t>(count);
    EXPECT_EQ(buffer.find_first_not_of('\x5A', stored), std::string::npos) << "written past count " << count;
    if (count == n) {
      whole = buffer.substr(0, stored);
    } else {
      EXPECT_EQ(buffer.substr(0, stored), whole.substr(0, stored)) << "count " << count;
    }
  }
  return {whole, st};
}

// Formats with a null destination and into a buffer of every size from 0 to length + 1; checks the
// result, the cut text, its terminator and that nothing past the size was written. Returns the text.
inline std::string format_swept(const std::function<std::int64_t(char*, std::int64_t)>& run) {
  const std::int64_t len = run(nullptr, 0);
  std::string whole;
  for (std::int64_t size = len + 1; size >= 0; --size) {
    std::string buffer(static_cast<std::size_t>(size) + 8, '\x5A');
    EXPECT_EQ(run(buffer.data(), size), len) << "size " << size;
    const auto kept = static_cast<std::size_t>(std::max<std::int64_t>(0, std::min(len, size - 1)));
    if (size == len + 1) whole = buffer.substr(0, kept);
    if (size > 0) {
      EXPECT_EQ(buffer.substr(0, kept), whole.substr(0, kept)) << "size " << size;
      EXPECT_EQ(buffer[kept], '\0') << "size " << size;
    }
    EXPECT_EQ(buffer.find_first_not_of('\x5A', static_cast<std::size_t>(size)), std::string::npos)
        << "written past size " << size;
  }
  return whole;
}

// The engine over a list as a program builds it at run time: each argument turned into its item
// unchecked (a number, an address or a code, whatever its place), closed by 0.
template <class... Args>
std::int64_t format_unchecked(char* destination, std::int64_t size, Args... args) {
  const brol_item list[] = {brol::detail::to_item(args)..., brol_item{0}};
  return brol_vformat(destination, size, list[0], brol_fmt_cursor{list + 1, list + sizeof...(Args) + 1});
}

// The engine over a list given as arguments without the plan of brol_format: the checked list's
// items through brol_vformat's item loop.
template <class... Args>
std::int64_t format_unplanned(char* destination, std::int64_t size, Args... args) {
  const auto rest = brol::detail::rest_items(args...);
  return brol_vformat(destination, size, brol::detail::first_item(args...),
                      brol_fmt_cursor{rest.items, rest.items + sizeof...(Args)});
}

// The text of a list formatted planned and unplanned, which must agree.
inline std::string same_text(const std::string& planned, const std::string& unplanned) {
  EXPECT_EQ(planned, unplanned) << "planned and unplanned differ";
  return planned;
}

}  // namespace brol_format_check

// The text of an item list, checked at every buffer size, planned and unplanned.
#define BROL_FORMATTED(...)                                                                                  \
  brol_format_check::same_text(                                                                              \
      brol_format_check::format_swept([&](char* d, std::int64_t n) { return brol_format(d, n, __VA_ARGS__); }), \
      brol_format_check::format_swept(                                                                       \
          [&](char* d, std::int64_t n) { return brol_format_check::format_unplanned(d, n, __VA_ARGS__); }))
// The same for a list built at run time, which the compile-time check of brol_format would refuse.
#define BROL_FORMATTED_UNCHECKED(...)                                          \
  brol_format_check::format_swept([&](char* d, std::int64_t n) {               \
    return brol_format_check::format_unchecked(d, n, __VA_ARGS__);             \
  })
