// The string, character, fixed-point and quotient conversions: their texts, every cut, and the
// fixed-point and quotient digits against exact 128-bit arithmetic.
#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "brol_format_check.h"

namespace {

using brol_format_check::convert;
using brol_format_check::defaults;
__extension__ using u128 = unsigned __int128;

brol_item address(const void* p) { return brol::detail::to_item(p); }

TEST(BrolFormatText, StringsAndCharacters) {
  const char unterminated[3] = {'a', 'b', 'c'};  // bytes past the maximum must not be read
  const char with_nul[3] = {'a', '\0', 'b'};
  EXPECT_EQ(BROL_FORMATTED(brol_fmt_strn, "abcdef", 3, brol_fmt_end), "abc");
  EXPECT_EQ(BROL_FORMATTED(brol_fmt_strn, "ab", 10, brol_fmt_end), "ab");
  EXPECT_EQ(BROL_FORMATTED(brol_fmt_strn, unterminated, 3, "|", brol_fmt_end), "abc|");
  EXPECT_EQ(BROL_FORMATTED(brol_fmt_strn, "abc", 0, "|", brol_fmt_end), "|");
  EXPECT_EQ(BROL_FORMATTED(brol_fmt_mem, with_nul, 3, brol_fmt_end), std::string(with_nul, 3));
  EXPECT_EQ(BROL_FORMATTED(brol_fmt_upper, brol_fmt_mem, with_nul, 3, brol_fmt_end), std::string("A\0B", 3));
  EXPECT_EQ(BROL_FORMATTED(brol_fmt_trim, brol_fmt_upper, brol_fmt_strn, "  ab c  x", 8, "|", brol_fmt_end), "AB C|");
  EXPECT_EQ(BROL_FORMATTED(brol_fmt_trim, brol_fmt_strn, " \t\r\n", 4, "|", brol_fmt_end), "|");
  EXPECT_EQ(BROL_FORMATTED(brol_fmt_trim, brol_fmt_swapcase, brol_fmt_mem, "\tAb\n", 4, brol_fmt_end), "aB");
  EXPECT_EQ(BROL_FORMATTED(brol_fmt_right, 6, brol_fmt_maxlen, 4, brol_fmt_ellipsis, brol_fmt_strn, "abcdefg", 6,
                           brol_fmt_end),
            "  a...");
  EXPECT_EQ(BROL_FORMATTED(brol_fmt_char, 0x41, brol_fmt_lower, brol_fmt_char, 0x41, brol_fmt_trim, brol_fmt_char, ' ',
                           brol_fmt_char, 0x1FC, brol_fmt_end),
            "AA \xFC");
}

TEST(BrolFormatText, NegativeLengthsAndNullAddressesAreEmpty) {
  EXPECT_EQ(BROL_FORMATTED(brol_fmt_strn, "abc", -1, "|", brol_fmt_end), "|");
  EXPECT_EQ(BROL_FORMATTED(brol_fmt_mem, "abc", -5, "|", brol_fmt_end), "|");
  EXPECT_EQ(BROL_FORMATTED(brol_fmt_strn, nullptr, 10, "|", brol_fmt_end), "|");
  EXPECT_EQ(BROL_FORMATTED(brol_fmt_mem, nullptr, 10, "|", brol_fmt_end), "|");
  // A small value is a code, never an address (a list built at run time; brol_format refuses it).
  EXPECT_EQ(BROL_FORMATTED_UNCHECKED(brol_fmt_mem, 17, 10, "|", brol_fmt_end), "|");
  // The length item is consumed in every case: the next item is read after it.
  EXPECT_EQ(BROL_FORMATTED(brol_fmt_right, 3, brol_fmt_strn, nullptr, 10, "x", brol_fmt_end), "   x");
}

TEST(BrolFormatNumber, FixedPointTexts) {
  struct fixed_case {
    std::vector<brol_item> items;
    const char* expected;
  };
  const fixed_case cases[] = {
      {{brol_fmt_fixed, 4, 98304, 0}, "1.5"},
      {{brol_fmt_fixed, 4, 65536, 0}, "1.0"},
      {{brol_fmt_fixed, 4, 6554, 0}, "0.1000"},
      {{brol_fmt_frac, 1, 8, brol_fmt_fixed, 4, 6554, 0}, "0.10000610"},
      {{brol_fmt_fixed, 4, static_cast<brol_item>(-98304), 0}, "-1.5"},
      {{brol_fmt_plus, brol_fmt_fixed, 4, 0, 0}, "+0.0"},
      {{brol_fmt_point, ',', brol_fmt_fixed, 4, 98304, 0}, "1.5"},
      {{brol_fmt_fixed, 8, 0x180000000ULL, 0}, "1.5"},
      {{brol_fmt_fixed, 8, 0x8000000000000000ULL, 0}, "-2147483648.0"},
      {{brol_fmt_group, ',', brol_fmt_fixed, 8, 0x7FFFFFFFFFFFFFFFULL, 0}, "2,147,483,647.9999"},
      {{brol_fmt_base, 16, brol_fmt_fixed, 8, 0xAB80000000ULL, 0}, "AB.8"},
      {{brol_fmt_base, 16, brol_fmt_lower, brol_fmt_fixed, 8, 0xABC0000000ULL, 0}, "ab.c"},
      {{brol_fmt_frac, 0, 4, brol_fmt_fixed, 4, 65536, 0}, "1"},
      {{brol_fmt_frac, 6, 2, brol_fmt_fixed, 4, 98304, 0}, "1.500000"},
      {{brol_fmt_frac, 0, 0, brol_fmt_fixed, 4, 98304, 0}, "1."},
      {{brol_fmt_digits, 3, brol_fmt_fixed, 4, 98304, 0}, "001.5"},
      // An unknown size code reads no value: the next item follows at once.
      {{brol_fmt_fixed, 2, brol::detail::to_item("|"), 0}, "0.0|"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(brol_format_check::format_swept([&](char* d, std::int64_t n) {
                return brol_vformat(d, n, c.items[0], {c.items.data() + 1, c.items.data() + c.items.size()});
              }),
              c.expected);
  }
}

TEST(BrolFormatNumber, QuotientTexts) {
  const std::int32_t pairs32[][2] = {{1, 3}, {7, 2}, {4, 2}, {-1, 2}, {7, -2}, {0, -5}, {5, 0}, {INT32_MIN, -1}};
  const char* expected32[] = {"0.3333", "3.5", "2.0", "-0.5", "-3.5", "0.0", "0.0", "2147483648.0"};
  for (std::size_t i = 0; i < std::size(pairs32); ++i) {
    EXPECT_EQ(BROL_FORMATTED(brol_fmt_ratio, 8, pairs32[i], brol_fmt_end), expected32[i]) << i;
  }
  const std::int64_t min_over_minus_one[2] = {INT64_MIN, -1};
  EXPECT_EQ(BROL_FORMATTED(brol_fmt_ratio, 16, min_over_minus_one, brol_fmt_end), "9223372036854775808.0");
  const std::int64_t huge[2] = {INT64_MAX, INT64_MIN};
  EXPECT_EQ(BROL_FORMATTED(brol_fmt_frac, 1, 30, brol_fmt_ratio, 16, huge, brol_fmt_end),
            "-0.999999999999999999891579782751");
  const std::int32_t third[2] = {1, 3};
  EXPECT_EQ(BROL_FORMATTED(brol_fmt_frac, 0, 0, brol_fmt_ratio, 8, third, brol_fmt_end), "0.");
  EXPECT_EQ(BROL_FORMATTED(brol_fmt_frac, 6, 2, brol_fmt_ratio, 8, third, brol_fmt_end), "0.33");
  EXPECT_EQ(BROL_FORMATTED(brol_fmt_base, 3, brol_fmt_ratio, 8, third, brol_fmt_end), "0.1");
  EXPECT_EQ(BROL_FORMATTED(brol_fmt_point, ',', brol_fmt_plus, brol_fmt_ratio, 8, third, brol_fmt_end), "+0.3333");
  // Unknown size in a list built at run time, and a null address: 0 over 1, and the address item is
  // consumed either way. A list given as arguments has the size code fitted to its pair.
  EXPECT_EQ(BROL_FORMATTED_UNCHECKED(brol_fmt_ratio, 4, third, "|", brol_fmt_end), "0.0|");
  EXPECT_EQ(BROL_FORMATTED(brol_fmt_ratio, 4, third, "|", brol_fmt_end), "0.3333|");
  EXPECT_EQ(BROL_FORMATTED(brol_fmt_ratio, 8, nullptr, "|", brol_fmt_end), "0.0|");
}

// The base-B digits of n, at least `width` of them.
std::string digits_of(u128 n, unsigned base, std::size_t width) {
  std::string s;
  do {
    const auto d = static_cast<unsigned>(n % base);
    s += static_cast<char>(d < 10 ? '0' + d : 'A' + d - 10);
    n /= base;
  } while (n != 0);
  if (s.size() < width) s.append(width - s.size(), '0');
  std::reverse(s.begin(), s.end());
  return s;
}

u128 power(unsigned base, int k) {
  u128 p = 1;
  while (k-- > 0) p *= base;
  return p;
}

// Fraction digits of num / den (num < den), cut after k digits, as one 128-bit division, and how many
// of them are shown: the fewest i >= min_frac after which nothing is left, at most max_frac.
std::string fraction_reference(u128 num, u128 den, unsigned base, int min_frac, int max_frac) {
  int shown = min_frac;
  while (shown < max_frac && (num * power(base, shown)) % den != 0) ++shown;
  shown = std::min(shown, max_frac);
  return shown == 0 ? "" : digits_of(num * power(base, shown) / den, base, static_cast<std::size_t>(shown));
}

TEST(BrolFormatNumber, FixedPointAgreesWith128BitArithmetic) {
  std::mt19937_64 random(4);
  const unsigned bases[] = {10, 2, 3, 7, 16, 36};
  for (int round = 0; round < 3000; ++round) {
    const std::uint64_t v = random() >> (random() % 64);
    const auto value = static_cast<std::int64_t>(round % 2 ? v : 0 - v);
    brol_format_state st = defaults();
    st.base = bases[static_cast<std::size_t>(round) % std::size(bases)];
    const unsigned base = static_cast<unsigned>(st.base);
    // 32 fraction bits times base^k stay below 2^128.
    const int limit = static_cast<int>(96 / std::bit_width(base));
    st.max_frac = static_cast<std::int64_t>(random() % static_cast<unsigned>(limit + 1));
    st.min_frac = static_cast<std::int64_t>(random() % 6);
    const std::uint64_t magnitude =
        value < 0 ? 0 - static_cast<std::uint64_t>(value) : static_cast<std::uint64_t>(value);
    const std::uint64_t f = magnitude & 0xFFFFFFFF;
    std::string expected = value < 0 ? "-" : "";
    expected += digits_of(magnitude >> 32, base, 1);
    if (st.min_frac > 0 || f != 0) expected += ".";
    const int max_frac = static_cast<int>(st.max_frac);
    const int min_frac = static_cast<int>(st.min_frac);
    expected += fraction_reference(f, u128{1} << 32, base, std::min(min_frac, max_frac), max_frac);
    const std::string digits_only =
        expected.substr(expected.find('.') == std::string::npos ? 0 : expected.find('.') + 1);
    if (expected.find('.') != std::string::npos && static_cast<int>(digits_only.size()) < min_frac) {
      expected.append(static_cast<std::size_t>(min_frac) - digits_only.size(), '0');
    }
    const auto result = convert(brol_conv_fixed, st, {8, static_cast<brol_item>(value)});
    ASSERT_EQ(result.text, expected) << value << " base " << base << " frac " << min_frac << "," << max_frac;
    ASSERT_EQ(result.state.int_length, static_cast<std::int64_t>(digits_of(magnitude >> 32, base, 1).size()));
  }
}

TEST(BrolFormatNumber, QuotientAgreesWithExactLongDivision) {
  std::mt19937_64 random(8);
  const unsigned bases[] = {10, 2, 3, 16, 36};
  const std::int64_t specials[] = {INT64_MIN, INT64_MAX, -1, 1, 3, 7, 1000000007, INT64_MAX / 3};
  for (int round = 0; round < 3000; ++round) {
    auto pick = [&] {
      if (random() % 4 == 0) return specials[random() % std::size(specials)];
      return static_cast<std::int64_t>(random() >> (random() % 64));
    };
    const std::int64_t pair[2] = {pick(), pick() | 1};
    brol_format_state st = defaults();
    st.base = bases[static_cast<std::size_t>(round) % std::size(bases)];
    const auto base = static_cast<unsigned>(st.base);
    // The remainder (below 2^63) times base^max_frac stays below 2^128.
    st.max_frac = static_cast<std::int64_t>(random() % (64 / std::bit_width(base) + 1));
    st.min_frac = static_cast<std::int64_t>(random() % 6);
    const auto mag = [](std::int64_t x) {
      return x < 0 ? 0 - static_cast<std::uint64_t>(x) : static_cast<std::uint64_t>(x);
    };
    const std::uint64_t a = mag(pair[0]);
    const std::uint64_t b = mag(pair[1]);
    const bool negative = pair[0] != 0 && (pair[0] < 0) != (pair[1] < 0);
    std::string expected = negative ? "-" : "";
    expected += digits_of(a / b, base, 1);
    if (st.min_frac > 0 || a % b != 0) expected += ".";
    const int max_frac = static_cast<int>(st.max_frac);
    expected += fraction_reference(a % b, b, base, std::min(static_cast<int>(st.min_frac), max_frac), max_frac);
    const auto result = convert(brol_conv_ratio, st, {16, address(pair)});
    ASSERT_EQ(result.text, expected) << pair[0] << "/" << pair[1] << " base " << base;
  }
}

// Lengths past the 64-bit range stay at INT64_MAX, and only what fits the buffer is computed.
TEST(BrolFormatNumber, HugeSettingsSaturate) {
  const std::int64_t huge = std::numeric_limits<std::int64_t>::max();
  const std::int32_t pair[2] = {7, 2};
  const std::int32_t third[2] = {1, 3};
  struct huge_case {
    std::vector<brol_item> items;
    const char* expected;
  };
  const huge_case cases[] = {
      {{brol_fmt_digits, static_cast<brol_item>(huge), brol_fmt_group, ',', brol_fmt_float, 8,
        brol::detail::to_item(1e300), 0},
       "000,000"},
      {{brol_fmt_digits, static_cast<brol_item>(huge), brol_fmt_plus, brol_fmt_float, 8, brol::detail::to_item(1.5), 0},
       "+000000"},
      {{brol_fmt_frac, static_cast<brol_item>(huge), 2, brol_fmt_float, 8, brol::detail::to_item(1.5), 0}, "1.50000"},
      {{brol_fmt_frac, static_cast<brol_item>(huge), 2, brol_fmt_fixed, 4, 98304, 0}, "1.50000"},
      {{brol_fmt_digits, static_cast<brol_item>(huge), brol_fmt_ratio, 8, address(pair), 0}, "0000000"},
      // Fractions that never end, and zeros up to a huge min_frac: counted, not produced digit by digit.
      {{brol_fmt_frac, 1, static_cast<brol_item>(huge), brol_fmt_ratio, 8, address(third), 0}, "0.33333"},
      {{brol_fmt_frac, static_cast<brol_item>(huge), static_cast<brol_item>(huge), brol_fmt_ratio, 8, address(pair), 0},
       "3.50000"},
      {{brol_fmt_base, 3, brol_fmt_frac, 1, static_cast<brol_item>(huge), brol_fmt_fixed, 4, 98304, 0}, "1.11111"},
      {{brol_fmt_frac, static_cast<brol_item>(huge), static_cast<brol_item>(huge), brol_fmt_fixed, 4, 98304, 0},
       "1.50000"},
  };
  for (const auto& c : cases) {
    char buf[16];
    std::memset(buf, 'x', sizeof buf);
    EXPECT_EQ(brol_vformat(buf, 8, c.items[0], {c.items.data() + 1, c.items.data() + c.items.size()}), huge);
    EXPECT_STREQ(buf, c.expected);
    EXPECT_EQ(buf[8], 'x');
  }
}

// Past 64 fraction digits the measure call counts the rest; the count matches the digits written.
TEST(BrolFormatNumber, LongFractionsCountedAsWritten) {
  const std::int32_t seventh[2] = {-1, 7};
  const std::int32_t half[2] = {1, 2};
  std::string sevenths;
  while (sevenths.size() < 300) sevenths += "142857";
  struct long_case {
    std::vector<brol_item> items;
    std::string expected;
  };
  const long_case cases[] = {
      {{brol_fmt_frac, 1, 300, brol_fmt_ratio, 8, address(seventh), 0}, "-0." + sevenths.substr(0, 300)},
      {{brol_fmt_frac, 200, 300, brol_fmt_ratio, 8, address(half), 0}, "0.5" + std::string(199, '0')},
      {{brol_fmt_frac, 150, 100, brol_fmt_ratio, 8, address(half), 0}, "0.5" + std::string(99, '0')},
      {{brol_fmt_base, 3, brol_fmt_frac, 1, 300, brol_fmt_fixed, 4, 98304, 0}, "1." + std::string(300, '1')},
      {{brol_fmt_frac, 200, 100, brol_fmt_fixed, 4, 98304, 0}, "1.5" + std::string(199, '0')},
  };
  for (const auto& c : cases) {
    std::string buf(400, 'x');
    const std::int64_t n =
        brol_vformat(buf.data(), 400, c.items[0], {c.items.data() + 1, c.items.data() + c.items.size()});
    EXPECT_EQ(n, static_cast<std::int64_t>(c.expected.size()));
    EXPECT_EQ(std::string(buf.c_str()), c.expected);
  }
}

// Every conversion of this file, measured and written under every cut with a spread of settings.
TEST(BrolFormatNumber, EveryCutWritesThePrefixOfTheMeasuredText) {
  const std::int32_t pair[2] = {-22, 7};
  const char* text = "  Hello, World \t";
  for (const char group : {'\0', ','}) {
    for (const std::int64_t flags : {0, brol_flag_plus | brol_flag_lower, brol_flag_trim | brol_flag_upper}) {
      brol_format_state st = defaults();
      st.group_char = group;
      st.flags = static_cast<std::uint16_t>(flags);
      st.min_digits = 5;
      st.max_frac = 12;
      convert(brol_conv_fixed, st, {8, static_cast<brol_item>(-0x12345678ABCDEF0LL)});
      convert(brol_conv_ratio, st, {8, address(pair)});
      convert(brol_conv_strn, st, {address(text), 100});
      convert(brol_conv_mem, st, {address(text), 5});
      convert(brol_conv_char, st, {'q'});
    }
  }
}

}  // namespace
