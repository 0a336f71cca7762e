// The pieces a table row goes through, against models built from snprintf: grouped decimal integers
// at every digit count, sign and least digit count, and texts left-aligned in a column at every
// length, width and room left, each at every buffer size, planned and unplanned, with the bytes past
// the terminator left as they were and nothing read or written past the buffer's end.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <algorithm>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "brol/format/brol_format.h"
#include "brol_format_check.h"

namespace {

using brol_format_check::format_unplanned;

constexpr std::int64_t k_buffer = 96;

// `format(destination, size)` at every size from 0 to 96 (and a null destination)
// against `want`: the result is the uncut length, the buffer holds the first size - 1 characters and
// the terminator, and nothing after the terminator is touched.
template <class Format>
void expect_cut(const std::string& want, Format format) {
  ASSERT_EQ(format(nullptr, 0), static_cast<std::int64_t>(want.size()));
  for (std::int64_t size = 0; size <= k_buffer; ++size) {
    char buffer[k_buffer];
    std::memset(buffer, 'x', sizeof buffer);
    ASSERT_EQ(format(buffer, size), static_cast<std::int64_t>(want.size())) << "size " << size;
    const std::size_t kept = size == 0 ? 0 : std::min(want.size(), static_cast<std::size_t>(size - 1));
    std::string expected = want.substr(0, kept);
    if (size > 0) expected += '\0';
    expected.append(static_cast<std::size_t>(k_buffer) - expected.size(), 'x');
    ASSERT_EQ(std::string(buffer, sizeof buffer), expected) << "size " << size;
    // In a buffer of just `size` bytes, where the sanitizers see any access past its end.
    std::vector<char> exact(static_cast<std::size_t>(size));
    ASSERT_EQ(format(exact.data(), size), static_cast<std::int64_t>(want.size())) << "size " << size;
    if (size > 0) {
      ASSERT_EQ(std::string(exact.data()), want.substr(0, kept)) << "size " << size;
    }
  }
}

// The model of a grouped integer: snprintf's digits with `min_digits` zeros at least, a separator
// before every three from the right, the sign in front.
std::string grouped_model(bool negative, bool plus, std::uint64_t magnitude, int min_digits, char separator) {
  char digits[64];
  std::snprintf(digits, sizeof digits, "%0*" PRIu64, min_digits, magnitude);
  std::string text = digits;
  for (auto at = static_cast<std::int64_t>(text.size()) - 3; at > 0; at -= 3)
    text.insert(static_cast<std::size_t>(at), 1, separator);
  if (negative) return "-" + text;
  if (plus) return "+" + text;
  return text;
}

TEST(BrolFormatRow, GroupedIntegersAtEveryDigitCount) {
  std::vector<std::uint64_t> magnitudes = {0, std::numeric_limits<std::uint64_t>::max(),
                                           static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()),
                                           static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()) + 1};
  std::uint64_t power = 1;
  for (int k = 1; k <= 19; ++k) {
    power *= 10;
    magnitudes.insert(magnitudes.end(), {power - 1, power, power + 1, power / 10 * 7 + 123});
  }
  for (const std::uint64_t magnitude : magnitudes) {
    for (const int min_digits : {1, 4, 8, 19, 20, 21, 22}) {
      for (const char separator : {',', '\'', '.'}) {
        for (const bool plus : {false, true}) {
          SCOPED_TRACE(std::to_string(magnitude) + " digits " + std::to_string(min_digits) + " '" + separator + "'" +
                       (plus ? " plus" : ""));
          // Unsigned: every 64-bit magnitude.
          const auto flags = static_cast<std::uint16_t>(plus ? brol_flag_plus : 0);
          const std::string unsigned_want = grouped_model(false, plus, magnitude, min_digits, separator);
          expect_cut(unsigned_want, [&](char* d, std::int64_t n) {
            return brol_format(d, n, brol_fmt_flags(flags), brol_fmt_digits, min_digits, brol_fmt_group, separator,
                               brol_fmt_uint, 8, magnitude, brol_fmt_end);
          });
          expect_cut(unsigned_want, [&](char* d, std::int64_t n) {
            return format_unplanned(d, n, brol_fmt_flags(flags), brol_fmt_digits, min_digits, brol_fmt_group,
                                    separator, brol_fmt_uint, 8, magnitude, brol_fmt_end);
          });
          // Signed: both signs where the magnitude is an int64's.
          if (magnitude > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()) + 1) continue;
          for (const bool negative : {false, true}) {
            if (!negative && magnitude > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) continue;
            const std::int64_t value =
                negative ? static_cast<std::int64_t>(0 - magnitude) : static_cast<std::int64_t>(magnitude);
            const std::string want = grouped_model(negative && magnitude != 0, plus, magnitude, min_digits, separator);
            expect_cut(want, [&](char* d, std::int64_t n) {
              return brol_format(d, n, brol_fmt_flags(flags), brol_fmt_digits, min_digits, brol_fmt_group, separator,
                                 brol_fmt_int, 8, value, brol_fmt_end);
            });
          }
        }
      }
    }
  }
}

// Texts of every length from 0 to 20 left-aligned in every width from 0 to 20, after a prefix that
// leaves every room around the 31 positions the blended pad needs, followed by a literal: snprintf's
// "%s%-*s|", cased or cut to a maximum length by the model where the settings ask.
TEST(BrolFormatRow, LeftTextsAtEveryLengthWidthAndRoom) {
  const std::string letters = "abcdefghijklmnopqrstu";
  for (std::size_t length = 0; length <= 20; ++length) {
    const std::string text_string = letters.substr(0, length);
    const char* text = text_string.c_str();
    for (int width = 0; width <= 20; ++width) {
      for (const std::size_t prefix_length : {std::size_t{0}, std::size_t{1}, std::size_t{9}, std::size_t{16}}) {
        const std::string prefix_string(prefix_length, '>');
        const char* prefix = prefix_string.c_str();
        SCOPED_TRACE("length " + std::to_string(length) + " width " + std::to_string(width) + " prefix " +
                     std::to_string(prefix_length));
        char want[128];
        std::snprintf(want, sizeof want, "%s%-*s|", prefix, width, text);
        expect_cut(want, [&](char* d, std::int64_t n) {
          return brol_format(d, n, prefix, brol_fmt_left, width, text, "|", brol_fmt_end);
        });
        expect_cut(want, [&](char* d, std::int64_t n) {
          return format_unplanned(d, n, prefix, brol_fmt_left, width, text, "|", brol_fmt_end);
        });
        // Settings that the blended pad must leave to the general step.
        std::string upper = text_string;
        for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        std::snprintf(want, sizeof want, "%s%-*s|", prefix, width, upper.c_str());
        expect_cut(want, [&](char* d, std::int64_t n) {
          return brol_format(d, n, prefix, brol_fmt_upper, brol_fmt_left, width, text, "|", brol_fmt_end);
        });
        std::snprintf(want, sizeof want, "%s%-*.5s|", prefix, width, text);
        expect_cut(want, [&](char* d, std::int64_t n) {
          return brol_format(d, n, prefix, brol_fmt_maxlen, 5, brol_fmt_left, width, text, "|", brol_fmt_end);
        });
      }
    }
  }
}

}  // namespace
