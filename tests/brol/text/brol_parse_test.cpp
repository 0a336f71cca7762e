// Text parsing against the C library (strtoul, strtoull, strtoll) and hand-picked cases.
#include "brol/text/brol_parse.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>

namespace {

TEST(TextParse, ClassesAndDigitsOfEveryByte) {
  for (int b = 0; b < 256; ++b) {
    const char text[2] = {static_cast<char>(b), '\0'};
    char* end = nullptr;
    const unsigned long value = std::strtoul(text, &end, 36);  // reads exactly the digits, both cases
    EXPECT_EQ(brol_digit_value(text[0]), end == text + 1 ? static_cast<int>(value) : -1) << b;
    EXPECT_EQ(brol_is_blank(text[0]), b == ' ' || b == '\t') << b;
    EXPECT_EQ(brol_is_space(text[0]), b == ' ' || b == '\t' || b == '\n' || b == '\r') << b;
  }
}

TEST(TextParse, SkippingAndLines) {
  struct {
    const char* text;
    std::ptrdiff_t blanks, space, next_line;  // -1: no next line
  } const cases[] = {{" \t\r\n x", 2, 5, 4}, {"\v\f x", 0, 0, -1}, {"", 0, 0, -1},       {"abc", 0, 0, -1},
                     {"a\nb", 0, 0, 2},      {"a\n", 0, 0, 2},     {"a\r\n\nb", 0, 0, 3}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(brol_skip_blanks(c.text), c.text + c.blanks);
    EXPECT_EQ(brol_skip_space(c.text), c.text + c.space);
    EXPECT_EQ(brol_next_line(c.text), c.next_line < 0 ? nullptr : c.text + c.next_line);
  }
  EXPECT_EQ(brol_skip_blanks(nullptr), nullptr);
  EXPECT_EQ(brol_skip_space(nullptr), nullptr);
  EXPECT_EQ(brol_next_line(nullptr), nullptr);
}

template <class Value>
struct number_case {
  const char* text;
  int base;
  Value value;
  std::ptrdiff_t consumed;
};

// Beyond the range the parse stops before the digit that would leave it. A digit stopped at because
// adding it would overflow leaves value * base (the digit neither added nor consumed); a value already
// above L = (2^64 - 1) / base stops as it is, and in the bases that divide 2^64 - 1 (3, 5, 15, 17) L is
// one lower, so there 2^64 - 1 itself stops one digit short.
TEST(TextParse, NumberCases) {
  const number_case<std::uint64_t> unsigned_cases[] = {
      {"  ff", 16, 255, 4},
      {"12z", 10, 12, 2},
      {"Zz", 36, 1295, 2},
      {"0x1f", 16, 0, 1},
      {"-5", 10, 0, 0},
      {"\v5", 10, 0, 0},
      {"  ", 10, 0, 2},
      {"8", 8, 0, 0},
      {"18446744073709551615", 10, ~0ULL, 20},
      {"18446744073709551616", 10, 18446744073709551610ULL, 19},
      {"11112220022122120101211020120210210211220", 3, 6148914691236517205ULL, 40},
      {"2214220303114400424121122430", 5, 3689348814741910323ULL, 27},
      {"2c1d56b648c6cd110", 15, 1229782938247303441ULL, 16},
      {"67979g60f5428010", 17, 1085102592571150095ULL, 15},
      {"ffffffffffffffff", 16, ~0ULL, 16},
      {"3w5e11264sgsg", 36, 18446744073709551600ULL, 12},
      {"000000000000000000000001844674407370955161500", 10, ~0ULL, 43},
  };
  for (const auto& c : unsigned_cases) {
    const char* end = nullptr;
    EXPECT_EQ(brol_parse_uint(c.text, &end, c.base), c.value) << c.text;
    EXPECT_EQ(end - c.text, c.consumed) << c.text;
  }
  const number_case<std::int64_t> signed_cases[] = {
      {" -42x", 10, -42, 4},
      {"+7", 10, 7, 2},
      {"-", 10, 0, 1},
      {"- 12", 10, -12, 4},
      {"--1", 10, 0, 1},
      {"9223372036854775807", 10, INT64_MAX, 19},
      {"9223372036854775808", 10, 9223372036854775800LL, 18},
      {"-9223372036854775808", 10, INT64_MIN, 20},
      {"-9223372036854775809", 10, -9223372036854775800LL, 19},
      {"-0000000000000000000000000000008000000000000000", 16, INT64_MIN, 47},
  };
  for (const auto& c : signed_cases) {
    const char* end = nullptr;
    EXPECT_EQ(brol_parse_int(c.text, &end, c.base), c.value) << c.text;
    EXPECT_EQ(end - c.text, c.consumed) << c.text;
  }
}

TEST(TextParse, BadBaseOrNullConsumesNothing) {
  const char* text = " -12";
  for (int base : {-1, 0, 1, 37}) {
    const char* ends[4] = {};
    EXPECT_EQ(brol_parse_uint(text, &ends[0], base), 0U);
    EXPECT_EQ(brol_parse_int(text, &ends[1], base), 0);
    EXPECT_EQ(brol_parse_uint_n(text, &ends[2], 4, base), 0U);
    EXPECT_EQ(brol_parse_int_n(text, &ends[3], 4, base), 0);
    for (const char* end : ends) EXPECT_EQ(end, text) << base;
  }
  const char* end = "x";
  EXPECT_EQ(brol_parse_int(nullptr, &end, 10), 0);
  EXPECT_EQ(end, nullptr);
}

// Random texts in every base: white space, a sign for the signed parser, digits in either case
// (long runs overflow), a non-digit. Where the C library reports ERANGE it saturates while the
// parser stops: then the parser's value is that of the digits it consumed, or that times the base
// (the digit it stopped at was not added), and one digit more is out of range.
template <class Parse, class Reference>
void expect_agrees_with(std::uint64_t seed, bool signed_text, Parse parse, Reference reference) {
  std::mt19937_64 rng(seed);
  for (int base = 2; base <= 36; ++base) {
    for (int i = 0; i < 400; ++i) {
      std::string text = std::string(rng() % 3, ' ') + (rng() % 2 ? "\t\r\n" : "");
      if (signed_text && rng() % 3 != 0) text += rng() % 2 ? '-' : '+';
      for (std::size_t n = 1 + rng() % (rng() % 4 == 0 ? 70 : 20); n > 0; --n) {
        const char d = "0123456789abcdefghijklmnopqrstuvwxyz"[rng() % static_cast<unsigned>(base)];
        text += rng() % 2 ? d : static_cast<char>(std::toupper(d));
      }
      text += ",. ;/"[rng() % 5];
      SCOPED_TRACE(testing::Message() << "base " << base << " '" << text << "'");
      const char* end = nullptr;
      const auto value = parse(text.c_str(), &end, base);
      char* ref_end = nullptr;
      errno = 0;
      const auto ref = reference(text.c_str(), &ref_end, base);
      if (errno != ERANGE) {
        ASSERT_EQ(value, ref);
        ASSERT_EQ(end, ref_end);
        continue;
      }
      errno = 0;
      const auto prefix = reference(std::string(text.c_str(), end).c_str(), nullptr, base);
      ASSERT_EQ(errno, 0);
      ASSERT_TRUE(value == prefix || value == prefix * static_cast<decltype(prefix)>(base)) << value;
      reference(std::string(text.c_str(), end + 1).c_str(), nullptr, base);
      ASSERT_EQ(errno, ERANGE);
    }
  }
}

TEST(TextParse, AgreesWithStrtoullAndStrtoll) {
  expect_agrees_with(6, false, brol_parse_uint, [](const char* t, char** e, int b) { return std::strtoull(t, e, b); });
  expect_agrees_with(64, true, brol_parse_int, [](const char* t, char** e, int b) { return std::strtoll(t, e, b); });
}

// The counted forms read what the uncounted ones read from the text cut after n bytes.
TEST(TextParse, CountedFormsEqualParsingTheCutText) {
  for (const char* text : {"12345", "-12345", "+ff", "18446744073709551615", "-9223372036854775808", "-", ""}) {
    const auto length = static_cast<std::int64_t>(std::strlen(text));
    for (std::int64_t n = -1; n <= length + 1; ++n) {
      for (int base : {10, 16, 36}) {
        SCOPED_TRACE(testing::Message() << text << " n " << n << " base " << base);
        const std::string cut(text, static_cast<std::size_t>(std::clamp<std::int64_t>(n, 0, length)));
        const char* cut_end = nullptr;
        const char* end = nullptr;
        EXPECT_EQ(brol_parse_uint_n(text, &end, n, base), brol_parse_uint(cut.c_str(), &cut_end, base));
        EXPECT_EQ(end - text, cut_end - cut.c_str());
        EXPECT_EQ(brol_parse_int_n(text, &end, n, base), brol_parse_int(cut.c_str(), &cut_end, base));
        EXPECT_EQ(end - text, cut_end - cut.c_str());
      }
    }
  }
  EXPECT_EQ(brol_parse_uint_n(" 5", nullptr, 2, 10), 0U);  // no white space is skipped
}

TEST(TextParse, CountedHex) {
  EXPECT_EQ(brol_parse_hex("1aG", 4), 26U);
  EXPECT_EQ(brol_parse_hex("0x10", 4), 0U);
  EXPECT_EQ(brol_parse_hex(" 1", 2), 0U);
  EXPECT_EQ(brol_parse_hex(nullptr, 3), 0U);
  // Every cut of a run of up to 16 digits: the low 32 bits of strtoull's value of the cut text.
  const char* digits = "9abcdefABCDEF01234";
  for (std::int16_t n = -1; n <= 16; ++n) {
    const std::string cut(digits, static_cast<std::size_t>(std::max<std::int16_t>(n, 0)));
    EXPECT_EQ(brol_parse_hex(digits, n), static_cast<std::uint32_t>(std::strtoull(cut.c_str(), nullptr, 16))) << n;
  }
}

TEST(TextParse, UnescapeKinds) {
  struct {
    const char* text;
    char value;
    std::int64_t used;
  } const cases[] = {
      {"A", 'A', 1},    {"\xfc", '\xfc', 1}, {"\\a", 7, 2},
      {"\\b", 8, 2},    {"\\e", 27, 2},      {"\\f", 12, 2},
      {"\\n", 10, 2},   {"\\r", 13, 2},      {"\\t", 9, 2},
      {"\\v", 11, 2},   {"\\1018", 65, 4},   {"\\777", '\xff', 4},
      {"\\8", '8', 2},  {"\\x41", 65, 4},    {"\\xg", 'x', 2},
      {"\\i101", 5, 5}, {"\\i2", 'i', 2},    {"\\i100000000", '\x80', 10},
      {"\\q", 'q', 2},  {"\\\\", '\\', 2},   {"\\\"", '"', 2},
      {"\\", '\\', 1},  {"", 0, 1},
  };
  for (const auto& c : cases) {
    std::int64_t used = -1;
    EXPECT_EQ(brol_unescape(c.text, &used), c.value) << c.text;
    EXPECT_EQ(used, c.used) << c.text;
  }
  std::int64_t used = -1;
  EXPECT_EQ(brol_unescape(nullptr, &used), 0);
  EXPECT_EQ(used, 0);
}

// Every cut of every digit run, by the NUL or by a non-digit, with digits again after the cut so
// that reading past it shows: the value is strtoul's of the digits read, modulo 256.
TEST(TextParse, UnescapeDigitRunCuts) {
  struct {
    const char* prefix;
    const char* digits;  // longer than the maximum
    int max, base;
    char alone;      // the result without digits (0: another kind of escape)
    char non_digit;  // the byte just past the kind's digits
  } const kinds[] = {
      {"\\", "7654321", 3, 8, 0, '8'}, {"\\x", "fA9", 2, 16, 'x', 'g'}, {"\\i", "1011011101", 8, 2, 'i', '2'}};
  for (const auto& kind : kinds) {
    const auto prefix_length = static_cast<std::int64_t>(std::strlen(kind.prefix));
    for (int k = 0; k <= static_cast<int>(std::strlen(kind.digits)); ++k) {
      const int read = std::min(k, kind.max);
      if (read == 0 && kind.alone == 0) continue;
      for (const char cut : {'\0', 'z', kind.non_digit}) {
        std::string text = kind.prefix + std::string(kind.digits, static_cast<std::size_t>(k)) + cut + kind.digits;
        SCOPED_TRACE(testing::Message() << kind.prefix << " k " << k << " cut " << int{cut});
        std::int64_t used = -1;
        const char value = brol_unescape(text.c_str(), &used);
        EXPECT_EQ(used, prefix_length + read);
        const std::string digits(kind.digits, static_cast<std::size_t>(read));
        EXPECT_EQ(value, read == 0 ? kind.alone : static_cast<char>(std::strtoul(digits.c_str(), nullptr, kind.base)));
      }
    }
  }
}

}  // namespace
