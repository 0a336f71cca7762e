// The integer pieces the engine runs for every integer item, inline so that the item loop carries
// them without calls: digit counts, decimal digits two at a time, the integer item measured once.
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>
#include <limits>

#include "brol/format/brol_format_conv.h"

namespace brol::detail {

inline constexpr char k_digit_pairs[] =
    "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
    "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
    "8081828384858687888990919293949596979899";

inline constexpr std::uint64_t k_powers_of_ten[20] = {
    1ULL,
    10ULL,
    100ULL,
    1000ULL,
    10000ULL,
    100000ULL,
    1000000ULL,
    10000000ULL,
    100000000ULL,
    1000000000ULL,
    10000000000ULL,
    100000000000ULL,
    1000000000000ULL,
    10000000000000ULL,
    100000000000000ULL,
    1000000000000000ULL,
    10000000000000000ULL,
    100000000000000000ULL,
    1000000000000000000ULL,
    10000000000000000000ULL,
};

inline constexpr char k_upper_digits[] = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ";
inline constexpr char k_lower_digits[] = "0123456789abcdefghijklmnopqrstuvwxyz";

// Copies n >= 0 bytes. Short runs are the rule (pads of a few blanks, literals and zero fills of a few
// bytes): up to 16 bytes move as two overlapping fixed-size copies instead of a library call.
inline void copy_short(char* to, const char* from, std::int64_t n) noexcept {
  const auto size = static_cast<std::size_t>(n);
  if (n > 16) {
    std::memcpy(to, from, size);
  } else if (n >= 8) {
    std::memcpy(to, from, 8);
    std::memcpy(to + size - 8, from + size - 8, 8);
  } else if (n >= 4) {
    std::memcpy(to, from, 4);
    std::memcpy(to + size - 4, from + size - 4, 4);
  } else if (n >= 2) {
    std::memcpy(to, from, 2);
    std::memcpy(to + size - 2, from + size - 2, 2);
  } else if (n == 1) {
    *to = *from;
  }
}

// n >= 0 copies of the character c.
template <char C>
inline void fill_short(char* at, std::int64_t n) noexcept {
  static constexpr char run[16] = {C, C, C, C, C, C, C, C, C, C, C, C, C, C, C, C};
  if (n <= 16) {
    copy_short(at, run, n);
  } else {
    std::memset(at, C, static_cast<std::size_t>(n));
  }
}

// Decimal digits of v (1 for 0), from its bit width: log10(2) is close to 1233 / 4096.
inline int decimal_digits(std::uint64_t v) noexcept {
  v |= 1;  // 0 has one digit; setting the low bit never crosses a power of ten
  const int guess = (static_cast<int>(std::bit_width(v)) * 1233) >> 12;
  return guess + (v >= k_powers_of_ten[guess] ? 1 : 0);
}

// Digits of v in `base` (1 for 0).
inline int digit_count(std::uint64_t v, unsigned base) noexcept {
  if (base == 10) return decimal_digits(v);
  if ((base & (base - 1)) == 0) {  // a power of two, without a population count
    const int bits = std::countr_zero(base);
    return (static_cast<int>(std::bit_width(v | 1)) + bits - 1) / bits;
  }
  int n = 1;
  while (v >= base) {
    v /= base;
    ++n;
  }
  return n;
}

inline std::int64_t add_saturating(std::int64_t a, std::int64_t b) noexcept {
  return b > std::numeric_limits<std::int64_t>::max() - a ? std::numeric_limits<std::int64_t>::max() : a + b;
}

// Writes the decimal digits of v so that the last one lands just before `end`.
inline void write_decimal(std::uint64_t v, char* end) noexcept {
  while (v > 0xFFFFFFFFULL) {
    const unsigned pair = static_cast<unsigned>(v % 100) * 2;
    v /= 100;
    end -= 2;
    std::memcpy(end, k_digit_pairs + pair, 2);
  }
  // The rest in 32-bit arithmetic, which is cheaper.
  auto w = static_cast<std::uint32_t>(v);
  while (w >= 100) {
    const unsigned pair = (w % 100) * 2;
    w /= 100;
    end -= 2;
    std::memcpy(end, k_digit_pairs + pair, 2);
  }
  if (w >= 10) {
    end -= 2;
    std::memcpy(end, k_digit_pairs + w * 2, 2);
  } else {
    *--end = static_cast<char>('0' + w);
  }
}

inline unsigned format_base(const brol_format_state* state) noexcept {
  return state->base >= 2 && state->base <= 36 ? static_cast<unsigned>(state->base) : 10U;
}

// Characters of an integer part of `digits` digits: raised to min_digits, with group separators.
inline std::int64_t int_part_length_of(const brol_format_state* state, std::int64_t digits) noexcept {
  if (digits < state->min_digits) digits = state->min_digits;
  if (state->group_char == 0) return digits;
  return add_saturating(digits, (digits - 1) / 3);
}

inline bool known_size(brol_item size) noexcept { return size == 1 || size == 2 || size == 4 || size == 8; }

// The low 8 * size bits of raw, sign- or zero-extended, as sign and magnitude.
inline void decode(brol_item size, brol_item raw, bool is_signed, int_text* out) noexcept {
  const unsigned shift = 64 - static_cast<unsigned>(size) * 8;
  if (!is_signed) {
    out->magnitude = (raw << shift) >> shift;
    return;
  }
  const std::int64_t v = static_cast<std::int64_t>(raw << shift) >> shift;
  out->negative = v < 0;
  out->magnitude = v < 0 ? 0 - static_cast<std::uint64_t>(v) : static_cast<std::uint64_t>(v);
}

// Reads an integer conversion's size code and value, sets int_length and text_length.
inline void int_measure(brol_format_state* state, brol_fmt_cursor* cursor, bool is_signed, int_text* out) noexcept {
  *out = int_text{false, false, 0, 1};
  const brol_item size = cursor->take();
  if (known_size(size)) decode(size, cursor->take(), is_signed, out);
  out->has_sign = out->negative || (state->flags & brol_flag_plus);
  out->digits = digit_count(out->magnitude, format_base(state));
  state->int_length = int_part_length_of(state, out->digits);
  state->text_length = add_saturating(state->int_length, out->has_sign ? 1 : 0);
}

// Writes the first count characters of the measured integer's text. Plain decimal that fits whole
// (the common case) is written here; the rest by int_part_write.
inline void int_write(const brol_format_state* state, const int_text& number, char* destination,
                      std::int64_t count) noexcept {
  if (count <= 0) return;
  if (number.has_sign) {
    *destination++ = number.negative ? '-' : '+';
    --count;
  }
  const std::int64_t length = state->int_length;
  if (state->group_char != 0 || length > count) {
    int_part_write(state, number.magnitude, length, destination, count);
    return;
  }
  // Fits whole, without grouping: the digits at the right end, zeros before them.
  fill_short<'0'>(destination, length - number.digits);
  char* end = destination + length;
  std::uint64_t v = number.magnitude;
  switch (state->base) {
    case 10:
      write_decimal(v, end);
      return;
    case 16:
    case 8:
    case 2: {
      const char* chars = (state->flags & brol_flag_lower) ? k_lower_digits : k_upper_digits;
      const auto mask = static_cast<unsigned>(state->base - 1);
      const int shift = std::countr_zero(static_cast<unsigned>(state->base));
      do {
        *--end = chars[v & mask];
        v >>= shift;
      } while (v != 0);
      return;
    }
    default:
      int_part_write(state, number.magnitude, length, destination, count);
  }
}

}  // namespace brol::detail
