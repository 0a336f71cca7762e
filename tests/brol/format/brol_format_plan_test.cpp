// Lists planned at compile time against the item loop: the same list given to brol_format (planned)
// and run through brol_vformat over its items (unplanned) must give the same result and the same
// bytes at every buffer size. The engine's own tables run both ways too (EXPECT_FORMAT and
// BROL_FORMATTED); here random values, settings and size codes go through every kind of shape.
#include <gtest/gtest.h>

#include <bit>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "brol/format/brol_format.h"
#include "brol_format_check.h"

namespace {

using brol_format_check::format_unplanned;

// Both ways at every size from 0 to length + 2 and with a null destination; the buffers, including
// what lies past the size, must be equal byte for byte.
template <class... Args>
void expect_same(const std::string& trace, Args... args) {
  SCOPED_TRACE(trace);
  const std::int64_t length = brol_format(nullptr, 0, args...);
  ASSERT_EQ(length, format_unplanned(nullptr, 0, args...));
  ASSERT_EQ(brol_format(nullptr, 64, args...), length);
  ASSERT_LT(length, 1 << 16);
  for (std::int64_t size = 0; size <= length + 2; ++size) {
    std::vector<char> planned(static_cast<std::size_t>(size) + 24, '\x5A');
    std::vector<char> unplanned(planned);
    ASSERT_EQ(brol_format(planned.data(), size, args...), length) << "size " << size;
    ASSERT_EQ(format_unplanned(unplanned.data(), size, args...), length) << "size " << size;
    ASSERT_EQ(std::memcmp(planned.data(), unplanned.data(), planned.size()), 0)
        << "size " << size << ": \"" << std::string(planned.data(), std::strlen(planned.data())) << "\" against \""
        << std::string(unplanned.data(), std::strlen(unplanned.data())) << "\"";
  }
}

struct random_source {
  std::mt19937_64 rng;
  std::uint64_t next() { return rng(); }
  std::int64_t pick(std::initializer_list<std::int64_t> values) { return *(values.begin() + next() % values.size()); }
  // Values of every width and both signs.
  std::int64_t value() { return static_cast<std::int64_t>(next() >> (next() % 64)) * ((next() & 1) ? -1 : 1); }
  std::int64_t width() { return pick({-3, 0, 1, 5, 12, 17, 40}); }
  unsigned flags() { return static_cast<unsigned>(next() & 0x1F); }
  const char* text() {
    static const char* const texts[] = {"", "a", "  padded \t", "Mixed Case 123", "\xFC\xE4\xF6", "root", nullptr};
    return texts[next() % 7];
  }
};

TEST(BrolFormatPlan, IntegersUnderEverySetting) {
  random_source r{std::mt19937_64(23)};
  for (int round = 0; round < 400; ++round) {
    // An unknown size code (3, 0) is fitted to the integer value (8) both ways.
    const std::int64_t size_code = r.pick({1, 2, 3, 4, 8, 0});
    const std::int64_t v = r.value();
    const std::string trace = "round " + std::to_string(round);
    expect_same(trace, brol_fmt_int, size_code, v);
    expect_same(trace, brol_fmt_uint, size_code, v, brol_fmt_end);
    expect_same(trace, brol_fmt_right, r.width(), brol_fmt_int, size_code, v, "|");
    expect_same(trace, brol_fmt_flags(r.flags()), brol_fmt_center, r.width(), brol_fmt_digits, r.pick({-1, 0, 3, 9}),
                brol_fmt_group, static_cast<char>(r.pick({0, ',', '\''})), brol_fmt_uint, size_code, v);
    expect_same(trace, brol_fmt_base, r.pick({2, 8, 10, 16, 36, 1, 40}), brol_fmt_lower, brol_fmt_digits, 8,
                brol_fmt_uint, 4, static_cast<std::uint32_t>(v), brol_fmt_again, brol_fmt_int, size_code, v);
    expect_same(trace, brol_fmt_maxlen, r.pick({0, 2, 3, 5}), brol_fmt_flags(r.flags()), brol_fmt_left, r.width(),
                brol_fmt_int, 8, v, brol_fmt_column, r.width(), r.width(), brol_fmt_plus, brol_fmt_int, size_code, v);
  }
}

TEST(BrolFormatPlan, LogLinesRowsAndTexts) {
  random_source r{std::mt19937_64(24)};
  for (int round = 0; round < 300; ++round) {
    const std::string trace = "round " + std::to_string(round);
    const auto i32 = static_cast<std::int32_t>(r.value());
    const double d = static_cast<double>(r.value() % 2000001) / 7.0;
    expect_same(trace, "[", brol_fmt_int, 4, i32, "] user ", brol_fmt_right, r.width(), r.text(), " took ",
                brol_fmt_frac, r.pick({0, 1, 2, 6}), r.pick({0, 2, 4}), brol_fmt_float, 8, d, " ms\n", brol_fmt_end);
    expect_same(trace, brol_fmt_left, r.width(), r.text(), brol_fmt_left, r.width(), r.text(), brol_fmt_left, r.width(),
                r.text(), brol_fmt_group, ',', brol_fmt_int, 8, r.value());
    expect_same(trace, brol_fmt_flags(r.flags()), r.text(), r.text(), brol_fmt_again, brol_fmt_flags(r.flags()),
                brol_fmt_maxlen, r.pick({0, 1, 3, 4, 8}), brol_fmt_right, r.width(), r.text(), brol_fmt_again,
                r.text());
    expect_same(trace, brol_fmt_trim, brol_fmt_center, r.width(), brol_fmt_strn, r.text(), r.pick({-1, 0, 3, 100}),
                brol_fmt_mem, "a\0b", r.pick({0, 3}), brol_fmt_upper, brol_fmt_char, static_cast<int>(r.next() & 0xFF),
                brol_fmt_code<1030>{}, brol_fmt_swapcase, r.text(), brol_fmt_right, 4);
  }
}

TEST(BrolFormatPlan, OtherNumbers) {
  random_source r{std::mt19937_64(25)};
  const std::int32_t pair32[2] = {-7, 3};
  const std::int64_t pair64[2] = {std::numeric_limits<std::int64_t>::min(), -1};
  const std::int64_t zero_pair[2] = {5, 0};
  const long double extended = -1234.5678L;
  for (int round = 0; round < 300; ++round) {
    const std::string trace = "round " + std::to_string(round);
    const double d = static_cast<double>(r.value()) / static_cast<double>(r.pick({1, 3, 1024, 1000000}));
    // Size codes that do not fit their values are fitted to them both ways.
    const std::int64_t float_size = r.pick({4, 8, 3, 16});
    const std::int64_t fixed_size = r.pick({4, 8, 2});
    const double float_value = d;
    const std::int64_t fixed_value = r.value();
    expect_same(trace, brol_fmt_column, r.width(), r.width(), brol_fmt_float, float_size, float_value, "|",
                brol_fmt_group_point, r.pick({'.' << 8 | ',', ',' << 8 | '.', 0}), brol_fmt_frac, r.pick({0, 1, 3}),
                r.pick({0, 4, 30}), brol_fmt_float, 8, d);
    expect_same(trace, brol_fmt_base, r.pick({2, 10, 16}), brol_fmt_float, 16, &extended, brol_fmt_point, ',',
                brol_fmt_float, 16, nullptr);
    expect_same(trace, brol_fmt_flags(r.flags()), brol_fmt_fixed, fixed_size, fixed_value, brol_fmt_digits, 3,
                brol_fmt_ratio, r.pick({8, 5, 16}), pair32, brol_fmt_ratio, 16, (r.next() & 1) ? pair64 : zero_pair,
                brol_fmt_right, r.width(), brol_fmt_ratio, 8, nullptr);
  }
}

}  // namespace
