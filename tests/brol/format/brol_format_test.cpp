// The formatting engine: item lists and their texts, cutting at every buffer size, the integer
// conversions against the C library's printf, and the limits.
#include "brol/format/brol_format.h"

#include <gtest/gtest.h>

#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <functional>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "brol_format_check.h"

namespace {

using formatter = std::function<std::int64_t(char*, std::int64_t)>;

// Formats into a buffer of every size from 0 to length + 1 (and with a null destination) and checks
// the result, the cut, the terminator and that nothing past size was written.
void expect_text(const std::string& expected, const formatter& run) {
  SCOPED_TRACE("expected \"" + expected + "\"");
  const auto len = static_cast<std::int64_t>(expected.size());
  ASSERT_EQ(run(nullptr, 0), len);
  ASSERT_EQ(run(nullptr, 100), len);
  for (std::int64_t size = 0; size <= len + 1; ++size) {
    std::vector<char> buf(static_cast<std::size_t>(size) + 8, '\x5A');
    ASSERT_EQ(run(buf.data(), size), len) << "size " << size;
    if (size > 0) {
      const auto kept = static_cast<std::size_t>(std::min(len, size - 1));
      ASSERT_EQ(std::string(buf.data(), kept), expected.substr(0, kept)) << "size " << size;
      ASSERT_EQ(buf[kept], '\0') << "size " << size;
    }
    for (std::size_t i = static_cast<std::size_t>(size); i < buf.size(); ++i) {
      ASSERT_EQ(buf[i], '\x5A') << "written past size " << size;
    }
  }
}

// The list planned (brol_format) and unplanned (its items through the item loop).
#define EXPECT_FORMAT(expected, ...)                                                                              \
  do {                                                                                                            \
    expect_text(expected, [&](char* d, std::int64_t n) { return brol_format(d, n, __VA_ARGS__); });               \
    expect_text(expected,                                                                                         \
                [&](char* d, std::int64_t n) { return brol_format_check::format_unplanned(d, n, __VA_ARGS__); }); \
  } while (false)
// A list as a program builds it at run time, which the compile-time check of brol_format refuses.
#define EXPECT_FORMAT_UNCHECKED(expected, ...) \
  expect_text(expected, [&](char* d, std::int64_t n) { return brol_format_check::format_unchecked(d, n, __VA_ARGS__); })

TEST(BrolFormat, LiteralsAndLayout) {
  EXPECT_FORMAT("302", brol_fmt_int, 4, 302, brol_fmt_end);
  EXPECT_FORMAT("    42", brol_fmt_right, 6, brol_fmt_int, 4, 42, brol_fmt_end);
  EXPECT_FORMAT("42    |", brol_fmt_left, 6, brol_fmt_int, 4, 42, "|", brol_fmt_end);
  EXPECT_FORMAT("    abc   ", brol_fmt_center, 10, "abc", brol_fmt_end);
  EXPECT_FORMAT("  abcd   ", brol_fmt_center, 9, "abcd", brol_fmt_end);
  EXPECT_FORMAT("ab...", brol_fmt_maxlen, 5, brol_fmt_ellipsis, "abcdefghij", brol_fmt_end);
  EXPECT_FORMAT("abcde", brol_fmt_maxlen, 5, "abcdefghij", brol_fmt_end);
  EXPECT_FORMAT("..", brol_fmt_maxlen, 2, brol_fmt_ellipsis, "abcdefghij", brol_fmt_end);
  EXPECT_FORMAT("...", brol_fmt_maxlen, 3, brol_fmt_ellipsis, "abcdefghij", brol_fmt_end);
  EXPECT_FORMAT("     ab...", brol_fmt_right, 10, brol_fmt_maxlen, 5, brol_fmt_ellipsis, "abcdefghij", brol_fmt_end);
  EXPECT_FORMAT("abcdef", "abcdef", brol_fmt_end);
  EXPECT_FORMAT("123", brol_fmt_maxlen, 3, brol_fmt_int, 4, 12345, brol_fmt_end);
}

TEST(BrolFormat, SettingsApplyToOneOutputItemUnlessHandedOn) {
  EXPECT_FORMAT("    ab", brol_fmt_right, 5, "a", "b", brol_fmt_end);
  EXPECT_FORMAT("    a    b", brol_fmt_right, 5, "a", brol_fmt_again, "b", brol_fmt_end);
  EXPECT_FORMAT("ab", "a", "b", brol_fmt_right, 5, brol_fmt_end);
  EXPECT_FORMAT_UNCHECKED("", brol_fmt_right, 5, brol_fmt_end, "never read");
  EXPECT_FORMAT("ab", "a", "b", brol_fmt_upper, brol_fmt_end);
  EXPECT_FORMAT("AB C", brol_fmt_trim, brol_fmt_upper, "  ab c  ", brol_fmt_end);
  EXPECT_FORMAT("     |", brol_fmt_right, 5, brol_fmt_trim, " \t\r\n ", "|", brol_fmt_end);
  EXPECT_FORMAT("mIXED 9", brol_fmt_swapcase, "Mixed 9", brol_fmt_end);
  EXPECT_FORMAT("mixed \xFC", brol_fmt_lower, "MiXeD \xFC", brol_fmt_end);
  // Unknown modifiers take no parameter; values that are no items are passed over.
  EXPECT_FORMAT_UNCHECKED("x", 1030, 1031, 2000, "x", brol_fmt_end);
}

TEST(BrolFormat, DecimalAlignmentUsesTheIntegerPart) {
  EXPECT_FORMAT("    12  |", brol_fmt_column, 8, 6, brol_fmt_int, 4, 12, "|", brol_fmt_end);
  EXPECT_FORMAT("    -12 |", brol_fmt_column, 8, 6, brol_fmt_int, 4, -12, "|", brol_fmt_end);
  // A literal has no integer part: the whole column is leading pad.
  EXPECT_FORMAT("      ab|", brol_fmt_column, 8, 6, "ab", "|", brol_fmt_end);
}

TEST(BrolFormat, IntegerSizesSignsAndBases) {
  EXPECT_FORMAT("-1", brol_fmt_int, 1, 255, brol_fmt_end);
  EXPECT_FORMAT("255", brol_fmt_uint, 1, 255, brol_fmt_end);
  EXPECT_FORMAT("1", brol_fmt_uint, 2, 65537, brol_fmt_end);
  EXPECT_FORMAT("-32768", brol_fmt_int, 2, 0x18000, brol_fmt_end);
  EXPECT_FORMAT("4294967295", brol_fmt_uint, 4, -1, brol_fmt_end);
  // Unknown size code: only the code is consumed, the value is 0, the next item is read after it.
  EXPECT_FORMAT_UNCHECKED("0|", brol_fmt_int, 3, "|", brol_fmt_end);
  EXPECT_FORMAT("BEEF", brol_fmt_base, 16, brol_fmt_uint, 4, 48879, brol_fmt_end);
  EXPECT_FORMAT("beef", brol_fmt_base, 16, brol_fmt_lower, brol_fmt_uint, 4, 48879, brol_fmt_end);
  EXPECT_FORMAT("zz", brol_fmt_base, 36, brol_fmt_swapcase, brol_fmt_uint, 4, 36 * 36 - 1, brol_fmt_end);
  EXPECT_FORMAT("-101", brol_fmt_base, 2, brol_fmt_int, 4, -5, brol_fmt_end);
  EXPECT_FORMAT("+0", brol_fmt_plus, brol_fmt_int, 4, 0, brol_fmt_end);
  EXPECT_FORMAT("+7", brol_fmt_plus, brol_fmt_uint, 4, 7, brol_fmt_end);
  EXPECT_FORMAT("-007", brol_fmt_digits, 3, brol_fmt_int, 4, -7, brol_fmt_end);
  EXPECT_FORMAT("0", brol_fmt_digits, 0, brol_fmt_int, 4, 0, brol_fmt_end);
  EXPECT_FORMAT("-9223372036854775808", brol_fmt_int, 8, std::numeric_limits<std::int64_t>::min(), brol_fmt_end);
  EXPECT_FORMAT("18446744073709551615", brol_fmt_uint, 8, std::numeric_limits<std::uint64_t>::max(), brol_fmt_end);
  EXPECT_FORMAT("1111111111111111111111111111111111111111111111111111111111111111", brol_fmt_base, 2, brol_fmt_uint, 8,
                std::numeric_limits<std::uint64_t>::max(), brol_fmt_end);
}

TEST(BrolFormat, Grouping) {
  EXPECT_FORMAT("1,234,567", brol_fmt_group, ',', brol_fmt_int, 4, 1234567, brol_fmt_end);
  EXPECT_FORMAT("123,456", brol_fmt_group, ',', brol_fmt_int, 4, 123456, brol_fmt_end);
  EXPECT_FORMAT("00,042", brol_fmt_group, ',', brol_fmt_digits, 5, brol_fmt_int, 4, 42, brol_fmt_end);
  EXPECT_FORMAT("-1.000", brol_fmt_group_point, '.' << 8 | ',', brol_fmt_int, 4, -1000, brol_fmt_end);
  EXPECT_FORMAT("F FFF", brol_fmt_base, 16, brol_fmt_group, ' ', brol_fmt_uint, 4, 65535, brol_fmt_end);
  EXPECT_FORMAT("18'446'744'073'709'551'615", brol_fmt_group, '\'', brol_fmt_uint, 8,
                std::numeric_limits<std::uint64_t>::max(), brol_fmt_end);
}

// The integer part in every base, with and without grouping and leading zeros, against digits made
// by plain division and separators inserted from the right; every buffer size cuts it.
TEST(BrolFormat, IntegerPartsInEveryBaseAgreeWithPlainDivision) {
  std::mt19937_64 rng(16);
  for (int round = 0; round < 600; ++round) {
    const unsigned base = round % 3 == 0 ? 2 + static_cast<unsigned>(rng() % 35) : (round % 3 == 1 ? 16U : 10U);
    const std::uint64_t v = rng() >> (rng() % 64);
    const std::int64_t digits = static_cast<std::int64_t>(rng() % 30) + (round % 50 == 0 ? 100 : 0);
    const char group = (rng() & 1) ? ',' : 0;
    const bool lower = rng() & 1;
    std::string text;
    std::uint64_t rest = v;
    do {
      const auto d = static_cast<unsigned>(rest % base);
      text.insert(text.begin(), static_cast<char>(d < 10 ? '0' + d : (lower ? 'a' : 'A') + d - 10));
      rest /= base;
    } while (rest != 0);
    if (static_cast<std::int64_t>(text.size()) < digits) {
      text.insert(0, static_cast<std::size_t>(digits) - text.size(), '0');
    }
    for (auto at = static_cast<std::ptrdiff_t>(text.size()) - 3; group != 0 && at > 0; at -= 3) {
      text.insert(static_cast<std::size_t>(at), 1, group);
    }
    SCOPED_TRACE("base " + std::to_string(base));
    EXPECT_FORMAT(text, brol_fmt_base, base, brol_fmt_digits, digits, brol_fmt_group, group,
                  brol_fmt_flags(lower ? brol_flag_lower : 0), brol_fmt_uint, 8, v, brol_fmt_end);
  }
}

// Pads are blended into the destination 16 bytes at a time: the bytes after the terminator must
// still be the caller's, whatever the alignment, width and buffer size.
TEST(BrolFormat, BytesAfterTheTerminatorStayTheCallers) {
  std::mt19937_64 rng(17);
  for (int round = 0; round < 2000; ++round) {
    const auto size = static_cast<std::int64_t>(rng() % 64);
    std::vector<char> buf(80, '\x5A');
    const auto align = rng() % 3;
    const auto width = static_cast<std::int64_t>(rng() % 24);
    const auto value = static_cast<std::int32_t>(rng() >> (rng() % 64));
    const auto run = [&](auto code) {
      return brol_format(buf.data(), size, code, width, brol_fmt_int, 4, value, code, width / 2, "ab", brol_fmt_end);
    };
    const std::int64_t length = align == 0   ? run(brol_fmt_left)
                                : align == 1 ? run(brol_fmt_center)
                                             : run(brol_fmt_right);
    const std::size_t end = size > 0 ? static_cast<std::size_t>(std::min(length, size - 1)) : 0;
    if (size > 0) {
      ASSERT_EQ(buf[end], '\0') << "round " << round;
    }
    for (std::size_t i = size > 0 ? end + 1 : 0; i < buf.size(); ++i) {
      ASSERT_EQ(buf[i], '\x5A') << "round " << round << " byte " << i << " size " << size;
    }
  }
}

TEST(BrolFormat, PowersOfTenAndTheirNeighbours) {
  std::uint64_t p = 1;
  for (int e = 0; e < 20; ++e, p *= 10) {
    for (std::uint64_t v : {p - 1, p, p + 1}) {
      const std::string expected = std::to_string(v);
      EXPECT_FORMAT(expected, brol_fmt_uint, 8, v, brol_fmt_end);
      const auto s = static_cast<std::int64_t>(v);
      if (s > 0) EXPECT_FORMAT("-" + expected, brol_fmt_int, 8, -s, brol_fmt_end);
    }
    if (e == 19) break;
  }
}

TEST(BrolFormat, EmptyListAndMissingItemsReadAsEnd) {
  char buf[8] = "xxxxxxx";
  EXPECT_EQ(brol_format(buf, 8, brol_fmt_end), 0);
  EXPECT_STREQ(buf, "");
  // A conversion whose value items are missing reads 0 and stops: nothing foreign is read.
  // (A list built at run time: brol_format refuses both at compile time.)
  EXPECT_EQ(brol_format_check::format_unchecked(buf, 8, brol_fmt_int, 4), 1);
  EXPECT_STREQ(buf, "0");
  EXPECT_EQ(brol_format_check::format_unchecked(buf, 8, brol_fmt_right), 0);
  // Values that are no items (between the conversions and brol_fmt_again, between the flags and the
  // literals) are passed over: none is taken for a conversion of the table, which has eight.
  EXPECT_EQ(brol_format_check::format_unchecked(buf, 8, "a", brol_item{9}, brol_item{1023}, brol_item{3072}, "b"), 2);
  EXPECT_STREQ(buf, "ab");
}

// A list given as arguments is checked at compile time and becomes the items a program would build;
// only a null literal differs (as an item it would be 0 and end the list, as an argument it is the
// empty text and the list goes on), and a size code that does not fit the type of its value.
TEST(BrolFormat, ArgumentsBecomeTheirItemsAndANullLiteralIsEmpty) {
  const char* none = nullptr;
  EXPECT_FORMAT("ab", "a", none, "b", brol_fmt_end);
  EXPECT_FORMAT_UNCHECKED("a", "a", none, "b", brol_fmt_end);
  EXPECT_FORMAT("   |", brol_fmt_right, 3, none, "|");
  EXPECT_FORMAT("+beef", brol_fmt_flags(brol_flag_plus | brol_flag_lower), brol_fmt_base, 16, brol_fmt_int, 4, 48879);
  EXPECT_FORMAT("+beef", brol_fmt_plus, brol_fmt_lower, brol_fmt_base, 16, brol_fmt_int, 4, 48879);
  EXPECT_FORMAT("7", brol_fmt_flags(0x400 | brol_flag_upper), brol_fmt_int, 4, 7);  // bits above ten are dropped
  // A size code chosen at run time that does not fit its value is fitted to the value's type: a double
  // is formatted as the double it is, an integer as its 64-bit value, a pair by its element size; no
  // value is read as an address unless given as one.
  const std::int64_t three = 3;
  const std::int64_t sixteen = 16;
  const long double extended = -1234.5;
  const std::int32_t pair32[2] = {-7, 2};
  EXPECT_FORMAT("1.5|", brol_fmt_float, sixteen, 1.5, "|");
  EXPECT_FORMAT("1.5|", brol_fmt_float, three, 1.5, "|");
  EXPECT_FORMAT("-1234.5", brol_fmt_float, three + 5, &extended);
  EXPECT_FORMAT("-5|", brol_fmt_int, sixteen, -5, "|");
  EXPECT_FORMAT("4294967296|", brol_fmt_uint, three, std::int64_t{1} << 32, "|");
  EXPECT_FORMAT("1.5|", brol_fmt_fixed, three, std::int64_t{3} << 31, "|");
  EXPECT_FORMAT("-3.5", brol_fmt_ratio, sixteen, pair32);
  const brol_item items[] = {brol_fmt_right, 4, brol_fmt_uint, 2, 65537, brol_fmt_end};
  EXPECT_EQ(items[0], 1027U);
  char buf[8];
  EXPECT_EQ(brol_vformat(buf, sizeof buf, items[0], brol_fmt_cursor{items + 1, items + 6}), 4);
  EXPECT_STREQ(buf, "   1");
}

TEST(BrolFormat, NegativeSettingsCountAsZeroAndBadBasesAsTen) {
  EXPECT_FORMAT("ab", brol_fmt_right, -5, "ab", brol_fmt_end);
  EXPECT_FORMAT("ab", brol_fmt_center, -5, "ab", brol_fmt_end);
  EXPECT_FORMAT("ab", brol_fmt_column, -8, -3, "ab", brol_fmt_end);
  EXPECT_FORMAT("abcd", brol_fmt_maxlen, -2, "abcd", brol_fmt_end);
  EXPECT_FORMAT("42", brol_fmt_digits, -3, brol_fmt_int, 4, 42, brol_fmt_end);
  EXPECT_FORMAT("255", brol_fmt_base, 1, brol_fmt_uint, 4, 255, brol_fmt_end);
  EXPECT_FORMAT("255", brol_fmt_base, 37, brol_fmt_uint, 4, 255, brol_fmt_end);
  EXPECT_FORMAT("255", brol_fmt_base, -16, brol_fmt_uint, 4, 255, brol_fmt_end);
}

TEST(BrolFormat, HugeSettingsSaturateAndNeverWritePastTheBuffer) {
  const std::int64_t huge = std::numeric_limits<std::int64_t>::max();
  char buf[16];
  std::memset(buf, 'x', sizeof buf);
  EXPECT_EQ(brol_format(buf, 8, brol_fmt_right, huge, "a", brol_fmt_right, huge, "b", brol_fmt_end), huge);
  EXPECT_STREQ(buf, "       ");
  EXPECT_EQ(buf[8], 'x');
  EXPECT_EQ(brol_format(buf, 8, brol_fmt_digits, huge, brol_fmt_group, ',', brol_fmt_int, 4, 5, brol_fmt_end), huge);
  EXPECT_STREQ(buf, "000,000");
  EXPECT_EQ(brol_format(buf, 8, brol_fmt_digits, huge, brol_fmt_plus, brol_fmt_int, 4, 5, brol_fmt_end), huge);
  EXPECT_STREQ(buf, "+000000");
}

TEST(BrolFormat, CursorIsReadFromItsStartEachTime) {
  const brol_item list[] = {4, 302, brol_fmt_end};
  const brol_fmt_cursor cursor{list, list + 3};
  char a[8];
  char b[8];
  EXPECT_EQ(brol_vformat(a, 8, brol_fmt_int, cursor), 3);
  EXPECT_EQ(brol_vformat(b, 8, brol_fmt_int, cursor), 3);
  EXPECT_STREQ(a, "302");
  EXPECT_STREQ(b, "302");
}

// The integer conversions against snprintf: %d, %u, %x with width, precision, '-' and '+'.
TEST(BrolFormat, IntegersAgreeWithPrintf) {
  std::mt19937_64 rng(20261207);
  char ours[96];
  char theirs[96];
  for (int i = 0; i < 20000; ++i) {
    const int bits = 1 + static_cast<int>(rng() % 64);
    const std::uint64_t raw = rng() >> (64 - bits);
    const auto value = static_cast<std::int64_t>(raw) * ((rng() & 1) ? -1 : 1);
    const auto width = static_cast<int>(rng() % 28);
    const auto precision = 1 + static_cast<int>(rng() % 24);
    const bool plus = rng() & 1;
    const bool left = rng() & 1;
    const auto size = static_cast<std::int64_t>(rng() % 40);
    const auto flags = brol_fmt_flags(plus ? brol_flag_plus : 0);  // no bits: harmless before settings

    std::snprintf(theirs, sizeof theirs,
                  left ? (plus ? "%-+*.*" PRId64 : "%-*.*" PRId64) : (plus ? "%+*.*" PRId64 : "%*.*" PRId64), width,
                  precision, value);
    const auto aligned = [&](auto align) {
      return brol_format(ours, size, flags, align, width, brol_fmt_digits, precision, brol_fmt_int, 8, value,
                         brol_fmt_end);
    };
    std::int64_t r = left ? aligned(brol_fmt_left) : aligned(brol_fmt_right);
    ASSERT_EQ(r, static_cast<std::int64_t>(std::strlen(theirs))) << theirs;
    if (size > 0) {
      ASSERT_EQ(std::string(ours), std::string(theirs).substr(0, static_cast<std::size_t>(size - 1)));
    }

    const auto u32 = static_cast<std::uint32_t>(raw);
    std::snprintf(theirs, sizeof theirs, "%*.*u|%x", width, precision, u32, u32);
    r = brol_format(ours, sizeof ours, brol_fmt_right, width, brol_fmt_digits, precision, brol_fmt_uint, 4, u32, "|",
                    brol_fmt_base, 16, brol_fmt_lower, brol_fmt_uint, 4, u32, brol_fmt_end);
    ASSERT_EQ(std::string(ours), theirs);
    ASSERT_EQ(r, static_cast<std::int64_t>(std::strlen(theirs)));

    const auto i32 = static_cast<std::int32_t>(raw);
    std::snprintf(theirs, sizeof theirs, "%d", i32);
    ASSERT_EQ(brol_format(ours, sizeof ours, brol_fmt_int, 4, i32, brol_fmt_end),
              static_cast<std::int64_t>(std::strlen(theirs)));
    ASSERT_STREQ(ours, theirs);
  }
}

}  // namespace

namespace {

// Random well-formed item lists of every kind: each formats to the same text at every buffer size
// (a cut prefix of the whole text, terminated, the full length returned) and never writes past the
// buffer, whatever the settings.
TEST(BrolFormat, RandomListsCutConsistently) {
  std::mt19937_64 rng(7);
  static const char* const texts[] = {"", "a", "  padded \t", "Mixed Case 123", "\xFC\xE4\xF6"};
  static const std::int32_t pair32[2] = {-7, 3};
  static const std::int64_t pair64[2] = {std::numeric_limits<std::int64_t>::min(), -1};
  static const long double extended = -1234.5678L;
  const auto pick = [&](std::initializer_list<std::int64_t> values) {
    return static_cast<brol_item>(*(values.begin() + rng() % values.size()));
  };
  for (int round = 0; round < 3000; ++round) {
    std::vector<brol_item> items;
    const int count = 1 + static_cast<int>(rng() % 6);
    for (int i = 0; i < count; ++i) {
      switch (rng() % 12) {
        case 0:
          items.push_back(reinterpret_cast<std::uintptr_t>(texts[rng() % 5]));
          break;
        case 1: {  // an unknown size code (3) takes no value item
          const brol_item size = pick({1, 2, 3, 4, 8});
          items.insert(items.end(), {brol_fmt_int, size});
          if (size != 3) items.push_back(rng());
          break;
        }
        case 2:
          items.insert(items.end(), {brol_fmt_uint, pick({1, 2, 4, 8}), rng()});
          break;
        case 3:
          items.insert(items.end(),
                       {brol_fmt_strn, reinterpret_cast<std::uintptr_t>(texts[rng() % 5]), pick({-1, 0, 3, 100})});
          break;
        case 4:
          items.insert(items.end(), {brol_fmt_char, rng() & 0xFF});
          break;
        case 5:
          items.insert(items.end(),
                       {brol_fmt_float, 8,
                        std::bit_cast<brol_item>(
                            static_cast<double>(static_cast<std::int64_t>(rng() % 2000001) - 1000000) / 7.0)});
          break;
        case 6:
          items.insert(items.end(), {brol_fmt_float, 16, reinterpret_cast<std::uintptr_t>(&extended)});
          break;
        case 7:
          items.insert(items.end(), {brol_fmt_fixed, pick({4, 8}), rng() >> (rng() % 64)});
          break;
        case 8: {
          const bool wide = rng() & 1;  // size code 16 reads two 64-bit numbers, 8 two 32-bit ones
          items.insert(items.end(),
                       {brol_fmt_ratio, wide ? 16U : 8U,
                        wide ? reinterpret_cast<std::uintptr_t>(pair64) : reinterpret_cast<std::uintptr_t>(pair32)});
          break;
        }
        case 9:
          items.insert(items.end(), {pick({brol_fmt_left, brol_fmt_center, brol_fmt_right}), pick({-3, 0, 5, 17})});
          break;
        case 10:
          items.insert(items.end(), {pick({brol_fmt_maxlen, brol_fmt_digits, brol_fmt_base, brol_fmt_group}),
                                     pick({-2, 0, 2, 3, 16, 36, 40})});
          break;
        default:
          items.push_back(pick({brol_fmt_again, brol_fmt_trim, brol_fmt_upper, brol_fmt_lower, brol_fmt_swapcase,
                                brol_fmt_ellipsis, brol_fmt_plus}));
          break;
      }
    }
    items.push_back(brol_fmt_end);
    const brol_fmt_cursor cursor{items.data() + 1, items.data() + items.size()};
    const std::int64_t length = brol_vformat(nullptr, 0, items[0], cursor);
    ASSERT_GE(length, 0);
    ASSERT_LT(length, 4096);
    std::vector<char> whole(static_cast<std::size_t>(length) + 1);
    ASSERT_EQ(brol_vformat(whole.data(), length + 1, items[0], cursor), length);
    ASSERT_LE(std::strlen(whole.data()), static_cast<std::size_t>(length));
    for (std::int64_t size = 0; size <= length + 1; ++size) {
      std::vector<char> buf(static_cast<std::size_t>(size) + 4, '\x5A');
      ASSERT_EQ(brol_vformat(buf.data(), size, items[0], cursor), length) << "round " << round;
      if (size > 0) {
        const auto kept = static_cast<std::size_t>(std::min(length, size - 1));
        ASSERT_EQ(std::memcmp(buf.data(), whole.data(), kept), 0) << "round " << round << " size " << size;
        ASSERT_EQ(buf[kept], '\0');
      }
      for (std::size_t i = static_cast<std::size_t>(size); i < buf.size(); ++i) ASSERT_EQ(buf[i], '\x5A');
    }
  }
}

}  // namespace
