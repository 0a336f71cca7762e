// The floating-point conversion: its texts; the 64-bit fast path against the rule computed step by
// step in extended precision; printf where the two roundings agree; exact digits of large values.
#include <gtest/gtest.h>

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstdio>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "brol_format_check.h"

namespace {

using brol_format_check::convert;
using brol_format_check::defaults;

constexpr long double k_two_63 = 9223372036854775808.0L;

// The text of x, passed as a double item (size 8) when x is a double, else by address (size 16).
std::string float_text(const brol_format_state& st, long double x, bool every_cut = true) {
  const auto d = static_cast<double>(x);
  const std::vector<brol_item> items = d == x ? std::vector<brol_item>{8, brol::detail::to_item(d)}
                                              : std::vector<brol_item>{16, brol::detail::to_item(&x)};
  return convert(brol_conv_float, st, items, every_cut).text;
}

long double power(unsigned base, std::int64_t p) {
  long double s = 1;
  for (std::int64_t i = 0; i < p; ++i) s *= base;
  return s;
}

std::int64_t fraction_cap(const brol_format_state& st) { return std::min<std::int64_t>(st.max_frac, 256 / st.base); }

char digit(unsigned d) { return static_cast<char>(d < 10 ? '0' + d : 'A' + d - 10); }

// Digits of an integral long double by repeated division in extended precision, at least `width`.
std::string rule_digits(long double n, unsigned base, std::int64_t width) {
  std::string s;
  do {
    const long double q = n / base;
    const long double next = std::floor(q);
    s += digit(static_cast<unsigned>(std::llround((q - next) * base)));
    n = next;
  } while (n != 0);
  if (static_cast<std::int64_t>(s.size()) < width) s.append(static_cast<std::size_t>(width) - s.size(), '0');
  std::reverse(s.begin(), s.end());
  return s;
}

// The conversion's rule with every step in extended precision: S = B^P, V = |x| * S rounded halves
// away from zero, H = floor(V / S), F = V - H * S, trailing zero digits of F dropped down to min_frac,
// and the digits of H and F by repeated division. No grouping and one least digit.
std::string extended_rule(long double x, const brol_format_state& st) {
  const auto base = static_cast<unsigned>(st.base);
  const std::int64_t p = fraction_cap(st);
  const long double s = power(base, p);
  const long double v = std::round(std::fabs(x) * s);
  const long double h = std::floor(v / s);
  long double f = v - h * s;
  std::int64_t m = p;
  while (m > st.min_frac && std::floor(f / base) == f / base) {
    f /= base;
    --m;
  }
  std::string text = x < 0 ? "-" : (st.flags & brol_flag_plus) ? "+" : "";
  text += rule_digits(h, base, 1);
  if (m > 0) {
    text += '.';
    text += rule_digits(f, base, m);
    text.append(static_cast<std::size_t>(std::max<std::int64_t>(0, st.min_frac - p)), '0');
  }
  return text;
}

TEST(BrolFormatFloat, Texts) {
  EXPECT_EQ(BROL_FORMATTED(brol_fmt_float, 8, 3.14159, brol_fmt_end), "3.1416");
  EXPECT_EQ(BROL_FORMATTED(brol_fmt_float, 8, 2.5, brol_fmt_end), "2.5");
  EXPECT_EQ(BROL_FORMATTED(brol_fmt_float, 8, 100.0, brol_fmt_end), "100.0");
  EXPECT_EQ(BROL_FORMATTED(brol_fmt_float, 8, 0.00001, brol_fmt_end), "0.0");
  EXPECT_EQ(BROL_FORMATTED(brol_fmt_float, 8, 0.99999, brol_fmt_end), "1.0");
  EXPECT_EQ(BROL_FORMATTED(brol_fmt_float, 8, -2.5, brol_fmt_end), "-2.5");
  EXPECT_EQ(BROL_FORMATTED(brol_fmt_frac, 1, 0, brol_fmt_float, 8, 2.5, brol_fmt_end), "3");
  EXPECT_EQ(BROL_FORMATTED(brol_fmt_group, ',', brol_fmt_float, 8, 1234.5, brol_fmt_end), "1,234.5");
  EXPECT_EQ(BROL_FORMATTED(brol_fmt_group_point, '.' << 8 | ',', brol_fmt_float, 8, 1234.5, brol_fmt_end), "1.234,5");
  EXPECT_EQ(BROL_FORMATTED(brol_fmt_frac, 0, 2, brol_fmt_float, 8, 3.0, brol_fmt_end), "3");
  EXPECT_EQ(BROL_FORMATTED(brol_fmt_frac, 0, 2, brol_fmt_float, 8, 3.14159, brol_fmt_end), "3.14");
  EXPECT_EQ(BROL_FORMATTED(brol_fmt_float, 8, -0.00001, brol_fmt_end), "-0.0");
  EXPECT_EQ(BROL_FORMATTED(brol_fmt_float, 8, -0.0, brol_fmt_end), "0.0");
  EXPECT_EQ(BROL_FORMATTED(brol_fmt_plus, brol_fmt_float, 4, 0.1f, brol_fmt_end), "+0.1");
  EXPECT_EQ(BROL_FORMATTED(brol_fmt_maxlen, 3, brol_fmt_float, 8, 12345.0, brol_fmt_end), "123");
  EXPECT_EQ(BROL_FORMATTED(brol_fmt_digits, 3, brol_fmt_float, 8, -7.25, brol_fmt_end), "-007.25");
  EXPECT_EQ(BROL_FORMATTED(brol_fmt_base, 16, brol_fmt_float, 8, 255.5, brol_fmt_end), "FF.8");
  EXPECT_EQ(BROL_FORMATTED(brol_fmt_base, 16, brol_fmt_lower, brol_fmt_float, 8, 255.5, brol_fmt_end), "ff.8");
  EXPECT_EQ(BROL_FORMATTED(brol_fmt_base, 2, brol_fmt_float, 8, 5.75, brol_fmt_end), "101.11");
  // Fraction zeros past the cap of the base (25 in base 10) and past max_frac; none without a point.
  EXPECT_EQ(BROL_FORMATTED(brol_fmt_frac, 30, 30, brol_fmt_float, 8, 1.5, brol_fmt_end),
            std::string("1.500000000000000000000000000000"));
  EXPECT_EQ(BROL_FORMATTED(brol_fmt_frac, 6, 2, brol_fmt_float, 8, 1.5, brol_fmt_end), "1.500000");
  EXPECT_EQ(BROL_FORMATTED(brol_fmt_frac, 6, 0, brol_fmt_float, 8, 1.5, brol_fmt_end), "2");
  // An unknown size code reads no value; size 16 with a null address is 0.
  EXPECT_EQ(BROL_FORMATTED_UNCHECKED(brol_fmt_float, 3, brol_fmt_int, 4, 7, brol_fmt_end), "0.07");
  EXPECT_EQ(BROL_FORMATTED(brol_fmt_float, 16, nullptr, brol_fmt_end), "0.0");
}

TEST(BrolFormatFloat, RoundingCarriesAndTiesAwayFromZero) {
  EXPECT_EQ(BROL_FORMATTED(brol_fmt_float, 8, 9.99999, brol_fmt_end), "10.0");
  EXPECT_EQ(BROL_FORMATTED(brol_fmt_float, 8, -9.99999, brol_fmt_end), "-10.0");
  EXPECT_EQ(BROL_FORMATTED(brol_fmt_group, ',', brol_fmt_float, 8, 999999.99999, brol_fmt_end), "1,000,000.0");
  EXPECT_EQ(BROL_FORMATTED(brol_fmt_base, 16, brol_fmt_frac, 1, 2, brol_fmt_float, 8, 255.999, brol_fmt_end), "100.0");
  // printf rounds exact ties to even; this conversion rounds them away from zero.
  EXPECT_EQ(BROL_FORMATTED(brol_fmt_frac, 0, 0, brol_fmt_float, 8, 2.5, brol_fmt_end), "3");
  EXPECT_EQ(BROL_FORMATTED(brol_fmt_frac, 0, 0, brol_fmt_float, 8, -0.5, brol_fmt_end), "-1");
  EXPECT_EQ(BROL_FORMATTED(brol_fmt_frac, 2, 2, brol_fmt_float, 8, 0.125, brol_fmt_end), "0.13");
  // Also where x * 10^P needs more than 64 bits and is scaled exactly (printf: ...062).
  EXPECT_EQ(BROL_FORMATTED(brol_fmt_frac, 12, 12, brol_fmt_float, 8, 0x1.ffffffffffffdp39, brol_fmt_end),
            "1099511627775.999633789063");
}

TEST(BrolFormatFloat, DecimalAlignmentAtThePoint) {
  EXPECT_EQ(BROL_FORMATTED(brol_fmt_column, 8, 4, brol_fmt_float, 8, 12.5, "|", brol_fmt_end), "  12.5  |");
  EXPECT_EQ(BROL_FORMATTED(brol_fmt_column, 8, 4, brol_fmt_float, 8, 3.25, "|", brol_fmt_end), "   3.25 |");
  EXPECT_EQ(BROL_FORMATTED(brol_fmt_column, 8, 4, brol_fmt_float, 8, -1.5, "|", brol_fmt_end), "   -1.5 |");
}

TEST(BrolFormatFloat, InfinityAndNotANumberAreWordsCasedLikeDigitLetters) {
  const double inf = std::numeric_limits<double>::infinity();
  const double nan = std::numeric_limits<double>::quiet_NaN();
  EXPECT_EQ(BROL_FORMATTED(brol_fmt_float, 8, inf, brol_fmt_end), "INF");
  EXPECT_EQ(BROL_FORMATTED(brol_fmt_float, 8, -inf, brol_fmt_end), "-INF");
  EXPECT_EQ(BROL_FORMATTED(brol_fmt_plus, brol_fmt_float, 8, inf, brol_fmt_end), "+INF");
  EXPECT_EQ(BROL_FORMATTED(brol_fmt_float, 8, nan, brol_fmt_end), "NAN");
  EXPECT_EQ(BROL_FORMATTED(brol_fmt_float, 8, -nan, brol_fmt_end), "NAN");
  EXPECT_EQ(BROL_FORMATTED(brol_fmt_lower, brol_fmt_float, 8, -inf, brol_fmt_end), "-inf");
  EXPECT_EQ(BROL_FORMATTED(brol_fmt_swapcase, brol_fmt_float, 8, nan, brol_fmt_end), "nan");
  EXPECT_EQ(BROL_FORMATTED(brol_fmt_upper, brol_fmt_float, 8, nan, brol_fmt_end), "NAN");
  // The word stands where the integer part would.
  EXPECT_EQ(BROL_FORMATTED(brol_fmt_column, 8, 4, brol_fmt_float, 8, -inf, "|", brol_fmt_end), " -INF   |");
  // A finite value whose scaled form overflows is treated as infinite.
  const long double max = std::numeric_limits<long double>::max();
  EXPECT_EQ(BROL_FORMATTED(brol_fmt_float, 16, &max, brol_fmt_end), "INF");
  const long double negative_max = -max;
  EXPECT_EQ(BROL_FORMATTED(brol_fmt_float, 16, &negative_max, brol_fmt_end), "-INF");
}

// Both targets hold the value in the x87 80-bit format and run the x87 unit at full precision; the
// rule's digits depend on it.
TEST(BrolFormatFloat, LongDoubleIsTheX87ExtendedFormatAtFullPrecision) {
  EXPECT_EQ(std::numeric_limits<long double>::digits, 64);
  volatile long double one = 1;
  EXPECT_NE(one + 0x1p-63L, one) << "the x87 unit rounds to fewer than 64 bits";
}

// Values x with x * B^P below 2^63 take the 64-bit integer path; the rule computed step by step in
// extended precision must give the same text for every one of them, in every base, for doubles and
// for full 64-bit extended values.
TEST(BrolFormatFloat, FastPathGivesTheDigitsOfTheExtendedPrecisionRule) {
  std::mt19937_64 random(6);
  const unsigned bases[] = {10, 10, 2, 3, 7, 16, 36};
  int compared = 0;
  for (int round = 0; round < 40000; ++round) {
    brol_format_state st = defaults();
    st.base = bases[static_cast<std::size_t>(round) % std::size(bases)];
    const auto base = static_cast<unsigned>(st.base);
    st.max_frac = static_cast<std::int64_t>(random() % (256 / base + 3));
    st.min_frac = static_cast<std::int64_t>(random() % 6);
    const long double s = power(base, fraction_cap(st));
    // A scaled value of 2^-8 to 2^63, as a full extended value or rounded to a double.
    const int scaled_exponent = static_cast<int>(random() % 72) - 9;
    long double x = std::ldexp(static_cast<long double>(random() | 1ULL << 63), scaled_exponent - 63) / s;
    if (round % 2) x = static_cast<double>(x);
    if (round % 3 == 0) x = -x;
    if (!(std::fabs(x) * s < k_two_63)) continue;
    ++compared;
    ASSERT_EQ(float_text(st, x, round % 8 == 0), extended_rule(x, st))
        << std::hexfloat << x << " base " << base << " frac " << st.min_frac << "," << st.max_frac;
  }
  EXPECT_GT(compared, 35000);
}

TEST(BrolFormatFloat, FastPathEdgesAgreeWithTheExtendedPrecisionRule) {
  std::vector<long double> values = {0.5L, 0.125L, 2.5L, 0.0625L, 1e-30L, 0.1L, 1.0L / 3, 2.0L / 3, 9.99999L};
  for (const long double limit : {k_two_63, k_two_63 / 2, k_two_63 / 10000, k_two_63 / 1e25L}) {
    for (const long double x :
         {limit, std::nextafter(limit, 0.0L), std::nextafter(std::nextafter(limit, 0.0L), 0.0L)}) {
      values.push_back(x);
      values.push_back(x - 0.5L);
    }
  }
  for (const unsigned base : {10U, 2U, 16U, 3U}) {
    for (std::int64_t p = 0; p <= 256 / base; ++p) {
      for (const long double x : values) {
        brol_format_state st = defaults();
        st.base = base;
        st.max_frac = p;
        st.min_frac = p;
        if (std::fabs(x) * power(base, p) >= k_two_63) continue;
        ASSERT_EQ(float_text(st, x), extended_rule(x, st)) << std::hexfloat << x << " base " << base << " P " << p;
      }
    }
  }
}

// x * 10^P * 2 is an odd integer: an exact tie, which printf rounds to even and this conversion away
// from zero.
bool exact_tie(long double x, int p) {
  int exponent = 0;
  auto mantissa = static_cast<std::uint64_t>(std::ldexp(std::frexp(std::fabs(x), &exponent), 64));
  if (mantissa == 0) return false;
  exponent -= 64;
  for (; (mantissa & 1) == 0; mantissa >>= 1) ++exponent;
  return exponent + p + 1 == 0;
}

// printf rounds the exact value; this conversion rounds x * 10^P as computed in extended precision
// while that lies below 2^63, exactly from 2^63 on, and exact ties away from zero. They agree below
// 2^63 more than one unit of its last place away from a tie, and from 2^63 on away from an exact tie,
// and then the texts must be equal: random doubles and, at every fraction count, every power of ten,
// the largest doubles and values whose scaled form needs more than 64 bits.
TEST(BrolFormatFloat, AgreesWithPrintfAwayFromTies) {
  std::vector<double> values = {1e19,
                                1e23,
                                4503599627370495.5,
                                0x1p63,
                                0x1p64,
                                0x1.fffffffffffffp63,
                                0x1.0000000000001p64,
                                DBL_MAX,
                                std::nextafter(DBL_MAX, 0.0),
                                0x1p1023,
                                DBL_MIN,
                                0x1p-1074};
  for (int k = -323; k <= 308; ++k) values.push_back(std::strtod(("1e" + std::to_string(k)).c_str(), nullptr));
  std::mt19937_64 random(10);
  for (int round = 0; round < 30000; ++round) {
    const double mantissa = std::ldexp(static_cast<double>(random() >> 11), -53);
    values.push_back(std::ldexp(mantissa, static_cast<int>(random() % 120) - 60) * (round % 2 ? -1 : 1));
  }
  std::vector<char> expected(400);
  int compared = 0;
  int large = 0;
  for (std::size_t i = 0; i < values.size(); ++i) {
    const double x = values[i];
    for (int p : {static_cast<int>(random() % 26), 0, 6, 12, 25}) {
      if (i >= values.size() - 30000 && p != 0) p = static_cast<int>(random() % 26);
      const long double scaled = std::fabs(static_cast<long double>(x)) * power(10, p);
      const long double ulp = std::nextafter(scaled, std::numeric_limits<long double>::infinity()) - scaled;
      const bool wide = scaled >= k_two_63;
      if (x == 0 || exact_tie(x, p) || (!wide && std::fabs(scaled - std::floor(scaled) - 0.5L) <= ulp)) continue;
      brol_format_state st = defaults();
      st.min_frac = st.max_frac = p;
      std::snprintf(expected.data(), expected.size(), "%.*f", p, x);
      ++compared;
      large += wide ? 1 : 0;
      ASSERT_EQ(convert(brol_conv_float, st, {8, brol::detail::to_item(x)}).text, expected.data())
          << std::hexfloat << x << " P " << p;
    }
  }
  EXPECT_GT(compared, 20000);
  EXPECT_GT(large, 2000);
}

// The engine splits a double once and keeps the parts for its write step; the conversion-table entry
// splits it in both of its calls. Both must give the same text, whole or cut, under any settings.
TEST(BrolFormatFloat, EngineKeepsTheSplitOfItsMeasureStep) {
  std::mt19937_64 random(16);
  for (int round = 0; round < 4000; ++round) {
    brol_format_state st = defaults();
    st.min_frac = static_cast<std::int64_t>(random() % 8);
    st.max_frac = static_cast<std::int64_t>(random() % 9);
    st.min_digits = static_cast<std::int64_t>(random() % 6);
    st.base = round % 4 == 0 ? 16 : 10;
    st.group_char = round % 5 == 0 ? ',' : 0;
    st.point_char = round % 3 == 0 ? ',' : '.';
    st.flags = static_cast<std::uint16_t>(round % 7 == 0 ? brol_flag_plus : 0);
    const double x = std::ldexp(static_cast<double>(random() >> 11), static_cast<int>(random() % 100) - 80) *
                     ((random() & 1) ? -1 : 1);
    const std::string expected = float_text(st, x, false);
    const std::string text =
        BROL_FORMATTED(brol_fmt_frac, st.min_frac, st.max_frac, brol_fmt_digits, st.min_digits, brol_fmt_base, st.base,
                       brol_fmt_group_point, st.group_char << 8 | st.point_char, brol_fmt_flags(st.flags),
                       brol_fmt_float, 8, x, brol_fmt_end);
    ASSERT_EQ(text, expected) << std::hexfloat << x;
  }
}

// x * B^P of 2^63 or more is taken exactly as V; the text shows all its digits, the last P of them
// after the point. printf prints x exactly rounded in base 10 (ties aside); in base 2 the digits of V
// are the bits of x.
std::string split_digits(const std::string& v_digits, std::int64_t p, bool negative) {
  std::string all(
      static_cast<std::size_t>(std::max<std::int64_t>(0, p + 1 - static_cast<std::int64_t>(v_digits.size()))), '0');
  all += v_digits;
  const std::size_t cut = all.size() - static_cast<std::size_t>(p);
  std::string text = negative ? "-" : "";
  text.append(all, 0, cut);
  if (p > 0) text.append(".").append(all, cut);
  return text;
}

std::string binary_digits(long double v) {
  int exponent = 0;
  const auto mantissa = static_cast<std::uint64_t>(std::ldexp(std::frexp(v, &exponent), 64));
  std::string bits;
  for (int i = 63; i >= 0; --i) bits += static_cast<char>('0' + (mantissa >> i & 1));
  return bits + std::string(static_cast<std::size_t>(exponent - 64), '0');
}

TEST(BrolFormatFloat, LargeValuesPrintEveryDigitExactly) {
  std::mt19937_64 random(12);
  int compared = 0;
  for (int round = 0; round < 2000; ++round) {
    const bool extended = round % 2 == 0;
    const auto mantissa = static_cast<long double>(random() | 1ULL << 63);
    long double x = std::ldexp(mantissa, static_cast<int>(random() % (extended ? 16400 : 1030)) - 63);
    if (!extended) x = static_cast<double>(x);
    brol_format_state st = defaults();
    st.base = round % 3 == 0 ? 2 : 10;
    st.max_frac = st.min_frac = static_cast<std::int64_t>(random() % static_cast<std::uint64_t>(256 / st.base + 1));
    const long double v = x * power(static_cast<unsigned>(st.base), st.max_frac);
    const int p = static_cast<int>(st.max_frac);
    if (!std::isfinite(v) || v < k_two_63 || (st.base == 10 && exact_tie(x, p))) continue;
    std::string expected;
    if (st.base == 10) {
      std::vector<char> buffer(6000);
      std::snprintf(buffer.data(), buffer.size(), "%.*Lf", p, round % 5 ? x : -x);
      expected = buffer.data();
    } else {
      expected = split_digits(binary_digits(v), st.max_frac, round % 5 == 0);
    }
    ++compared;
    ASSERT_EQ(float_text(st, round % 5 ? x : -x, false), expected)
        << std::hexfloat << x << " base " << st.base << " P " << st.max_frac;
  }
  EXPECT_GT(compared, 1000);
}

TEST(BrolFormatFloat, IntegerPartsAroundTwoToThe64) {
  brol_format_state st = defaults();
  st.max_frac = 0;
  EXPECT_EQ(float_text(st, 9223372036854775807.0L), "9223372036854775807");
  EXPECT_EQ(float_text(st, k_two_63), "9223372036854775808");
  EXPECT_EQ(float_text(st, 18446744073709551615.0L), "18446744073709551615");
  EXPECT_EQ(float_text(st, 18446744073709551616.0L), "18446744073709551616");
  // x * 100 is 2^64 - 0.375 exactly: the rounding carries out of the scaled value's top limb.
  st.min_frac = st.max_frac = 2;
  EXPECT_EQ(float_text(st, 11805916207174113034.0L / 64), "184467440737095516.16");
  st.min_frac = 1;
  st.max_frac = 0;
  // Repeated division in extended precision loses the last digit here (it gives ...763): the large
  // path takes exact digits instead.
  const long double v = 11529215046068469762.0L;
  EXPECT_EQ(float_text(st, v), "11529215046068469762");
  EXPECT_NE(extended_rule(v, st), "11529215046068469762");
  // Every binary digit of 0.1 as a double: 2^128 scales it exactly, trailing zeros dropped.
  st.base = 2;
  st.max_frac = 1000;
  std::string bits;
  for (int i = 52; i >= 0; --i) bits += static_cast<char>('0' + (0x1999999999999AULL >> i & 1));
  bits.pop_back();
  EXPECT_EQ(float_text(st, 0.1), std::string("0.000").append(bits));
  const long double big = std::numeric_limits<long double>::max();
  st.base = 10;
  st.max_frac = 0;
  std::vector<char> buffer(6000);
  std::snprintf(buffer.data(), buffer.size(), "%.0Lf", big);
  EXPECT_EQ(float_text(st, big), buffer.data());
}

// Measure and write agree under every cut for a spread of values and settings, the large path and
// grouping included.
TEST(BrolFormatFloat, EveryCutWritesThePrefixOfTheMeasuredText) {
  const long double values[] = {0.0L,
                                -0.0L,
                                1.5L,
                                -1234567.891L,
                                0.000123L,
                                1e22L,
                                -3.5e40L,
                                1e300L,
                                std::numeric_limits<long double>::infinity(),
                                std::numeric_limits<long double>::quiet_NaN()};
  for (const long double x : values) {
    for (const std::int64_t base : {10, 16, 3}) {
      brol_format_state st = defaults();
      st.base = base;
      st.group_char = ',';
      st.flags = brol_flag_plus | brol_flag_lower;
      st.min_digits = x == 1e300L ? 330 : 4;
      st.min_frac = 2;
      st.max_frac = 9;
      const auto result = convert(brol_conv_float, st, {16, brol::detail::to_item(&x)});
      EXPECT_GT(result.text.size(), 2U);
      if (std::isfinite(x)) {
        const std::size_t point = result.text.find('.');
        ASSERT_NE(point, std::string::npos) << result.text;
        EXPECT_EQ(result.state.int_length, static_cast<std::int64_t>(point) - 1) << result.text;
        EXPECT_EQ(result.state.frac_digits, static_cast<std::int64_t>(result.text.size() - point - 1));
      }
    }
  }
}

}  // namespace
