// The integer pieces of brol_format_digits.h against the C++ library's std::to_chars and the C
// library's snprintf: digit counts and digits at every power of ten and its neighbours and at the
// 64-bit limits, in every base; digits made in a register and stored or blended by their count.
#include <gtest/gtest.h>

#include <cctype>
#include <charconv>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "brol/format/brol_format.h"
#include "brol/format/brol_format_digits.h"

namespace {

using namespace brol::detail;

// The engine's entry over the one-integer list {code, size code, value, end}, built at run time as a
// caller with a code chosen at run time builds it.
std::int64_t one_integer_list(char* destination, std::int64_t size, bool is_signed, brol_item size_code,
                              std::uint64_t raw) {
  const brol_item rest[] = {size_code, raw, brol_fmt_end};
  return brol_vformat(destination, size, is_signed ? brol_item{brol_fmt_int} : brol_item{brol_fmt_uint},
                      brol_fmt_cursor{rest, rest + 3});
}

// Powers of `base` that fit 64 bits, each with its neighbours, and the limits of the integer types.
std::vector<std::uint64_t> boundaries(unsigned base) {
  std::vector<std::uint64_t> v = {0,          1,         2,          UINT32_MAX - 1ULL, UINT32_MAX,
                                  1ULL << 32, INT64_MAX, 1ULL << 63, UINT64_MAX - 1,    UINT64_MAX};
  for (std::uint64_t p = base;; p *= base) {
    v.insert(v.end(), {p - 1, p, p + 1});
    if (p > UINT64_MAX / base) break;
  }
  return v;
}

std::string reference(std::uint64_t v, unsigned base) {
  char text[72];
  const auto r = std::to_chars(text, text + sizeof text, v, static_cast<int>(base));
  return std::string(text, r.ptr);
}

TEST(BrolFormatDigits, CountsInEveryBaseAgreeWithToChars) {
  for (unsigned base = 2; base <= 36; ++base) {
    for (const std::uint64_t v : boundaries(base)) {
      EXPECT_EQ(static_cast<std::size_t>(digit_count(v, base)), reference(v, base).size())
          << "base " << base << " value " << v;
    }
  }
  for (const std::uint64_t v : boundaries(10)) {
    EXPECT_EQ(static_cast<std::size_t>(decimal_digits(v)), reference(v, 10).size()) << v;
  }
}

// write_decimal stores exactly n bytes, also when n asks for leading zeros (up to 20 digits).
TEST(BrolFormatDigits, DecimalDigitsAtPowersOfTenAndLimits) {
  std::vector<std::uint64_t> values = boundaries(10);
  std::mt19937_64 rng(5);
  for (int i = 0; i < 20000; ++i) values.push_back(rng() >> (rng() % 64));
  for (const std::uint64_t v : values) {
    const std::string expected = reference(v, 10);
    for (int n = decimal_digits(v); n <= 20; ++n) {
      char buffer[32];
      std::memset(buffer, 'x', sizeof buffer);
      write_decimal(buffer + 4, v, n);
      char padded[32];
      std::snprintf(padded, sizeof padded, "%0*" PRIu64, n, v);
      ASSERT_EQ(std::string(buffer + 4, static_cast<std::size_t>(n)), padded) << v << " in " << n;
      ASSERT_EQ(std::string(buffer, 4), "xxxx") << v << " in " << n;
      ASSERT_EQ(std::string(buffer + 4 + n, static_cast<std::size_t>(28 - n)),
                std::string(static_cast<std::size_t>(28 - n), 'x'))
          << v << " in " << n;
      if (n == decimal_digits(v)) {
        ASSERT_EQ(std::string(padded), expected);
      }
    }
  }
}

// The multiplications that split eight digits hold for every lane value: all values below 10^5 and
// every value next to a multiple of 10^4 (where the halves and pairs carry over).
TEST(BrolFormatDigits, EightDigitsInOneWord) {
  const auto check = [](std::uint64_t x) {
    const std::uint64_t word = eight_digits(x);
    char text[9];
    std::snprintf(text, sizeof text, "%08" PRIu64, x);
    return std::memcmp(&word, text, 8) == 0;
  };
  for (std::uint64_t x = 0; x < 100000; ++x) ASSERT_TRUE(check(x)) << x;
  for (std::uint64_t x = 10000; x < 100000000; x += 10000) {
    for (const std::uint64_t y : {x - 1, x, x + 99, x + 100, x + 9999}) ASSERT_TRUE(check(y)) << y;
  }
}

// Blending stores the sign, the digits and the NUL and leaves every other byte of the 16 as it was.
TEST(BrolFormatDigits, BlendedDigitsKeepTheBytesAfterThem) {
  for (const std::uint64_t v : boundaries(10)) {
    if (v >= 10000000000ULL) continue;
    for (int length = decimal_digits(v); length <= 10; ++length) {
      for (const int has_sign : {0, 1}) {
        for (const bool terminate : {false, true}) {
          char buffer[16];
          std::memset(buffer, 'x', sizeof buffer);
          const int n = blend_decimal(buffer, v, length, has_sign, '+', terminate);
          char expected[24];
          std::snprintf(expected, sizeof expected, "%s%0*" PRIu64, has_sign ? "+" : "", length, v);
          std::string want(expected);
          ASSERT_EQ(n, static_cast<int>(want.size()));
          if (terminate) want.push_back('\0');
          want.append(16 - want.size(), 'x');
          ASSERT_EQ(std::string(buffer, 16), want) << v << " length " << length << " sign " << has_sign;
        }
      }
    }
  }
}

TEST(BrolFormatDigits, HexadecimalInEveryPositionAndCase) {
  std::vector<std::uint64_t> values = boundaries(16);
  for (int shift = 0; shift < 64; shift += 4) {
    values.push_back(0x0123456789ABCDEFULL << shift | 0x0123456789ABCDEFULL >> (64 - shift) % 64);
    values.push_back(0xFEDCBA9876543210ULL >> shift);
  }
  for (const std::uint64_t v : values) {
    for (const bool lower : {false, true}) {
      char text[17];
      write_16_hex(text, v, lower);
      char expected[17];
      std::snprintf(expected, sizeof expected, lower ? "%016" PRIx64 : "%016" PRIX64, v);
      ASSERT_EQ(std::string(text, 16), expected) << v;
    }
  }
}

// Powers of two other than 16 and lengths past 16 take the shifting loop; both fill to the length.
TEST(BrolFormatDigits, PowersOfTwoFillTheirLength) {
  for (const unsigned base : {2U, 4U, 8U, 16U, 32U}) {
    const auto shift = static_cast<unsigned>(std::countr_zero(base));
    for (const std::uint64_t v : boundaries(base)) {
      std::string digits = reference(v, base);
      for (char& c : digits) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
      for (auto length = static_cast<std::int64_t>(digits.size()); length <= 70; length += 3) {
        std::string buffer(80, 'x');
        write_power_of_two(buffer.data() + 2, v, length, shift, k_upper_digits);
        const std::string want = std::string(static_cast<std::size_t>(length) - digits.size(), '0') + digits;
        ASSERT_EQ(buffer.substr(2, static_cast<std::size_t>(length)), want) << "base " << base << " " << v;
        ASSERT_EQ(buffer.substr(0, 2), "xx");
        ASSERT_EQ(buffer.find_first_not_of('x', static_cast<std::size_t>(2 + length)), std::string::npos);
      }
    }
  }
}

// The engine's integers in every base, with least digit counts and grouping, at the boundaries: the
// digits are to_chars' (upper case), the zeros and separators laid out as the engine's rules say.
TEST(BrolFormatDigits, EngineIntegerPartsInEveryBase) {
  for (unsigned base = 2; base <= 36; ++base) {
    for (const std::uint64_t v : boundaries(base)) {
      std::string digits = reference(v, base);
      for (char& c : digits) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
      for (const std::int64_t min_digits : {1, 8, 23}) {
        for (const char group : {'\0', ','}) {
          std::string want = digits;
          if (static_cast<std::int64_t>(want.size()) < min_digits)
            want.insert(0, static_cast<std::size_t>(min_digits) - want.size(), '0');
          if (group != 0) {
            for (auto at = static_cast<std::int64_t>(want.size()) - 3; at > 0; at -= 3)
              want.insert(static_cast<std::size_t>(at), 1, group);
          }
          char buffer[128];
          const std::int64_t n = brol_format(buffer, sizeof buffer, brol_fmt_base, base, brol_fmt_digits, min_digits,
                                             brol_fmt_group, group, brol_fmt_uint, 8, v, brol_fmt_end);
          ASSERT_EQ(std::string(buffer), want) << "base " << base << " value " << v;
          ASSERT_EQ(n, static_cast<std::int64_t>(want.size()));
        }
      }
    }
  }
}

// The one-integer list at every buffer size around the 16 bytes that the blend needs, for the
// limits of every size code, signed and unsigned, against snprintf's text and cut.
TEST(BrolFormatDigits, OneIntegerAtEveryBufferSize) {
  const std::int64_t values[] = {0,         9,         10,           -10,           999999999, 1000000000, -1000000000,
                                 INT32_MAX, INT32_MIN, 9999999999LL, 10000000000LL, INT64_MAX, INT64_MIN,  -1};
  for (const brol_item size_code : {1ULL, 2ULL, 4ULL, 8ULL}) {
    for (const std::int64_t value : values) {
      const unsigned bits = static_cast<unsigned>(size_code) * 8;
      const auto raw = static_cast<std::uint64_t>(value);
      const std::uint64_t low = bits == 64 ? raw : raw & ((1ULL << bits) - 1);
      const std::int64_t as_signed = bits == 64 ? value : static_cast<std::int64_t>(low << (64 - bits)) >> (64 - bits);
      for (const bool is_signed : {true, false}) {
        char expected[32];
        if (is_signed) {
          std::snprintf(expected, sizeof expected, "%" PRId64, as_signed);
        } else {
          std::snprintf(expected, sizeof expected, "%" PRIu64, low);
        }
        for (std::int64_t size = 0; size <= 40; ++size) {
          char buffer[48];
          std::memset(buffer, 'x', sizeof buffer);
          const std::int64_t n =
              one_integer_list(buffer, size, is_signed, size_code, raw);
          ASSERT_EQ(n, static_cast<std::int64_t>(std::strlen(expected)));
          char cut[48];
          std::memset(cut, 'x', sizeof cut);
          if (size > 0) std::snprintf(cut, static_cast<std::size_t>(size), "%s", expected);
          ASSERT_EQ(std::string(buffer, sizeof buffer), std::string(cut, sizeof cut))
              << value << " size code " << size_code << " buffer " << size;
          // In a heap block of exactly `size` bytes, where AddressSanitizer sees any access past it.
          if (size > 0) {
            const auto exact = std::make_unique<char[]>(static_cast<std::size_t>(size));
            one_integer_list(exact.get(), size, is_signed, size_code, raw);
            ASSERT_STREQ(exact.get(), cut);
          }
        }
      }
    }
  }
}

// The one-integer piece stores the text by size classes, each class into the destination only when
// the text reaches it: every digit count with and without sign (powers of ten and their neighbours,
// negated too), each size code, through the engine's entry and called directly, at every buffer size
// around the text's, in a buffer whose bytes after the terminator must stay as they were.
TEST(BrolFormatDigits, OneIntegerOfEveryLengthKeepsTheBytesAfterIt) {
  std::vector<std::int64_t> values;
  for (const std::uint64_t v : boundaries(10)) {
    values.push_back(static_cast<std::int64_t>(v));
    values.push_back(static_cast<std::int64_t>(0 - v));
  }
  for (const brol_item size_code : {1ULL, 2ULL, 4ULL, 8ULL}) {
    const unsigned bits = static_cast<unsigned>(size_code) * 8;
    for (const std::int64_t value : values) {
      const auto raw = static_cast<std::uint64_t>(value);
      const std::uint64_t low = bits == 64 ? raw : raw & ((1ULL << bits) - 1);
      const std::int64_t as_signed = bits == 64 ? value : static_cast<std::int64_t>(low << (64 - bits)) >> (64 - bits);
      for (const bool is_signed : {true, false}) {
        char expected[32];
        if (is_signed) {
          std::snprintf(expected, sizeof expected, "%" PRId64, as_signed);
        } else {
          std::snprintf(expected, sizeof expected, "%" PRIu64, low);
        }
        const auto length = static_cast<std::int64_t>(std::strlen(expected));
        for (std::int64_t size = 0; size <= length + 2; ++size) {
          char cut[40];
          std::memset(cut, '#', sizeof cut);
          if (size > 0) std::snprintf(cut, static_cast<std::size_t>(size), "%s", expected);
          for (const bool direct : {false, true}) {
            char buffer[40];
            std::memset(buffer, '#', sizeof buffer);
            const std::int64_t n = direct ? format_one_integer(buffer, size, is_signed, size_code, raw)
                                          : one_integer_list(buffer, size, is_signed, size_code, raw);
            ASSERT_EQ(n, length) << expected;
            ASSERT_EQ(std::string(buffer, sizeof buffer), std::string(cut, sizeof cut))
                << expected << " size code " << size_code << " buffer " << size << (direct ? " direct" : "");
          }
          if (size > 0) {
            const auto exact = std::make_unique<char[]>(static_cast<std::size_t>(size));
            format_one_integer(exact.get(), size, is_signed, size_code, raw);
            ASSERT_STREQ(exact.get(), cut);
          }
        }
      }
    }
  }
}

// Integers laid out in a field, which the engine blends in with their pad where 16 bytes follow, at
// every width around that limit: the text is printf's, in a buffer with room to spare and in one of
// exactly the text's size (where nothing may be blended).
TEST(BrolFormatDigits, PaddedIntegersAgreeWithPrintf) {
  struct layout {
    brol_item align;
    const char* format;  // printf's conversion for it: width, then value
    bool plus;
    bool hex;
  };
  const layout layouts[] = {
      {brol_fmt_right, "%*" PRId64, false, false}, {brol_fmt_left, "%-*" PRId64, false, false},
      {brol_fmt_right, "%+*" PRId64, true, false}, {brol_fmt_right, "%*" PRIx64, false, true},
      {brol_fmt_left, "%-*" PRIx64, false, true},
  };
  const std::int64_t values[] = {0, 7, -7, 99999, -100000, 999999999, 1000000000, INT32_MAX, INT32_MIN, -1};
  for (const layout& l : layouts) {
    for (const std::int64_t value : values) {
      if (l.hex && value < 0) continue;
      for (int width = 0; width <= 20; ++width) {
        char expected[64];
        std::snprintf(expected, sizeof expected, l.format, width, value);
        const auto length = static_cast<std::int64_t>(std::strlen(expected));
        // Items one by one: GCC 12 at -O3 warns of bounds it cannot see through when a list is inserted.
        std::vector<brol_item> list = {l.align, static_cast<brol_item>(width)};
        if (l.plus) list.push_back(brol_fmt_plus);
        const brol_item hex[] = {brol_fmt_base, 16, brol_fmt_lower};
        if (l.hex)
          for (const brol_item item : hex) list.push_back(item);
        const brol_item rest[] = {brol_fmt_int, 8, static_cast<brol_item>(value), to_item("|"), brol_fmt_end};
        for (const brol_item item : rest) list.push_back(item);
        for (const std::int64_t size : {std::int64_t{64}, length + 2}) {
          std::string buffer(80, 'x');
          const std::int64_t n =
              brol_vformat(buffer.data(), size, list[0], brol_fmt_cursor{list.data() + 1, list.data() + list.size()});
          ASSERT_EQ(n, length + 1);
          ASSERT_EQ(buffer.substr(0, static_cast<std::size_t>(n) + 1), std::string(expected) + "|" + '\0')
              << l.format << " width " << width << " value " << value << " size " << size;
          ASSERT_EQ(buffer.find_first_not_of('x', static_cast<std::size_t>(size)), std::string::npos);
          const auto exact = std::make_unique<char[]>(static_cast<std::size_t>(size));
          brol_vformat(exact.get(), size, list[0], brol_fmt_cursor{list.data() + 1, list.data() + list.size()});
          ASSERT_EQ(exact.get(), std::string(expected) + "|");
        }
      }
    }
  }
}

}  // namespace
