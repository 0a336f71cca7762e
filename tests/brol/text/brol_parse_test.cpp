// Text parsing against the C library (strtoull, strtoll, strtoul) and hand-picked cases.
#include "brol/text/brol_parse.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>

namespace {

const char* const k_digits = "0123456789abcdefghijklmnopqrstuvwxyz";

TEST(TextParse, CharacterClassesOfEveryByte) {
  for (int b = 0; b < 256; ++b) {
    const char c = static_cast<char>(b);
    SCOPED_TRACE(b);
    EXPECT_EQ(brol_is_blank(c), b == ' ' || b == '\t');
    EXPECT_EQ(brol_is_space(c), b == ' ' || b == '\t' || b == '\n' || b == '\r');
    // strtoul in base 36 reads exactly the bytes that are digits, ASCII letters of both cases included.
    const char text[2] = {c, '\0'};
    char* end = nullptr;
    const unsigned long value = std::strtoul(text, &end, 36);
    const int expected = end == text + 1 && b != '+' && b != '-' ? static_cast<int>(value) : -1;
    EXPECT_EQ(brol_digit_value(c), expected);
  }
}

TEST(TextParse, SkippingAndLines) {
  const char* text = " \t\r\n x";
  EXPECT_EQ(brol_skip_blanks(text), text + 2);
  EXPECT_EQ(brol_skip_space(text), text + 5);
  const char* vt = "\v\f x";
  EXPECT_EQ(brol_skip_space(vt), vt);  // vertical tab and form feed are no white space here
  const char* empty = "";
  EXPECT_EQ(brol_skip_blanks(empty), empty);
  const char* blanks = "  ";
  EXPECT_EQ(brol_skip_space(blanks), blanks + 2);
  EXPECT_EQ(brol_skip_blanks(nullptr), nullptr);
  EXPECT_EQ(brol_skip_space(nullptr), nullptr);

  const char* two = "a\nb";
  EXPECT_EQ(brol_next_line(two), two + 2);
  EXPECT_EQ(brol_next_line("abc"), nullptr);
  const char* last = "a\n";
  EXPECT_EQ(brol_next_line(last), last + 2);
  const char* crlf = "a\r\n\nb";
  EXPECT_EQ(brol_next_line(crlf), crlf + 3);
  EXPECT_EQ(brol_next_line(nullptr), nullptr);
}

struct uint_case {
  const char* text;
  int base;
  std::uint64_t value;
  std::ptrdiff_t consumed;
};

TEST(TextParse, UnsignedCases) {
  const uint_case cases[] = {
      {"  ff", 16, 255, 4},
      {"12z", 10, 12, 2},
      {"z", 36, 35, 1},
      {"Zz", 36, 35 * 36 + 35, 2},
      {"18446744073709551615", 10, 18446744073709551615ULL, 20},
      // The parse stops before the digit that would overflow and keeps the value of what it read.
      {"18446744073709551616", 10, 1844674407370955161ULL, 19},
      {"99999999999999999999", 10, 9999999999999999999ULL, 19},
      {"0000000000000000000000018446744073709551615", 10, ~0ULL, 43},
      {"000000000000000000000001844674407370955161500", 10, ~0ULL, 43},
      {"1111111111111111111111111111111111111111111111111111111111111111", 2, ~0ULL, 64},
      {"11111111111111111111111111111111111111111111111111111111111111111", 2, ~0ULL, 64},
      // 2^64 - 1 written in the bases that divide it is read whole.
      {"11112220022122120101211020120210210211220", 3, ~0ULL, 41},
      {"2214220303114400424121122430", 5, ~0ULL, 28},
      {"2c1d56b648c6cd110", 15, ~0ULL, 17},
      {"67979g60f5428010", 17, ~0ULL, 16},
      {"ffffffffffffffff", 16, ~0ULL, 16},
      {"10000000000000000", 16, 0x1000000000000000ULL, 16},
      {"3w5e11264sgsf", 36, ~0ULL, 13},
      {"3w5e11264sgsg", 36, 512409557603043100ULL, 12},
      {"0x1f", 16, 0, 1},  // no 0x prefix
      {"-5", 10, 0, 0},    // no sign
      {"\v5", 10, 0, 0},
      {" \t\r\n7", 8, 7, 5},
      {"  ", 10, 0, 2},    // white space counts as consumed
      {"8", 8, 0, 0},
      {"", 10, 0, 0},
      {"\xb2", 10, 0, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    const char* end = nullptr;
    EXPECT_EQ(brol_parse_uint(c.text, &end, c.base), c.value);
    EXPECT_EQ(end - c.text, c.consumed);
    EXPECT_EQ(brol_parse_uint(c.text, nullptr, c.base), c.value);
  }
}

TEST(TextParse, BadBaseConsumesNothing) {
  const char* text = " -12";
  for (int base : {-1, 0, 1, 37, 100}) {
    SCOPED_TRACE(base);
    const char* end = nullptr;
    EXPECT_EQ(brol_parse_uint(text, &end, base), 0U);
    EXPECT_EQ(end, text);
    end = nullptr;
    EXPECT_EQ(brol_parse_int(text, &end, base), 0);
    EXPECT_EQ(end, text);
    end = nullptr;
    EXPECT_EQ(brol_parse_uint_n(text + 2, &end, 5, base), 0U);
    EXPECT_EQ(end, text + 2);
    end = nullptr;
    EXPECT_EQ(brol_parse_int_n(text + 1, &end, 5, base), 0);
    EXPECT_EQ(end, text + 1);
  }
  const char* end = "x";
  EXPECT_EQ(brol_parse_uint(nullptr, &end, 10), 0U);
  EXPECT_EQ(end, nullptr);
  EXPECT_EQ(brol_parse_int_n(nullptr, nullptr, 3, 10), 0);
}

struct int_case {
  const char* text;
  int base;
  std::int64_t value;
  std::ptrdiff_t consumed;
};

TEST(TextParse, SignedCases) {
  const int_case cases[] = {
      {" -42x", 10, -42, 4},
      {"+7", 10, 7, 2},
      {"-", 10, 0, 1},
      {"- 12", 10, -12, 4},
      {"\n+\t0", 10, 0, 4},
      {"9223372036854775807", 10, INT64_MAX, 19},
      {"9223372036854775808", 10, 922337203685477580LL, 18},
      {"-9223372036854775808", 10, INT64_MIN, 20},
      {"-9223372036854775809", 10, -922337203685477580LL, 19},
      {"-8000000000000000", 16, INT64_MIN, 17},
      {"7fffffffffffffff0", 16, INT64_MAX, 16},
      {"-0000000000000000000000000000009223372036854775808", 10, INT64_MIN, 50},
      {"--1", 10, 0, 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    const char* end = nullptr;
    EXPECT_EQ(brol_parse_int(c.text, &end, c.base), c.value);
    EXPECT_EQ(end - c.text, c.consumed);
  }
}

// A random number text of base: optional white space, digits in either case (some with leading
// zeros, some long enough to overflow), then a byte that is no digit of the base.
std::string random_number(std::mt19937_64& rng, int base, bool with_sign) {
  static const char* const k_space[] = {"", " ", "\t", "\n", "\r", " \r\n\t"};
  std::string text = k_space[rng() % 6];
  if (with_sign) {
    text += "+-"[rng() % 3 % 2];
    if (rng() % 3 == 0) text.pop_back();
  }
  const std::size_t length = 1 + rng() % (rng() % 4 == 0 ? 70 : 20);
  for (std::size_t i = 0; i < length; ++i) {
    const char d = k_digits[rng() % static_cast<unsigned>(base)];
    text += rng() % 2 == 0 ? d : static_cast<char>(std::toupper(static_cast<unsigned char>(d)));
  }
  text += ",. ;/"[rng() % 5];
  return text;
}

// strtoull and the parser agree on every number in range. Where strtoull reports ERANGE, the parser
// stops before a digit: then what it read must be in range and one digit more must not be.
TEST(TextParse, UnsignedAgreesWithStrtoull) {
  std::mt19937_64 rng(6);
  for (int base = 2; base <= 36; ++base) {
    for (int i = 0; i < 400; ++i) {
      const std::string text = random_number(rng, base, false);
      SCOPED_TRACE(testing::Message() << "base " << base << " text '" << text << "'");
      const char* end = nullptr;
      const std::uint64_t value = brol_parse_uint(text.c_str(), &end, base);
      errno = 0;
      char* ref_end = nullptr;
      const unsigned long long ref = std::strtoull(text.c_str(), &ref_end, base);
      if (errno != ERANGE) {
        ASSERT_EQ(value, ref);
        ASSERT_EQ(end, ref_end);
        continue;
      }
      const std::string read(text.c_str(), end);
      errno = 0;
      ASSERT_EQ(std::strtoull(read.c_str(), nullptr, base), value);
      ASSERT_EQ(errno, 0);
      const std::string one_more(text.c_str(), end + 1);
      std::strtoull(one_more.c_str(), nullptr, base);
      ASSERT_EQ(errno, ERANGE);
    }
  }
}

TEST(TextParse, SignedAgreesWithStrtoll) {
  std::mt19937_64 rng(64);
  for (int base = 2; base <= 36; ++base) {
    for (int i = 0; i < 400; ++i) {
      const std::string text = random_number(rng, base, true);
      SCOPED_TRACE(testing::Message() << "base " << base << " text '" << text << "'");
      const char* end = nullptr;
      const std::int64_t value = brol_parse_int(text.c_str(), &end, base);
      errno = 0;
      char* ref_end = nullptr;
      const long long ref = std::strtoll(text.c_str(), &ref_end, base);
      if (errno != ERANGE) {
        ASSERT_EQ(value, ref);
        ASSERT_EQ(end, ref_end);
        continue;
      }
      const std::string read(text.c_str(), end);
      errno = 0;
      ASSERT_EQ(std::strtoll(read.c_str(), nullptr, base), value);
      ASSERT_EQ(errno, 0);
      ASSERT_EQ((value < 0), (ref < 0));  // the sign never flips
      const std::string one_more(text.c_str(), end + 1);
      std::strtoll(one_more.c_str(), nullptr, base);
      ASSERT_EQ(errno, ERANGE);
    }
  }
}

// The counted forms read exactly what the uncounted ones read from the text cut after n bytes.
TEST(TextParse, CountedFormsEqualParsingTheCutText) {
  const char* texts[] = {"12345", "-12345", "+ff", "18446744073709551615", "-9223372036854775808", "7z", "-", ""};
  for (const char* text : texts) {
    const auto length = static_cast<std::int64_t>(std::strlen(text));
    for (std::int64_t n = -1; n <= length + 1; ++n) {
      for (int base : {10, 16, 36}) {
        SCOPED_TRACE(testing::Message() << text << " n " << n << " base " << base);
        const std::string cut(text, static_cast<std::size_t>(n < 0 ? 0 : std::min(n, length)));
        const char* cut_end = nullptr;
        const char* end = nullptr;
        EXPECT_EQ(brol_parse_uint_n(text, &end, n, base), brol_parse_uint(cut.c_str(), &cut_end, base));
        EXPECT_EQ(end - text, cut_end - cut.c_str());
        EXPECT_EQ(brol_parse_int_n(text, &end, n, base), brol_parse_int(cut.c_str(), &cut_end, base));
        EXPECT_EQ(end - text, cut_end - cut.c_str());
      }
    }
  }
  const char* end = nullptr;
  EXPECT_EQ(brol_parse_int_n("-1234", &end, 3, 10), -12);
  EXPECT_EQ(brol_parse_uint_n(" 5", &end, 2, 10), 0U);  // no white space is skipped
  EXPECT_EQ(brol_parse_int_n("- 5", &end, 3, 10), 0);
}

TEST(TextParse, CountedHex) {
  EXPECT_EQ(brol_parse_hex("1aG", 4), 26U);
  EXPECT_EQ(brol_parse_hex("ffffffff1", 9), 4294967281U);
  EXPECT_EQ(brol_parse_hex("0x10", 4), 0U);
  EXPECT_EQ(brol_parse_hex(" 1", 2), 0U);
  EXPECT_EQ(brol_parse_hex("12", 0), 0U);
  EXPECT_EQ(brol_parse_hex("12", -1), 0U);
  EXPECT_EQ(brol_parse_hex(nullptr, 3), 0U);
  // Every cut of a long digit run gives the low 32 bits of strtoull's value of the cut text.
  const char* digits = "0123456789abcdefABCDEF";
  for (std::int16_t n = 0; n <= 17; ++n) {
    SCOPED_TRACE(n);
    const std::string cut(digits, static_cast<std::size_t>(n));
    EXPECT_EQ(brol_parse_hex(digits + 6, n), static_cast<std::uint32_t>(std::strtoull(std::string(digits + 6, static_cast<std::size_t>(n)).c_str(), nullptr, 16)));
  }
}

struct escape_case {
  const char* text;
  char value;
  std::int64_t used;
};

TEST(TextParse, UnescapeKinds) {
  const escape_case cases[] = {
      {"A", 'A', 1},        {"\xfc", '\xfc', 1}, {"\\a", 7, 2},       {"\\b", 8, 2},
      {"\\e", 27, 2},       {"\\f", 12, 2},      {"\\n", 10, 2},      {"\\r", 13, 2},
      {"\\t", 9, 2},        {"\\v", 11, 2},      {"\\101", 65, 4},    {"\\1018", 65, 4},
      {"\\0", 0, 2},        {"\\777", '\xff', 4}, {"\\400", 0, 4},    {"\\8", '8', 2},
      {"\\x41", 65, 4},     {"\\x4", 4, 3},      {"\\xg", 'x', 2},    {"\\xFf0", '\xff', 4},
      {"\\i101", 5, 5},     {"\\i2", 'i', 2},    {"\\i111111111", '\xff', 10}, {"\\i100000000", '\x80', 10},
      {"\\q", 'q', 2},      {"\\\\", '\\', 2},   {"\\\"", '"', 2},    {"\\", '\\', 1},
      {"", 0, 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    std::int64_t used = -1;
    EXPECT_EQ(brol_unescape(c.text, &used), c.value);
    EXPECT_EQ(used, c.used);
    EXPECT_EQ(brol_unescape(c.text, nullptr), c.value);
  }
  std::int64_t used = -1;
  EXPECT_EQ(brol_unescape(nullptr, &used), 0);
  EXPECT_EQ(used, 0);
}

// Every cut of every digit run, the cut made by the NUL or by a non-digit: the run reads up to its
// maximum, never past the cut, and its value is strtoul's of the digits read, modulo 256.
TEST(TextParse, UnescapeDigitRunCuts) {
  struct run_kind {
    const char* prefix;  // escape bytes before the digits
    const char* digits;  // a run longer than the maximum
    int max;
    int base;
    char alone;     // the result without digits
    char non_digit;  // the byte just past the kind's digits
  };
  const run_kind kinds[] = {
      {"\\", "7654321", 3, 8, 0, '8'}, {"\\x", "fA9", 2, 16, 'x', 'g'}, {"\\i", "1011011101", 8, 2, 'i', '2'}};
  for (const auto& kind : kinds) {
    const auto prefix_length = static_cast<std::int64_t>(std::strlen(kind.prefix));
    const int run = static_cast<int>(std::strlen(kind.digits));
    for (int k = 0; k <= run; ++k) {
      for (const char cut : {'\0', 'z', kind.non_digit}) {
        // The bytes after the cut are digits again, so reading past it shows in the result.
        std::string text = std::string(kind.prefix) + std::string(kind.digits, static_cast<std::size_t>(k));
        text += cut;
        text += kind.digits;
        SCOPED_TRACE(testing::Message() << kind.prefix << " k " << k << " cut " << int{cut});
        const int read = std::min(k, kind.max);
        std::int64_t used = -1;
        const char value = brol_unescape(text.c_str(), &used);
        if (read == 0 && kind.alone == 0) {
          continue;  // a backslash before a non-digit is another kind of escape
        }
        EXPECT_EQ(used, prefix_length + read);
        const std::string digits(kind.digits, static_cast<std::size_t>(read));
        const char expected = read == 0 ? kind.alone : static_cast<char>(std::strtoul(digits.c_str(), nullptr, kind.base) & 0xff);
        EXPECT_EQ(value, expected);
      }
    }
  }
}

}  // namespace
