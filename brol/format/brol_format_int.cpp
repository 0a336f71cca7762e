// The integer conversions and the number pieces every number conversion shares: digits, the
// integer part with grouping and least digit count, and the sign.
#include <array>
#include <bit>
#include <cstring>
#include <limits>

#include "brol/format/brol_format_digits.h"

void brol_conv_int(brol_format_state* state, brol_fmt_cursor* cursor, char* destination, std::int64_t count) {
  brol::detail::int_text number;
  brol::detail::int_measure(state, cursor, true, &number);
  if (destination != nullptr) brol::detail::int_write(state, number, destination, count);
}

void brol_conv_uint(brol_format_state* state, brol_fmt_cursor* cursor, char* destination, std::int64_t count) {
  brol::detail::int_text number;
  brol::detail::int_measure(state, cursor, false, &number);
  if (destination != nullptr) brol::detail::int_write(state, number, destination, count);
}

namespace brol::detail {

char digit_char(const brol_format_state* state, unsigned d) noexcept {
  if (d < 10) return static_cast<char>('0' + d);
  return static_cast<char>(((state->flags & brol_flag_lower) ? 'a' : 'A') + d - 10);
}

std::int64_t int_part_length(const brol_format_state* state, std::uint64_t magnitude) noexcept {
  return int_part_length_of(state, digit_count(magnitude, format_base(state)));
}

namespace {

// The digits of v without grouping, the last one just before `end`; returns where the first stands.
char* write_digits(std::uint64_t v, unsigned base, char* end, const char* chars) noexcept {
  if (base == 10) {
    const int digits = decimal_digits(v);
    write_decimal(end - digits, v, digits);
    return end - digits;
  }
  if ((base & (base - 1)) == 0) {
    const int digits = digit_count(v, base);
    write_power_of_two(end - digits, v, digits, static_cast<unsigned>(std::countr_zero(base)), chars);
    return end - digits;
  }
  do {
    *--end = chars[v % base];
    v /= base;
  } while (v != 0);
  return end;
}

// The grouped integer part from the right end: a separator after every three digits, '0' once the
// value is used up. Base is a constant where the caller knows it (0: take `base`), so that the common
// decimal case divides by a constant.
template <unsigned Fixed>
void write_grouped(std::uint64_t v, unsigned base, char* begin, char* end, const char* chars, char separator) noexcept {
  const unsigned b = Fixed != 0 ? Fixed : base;
  for (int in_group = 0; end > begin; ++in_group) {
    if (in_group == 3) {
      *--end = separator;
      in_group = -1;
      continue;
    }
    *--end = chars[v % b];
    v /= b;
  }
}

// 0 to 999 as three digits in bytes 1 to 3 of four; byte 0 is left for the separator.
struct digit_triple {
  char c[4];
};
constexpr auto k_digit_triples = [] {
  std::array<digit_triple, 1000> t{};
  for (unsigned i = 0; i < 1000; ++i) {
    t[i].c[1] = static_cast<char>('0' + i / 100);
    t[i].c[2] = static_cast<char>('0' + i / 10 % 10);
    t[i].c[3] = static_cast<char>('0' + i % 10);
  }
  return t;
}();

// Seven groups with their separators: 21 digits, more than any 64-bit value has.
constexpr std::int64_t k_grouped_line = 28;

// The grouped decimal integer part of `length` (at most 27) characters, '0' before the value's
// digits: the seven groups of three are split off without a loop (two divisions by 10^9, then
// 32-bit ones), laid out with a separator before each in a fixed line, and the line's last `length`
// characters copied. No branch on the digit count but the copy's.
void write_grouped_decimal(std::uint64_t v, std::int64_t length, char* destination, char separator) noexcept {
  const std::uint64_t high = v / 1000000000;
  const auto low = static_cast<std::uint32_t>(v - high * 1000000000);
  const auto middle = static_cast<std::uint32_t>(high % 1000000000);
  const auto top = static_cast<std::uint32_t>(high / 1000000000);  // at most 18
  const std::uint32_t groups[7] = {low % 1000,    low / 1000 % 1000,    low / 1000000, middle % 1000,
                                   middle / 1000 % 1000, middle / 1000000, top};
  char line[k_grouped_line];
#pragma GCC unroll 7
  for (int k = 0; k < 7; ++k) {
    char* at = line + k_grouped_line - 4 * (k + 1);
    std::memcpy(at, k_digit_triples[groups[k]].c, 4);
    at[0] = separator;
  }
  const char* from = line + k_grouped_line - length;
  if (length > 16) {
    std::memcpy(destination, from, 16);
    std::memcpy(destination + length - 16, from + length - 16, 16);
  } else {
    copy_short(destination, from, length);
  }
}

// The whole integer part of `length` characters at destination.
void write_whole(const brol_format_state* state, std::uint64_t magnitude, std::int64_t length,
                 char* destination) noexcept {
  const unsigned base = format_base(state);
  const char* chars = (state->flags & brol_flag_lower) ? k_lower_digits : k_upper_digits;
  char* const end = destination + length;
  if (state->group_char == 0) {
    char* const start = write_digits(magnitude, base, end, chars);
    if (start > destination) std::memset(destination, '0', static_cast<std::size_t>(start - destination));
  } else if (base == 10 && length <= k_grouped_line - 1) {
    write_grouped_decimal(magnitude, length, destination, state->group_char);
  } else if (base == 10) {
    // Whole groups three digits at a time while more digits follow; the loop below does the rest.
    // (Making the digits in a register first and moving them out in groups measured slower: each
    // three-byte move reads across two of the register's stores, which the processor cannot
    // forward.)
    char* at = end;
    while (magnitude >= 1000 && at - destination >= 4) {
      const auto group = static_cast<unsigned>(magnitude % 1000);
      magnitude /= 1000;
      at -= 4;
      at[0] = state->group_char;
      at[1] = static_cast<char>('0' + group / 100);
      std::memcpy(at + 2, k_digit_pairs + (group % 100) * 2, 2);
    }
    write_grouped<10>(magnitude, base, destination, at, chars, state->group_char);
  } else {
    write_grouped<0>(magnitude, base, destination, end, chars, state->group_char);
  }
}

// The longest integer part without leading zeros: 64 binary digits and 21 separators.
constexpr std::int64_t k_short_int_part = 96;

}  // namespace

void int_part_write(const brol_format_state* state, std::uint64_t magnitude, std::int64_t length, char* destination,
                    std::int64_t space) noexcept {
  if (length <= 0 || space <= 0) return;
  if (length <= space) {
    write_whole(state, magnitude, length, destination);
    return;
  }
  if (length <= k_short_int_part) {
    char whole[k_short_int_part];
    write_whole(state, magnitude, length, whole);
    std::memcpy(destination, whole, static_cast<std::size_t>(space));
    return;
  }
  // Many leading zeros (a large min_digits) and cut: only the leftmost `space` positions are made.
  // Position r from the right holds a separator when r % 4 == 3 (with grouping), else digit
  // r - (r + 1) / 4, and '0' beyond the magnitude's digits.
  const unsigned base = format_base(state);
  unsigned char digits[64];
  int nd = 0;
  do {
    digits[nd++] = static_cast<unsigned char>(magnitude % base);
    magnitude /= base;
  } while (magnitude != 0);
  const bool grouped = state->group_char != 0;
  for (std::int64_t i = 0; i < space; ++i) {
    const std::int64_t r = length - 1 - i;
    if (grouped && r % 4 == 3) {
      destination[i] = state->group_char;
      continue;
    }
    const std::int64_t j = grouped ? r - (r + 1) / 4 : r;
    destination[i] = j < nd ? digit_char(state, digits[j]) : '0';
  }
}

}  // namespace brol::detail
