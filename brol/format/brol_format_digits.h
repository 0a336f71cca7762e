// The pieces the engine runs for every item, inline so that the item loop and the planned lists carry
// them without calls: the byte movers for short runs (copy_short, fill_short), digit counts, decimal
// and hexadecimal digits made in a register and stored or blended by their count, the base in force,
// the integer item measured and written, and the one-integer list.
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>

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

// Decimal digits of v (1 for 0), from its bit width: log10(2) is close to 1233 / 4096, which
// guesses the count or one less, and one comparison with a power of ten settles it. No loop.
inline int decimal_digits(std::uint64_t v) noexcept {
  v |= 1;  // 0 has one digit; setting the low bit never crosses a power of ten
  const int guess = (static_cast<int>(std::bit_width(v)) * 1233) >> 12;
  return guess + (v >= k_powers_of_ten[guess] ? 1 : 0);
}

// For a power-of-two base 2^k (k = 1..5): ceil(w / k) for a bit width w <= 64 is
// ((w + k - 1) * k_bit_groups[k]) >> 16, which spares a divide instruction for a variable k.
inline constexpr std::uint32_t k_bit_groups[6] = {0, 65536, 32768, 21846, 16384, 13108};

// Digits of v in `base` (1 for 0): decimal and the powers of two without a loop, the other bases
// (rare) by repeated division.
inline int digit_count(std::uint64_t v, unsigned base) noexcept {
  if (base == 10) return decimal_digits(v);
  if ((base & (base - 1)) == 0) {
    const auto bits = static_cast<unsigned>(std::countr_zero(base));
    const auto width = static_cast<std::uint32_t>(std::bit_width(v | 1));
    return static_cast<int>(((width + bits - 1) * k_bit_groups[bits]) >> 16);
  }
  int n = 1;
  while (v >= base) {
    v /= base;
    ++n;
  }
  return n;
}

// Decimal digits in fixed steps, without a loop over the digits and without a choice by their count:
// the ten digits of a value below 10^10 are made at once in a 128-bit register (leading zeros
// included, the first digit in the lowest byte), and the count, known before, only says how far the
// register is shifted and how many of its bytes are stored.
__extension__ typedef unsigned __int128 digits_register;

// The eight digits of x < 10^8 as the bytes of a 64-bit word, the first in the lowest byte: x is split
// into two halves of four digits in 32-bit lanes, each lane into two pairs in 16-bit lanes, each pair
// into two digits in bytes. The divisions by 100 and by 10 are multiplications by 10486 / 2^20 and
// 103 / 2^10, exact for lanes below 10^4 and 100; no lane's product reaches into the next lane.
inline std::uint64_t eight_digits(std::uint64_t x) noexcept {
  std::uint64_t t = (x / 10000) | (x % 10000) << 32;
  const std::uint64_t hundreds = ((t * 10486) >> 20) & 0x0000007F0000007FULL;
  t = hundreds | (t - hundreds * 100) << 16;
  const std::uint64_t tens = ((t * 103) >> 10) & 0x000F000F000F000FULL;
  t = tens | (t - tens * 10) << 8;
  return t + 0x3030303030303030ULL;
}

// The ten digits of v < 10^10 in the low 80 bits, the first in the lowest byte.
inline digits_register ten_digits(std::uint64_t v) noexcept {
  static_assert(std::endian::native == std::endian::little, "digits are laid out for a little-endian store");
  std::uint16_t lead;
  std::memcpy(&lead, k_digit_pairs + (v / 100000000) * 2, 2);
  return static_cast<digits_register>(eight_digits(v % 100000000)) << 16 | lead;
}

// The last n (0..10) of the ten digits of v < 10^10, in the low bytes of the register (none for 0:
// the ten digits fill only 80 of its bits).
inline digits_register last_digits(std::uint64_t v, int n) noexcept { return ten_digits(v) >> ((10 - n) * 8); }

// Stores the low n (0..16) bytes of r at `at`, as two overlapping stores of a power-of-two size.
inline void store_low_bytes(char* at, digits_register r, int n) noexcept {
  const auto low = static_cast<std::uint64_t>(r);
  if (n >= 8) {
    const auto tail = static_cast<std::uint64_t>(r >> ((n - 8) * 8));
    std::memcpy(at, &low, 8);
    std::memcpy(at + n - 8, &tail, 8);
  } else if (n >= 4) {
    const auto head = static_cast<std::uint32_t>(low);
    const auto tail = static_cast<std::uint32_t>(low >> ((n - 4) * 8));
    std::memcpy(at, &head, 4);
    std::memcpy(at + n - 4, &tail, 4);
  } else if (n >= 2) {
    const auto head = static_cast<std::uint16_t>(low);
    const auto tail = static_cast<std::uint16_t>(low >> ((n - 2) * 8));
    std::memcpy(at, &head, 2);
    std::memcpy(at + n - 2, &tail, 2);
  } else if (n == 1) {
    *at = static_cast<char>(low);
  }
}

// Writes the n = decimal_digits(v) digits of v (or, with n larger, v with leading zeros up to n <= 20)
// at `first`, storing exactly n bytes.
inline void write_decimal(char* first, std::uint64_t v, int n) noexcept {
  if (n <= 10) {
    store_low_bytes(first, last_digits(v, n), n);
    return;
  }
  store_low_bytes(first, last_digits(v / 10000000000ULL, n - 10), n - 10);
  store_low_bytes(first + n - 10, ten_digits(v % 10000000000ULL), 10);
}

// Where 16 bytes from `at` belong to the destination: the first n (0..16) of them become the low n
// bytes of r, the others are stored back as they were. One load and one store, whatever n is.
inline void blend_low_bytes(char* at, digits_register r, int n) noexcept {
  const digits_register keep = n >= 16 ? 0 : ~static_cast<digits_register>(0) << (n * 8);
  digits_register old;
  std::memcpy(&old, at, sizeof old);
  const digits_register result = (r & ~keep) | (old & keep);
  std::memcpy(at, &result, sizeof result);
}

// A sign character ('-' or '+', stored only when has_sign is 1) and the `length` (1..10) digits of
// v < 10^10 (leading zeros up to length) and, with `terminate`, a NUL after them, blended into the 16
// bytes at `at`, which must all belong to the destination. Returns the characters written before the
// NUL. The sign is arithmetic, not a branch: random signs would mispredict one.
inline int blend_decimal(char* at, std::uint64_t v, int length, int has_sign, char sign, bool terminate) noexcept {
  const digits_register text = last_digits(v, length) << (8 * has_sign) |
                               (static_cast<unsigned char>(sign) & (0U - static_cast<unsigned>(has_sign)));
  const int n = length + has_sign;
  blend_low_bytes(at, text, n + (terminate ? 1 : 0));
  return n;
}

// The 16 hexadecimal digits of v, leading zeros included, the most significant in the lowest byte:
// every nibble is spread into a byte of its own and turned into its character without a branch or a
// table.
inline digits_register hex_digits(std::uint64_t v, bool lower) noexcept {
  const std::uint64_t letter_gap = lower ? 'a' - '0' - 10 : 'A' - '0' - 10;
  std::uint64_t halves[2];
  for (int half = 0; half < 2; ++half) {
    std::uint64_t n = half == 0 ? v >> 32 : v & 0xFFFFFFFFULL;
    n = (n | n << 16) & 0x0000FFFF0000FFFFULL;
    n = (n | n << 8) & 0x00FF00FF00FF00FFULL;
    n = (n | n << 4) & 0x0F0F0F0F0F0F0F0FULL;
    n = __builtin_bswap64(n);  // byte j held nibble j from the least significant; the text wants the highest first
    const std::uint64_t letters = ((n + 0x0606060606060606ULL) >> 4) & 0x0101010101010101ULL;
    halves[half] = n + 0x3030303030303030ULL + letters * letter_gap;
  }
  return static_cast<digits_register>(halves[1]) << 64 | halves[0];
}

// The same 16 digits stored at `at`.
inline void write_16_hex(char* at, std::uint64_t v, bool lower) noexcept {
  const digits_register r = hex_digits(v, lower);
  std::memcpy(at, &r, 16);
}

// The `length` characters of v in the power-of-two base 2^shift without grouping: its digits at the
// right end and, before them, the zeros that min_digits asks for.
inline void write_power_of_two(char* first, std::uint64_t v, std::int64_t length, unsigned shift,
                               const char* chars) noexcept {
  if (shift == 4 && length <= 16) {
    char all[16];
    write_16_hex(all, v, chars == k_lower_digits);
    copy_short(first, all + 16 - length, length);
    return;
  }
  const std::uint64_t mask = (1ULL << shift) - 1;
  char* at = first + length;
  do {
    *--at = chars[v & mask];
    v >>= shift;
  } while (v != 0);
  fill_short<'0'>(first, at - first);
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
  // Without a branch: random signs would mispredict one on every other value.
  const auto sign_mask = static_cast<std::uint64_t>(v >> 63);
  out->negative = sign_mask != 0;
  out->magnitude = (static_cast<std::uint64_t>(v) ^ sign_mask) - sign_mask;
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
  const unsigned base = format_base(state);
  const std::uint64_t v = number.magnitude;
  if (base == 10) {
    const std::int64_t zeros = length - number.digits;
    fill_short<'0'>(destination, zeros);
    write_decimal(destination + zeros, v, number.digits);
  } else if ((base & (base - 1)) == 0) {
    const char* chars = (state->flags & brol_flag_lower) ? k_lower_digits : k_upper_digits;
    write_power_of_two(destination, v, length, static_cast<unsigned>(std::countr_zero(base)), chars);
  } else {
    int_part_write(state, v, length, destination, count);
  }
}

// Decimal digits of v (1 for 0) by comparisons, four to a step. Where the values repeat, as in a
// benchmark's table, these branches are learnt, and the outcomes they leave in the branch history
// let the predictor also foresee the exits of the digit loop that follows; decimal_digits, without
// branches, leaves that loop's exit to be guessed.
inline int decimal_digits_branching(std::uint64_t v) noexcept {
  int n = 1;
  for (;;) {
    if (v < 10) return n;
    if (v < 100) return n + 1;
    if (v < 1000) return n + 2;
    if (v < 10000) return n + 3;
    v /= 10000;
    n += 4;
  }
}

// The digits of v, two a step from the pair table, written backwards so that they end just before
// `end`; exactly decimal_digits(v) bytes are stored, nothing before them is touched.
inline void write_pairs_backwards(char* end, std::uint64_t v) noexcept {
  while (v >= 100) {
    const std::uint64_t pair = v % 100;
    v /= 100;
    end -= 2;
    std::memcpy(end, k_digit_pairs + pair * 2, 2);
  }
  if (v >= 10) {
    std::memcpy(end - 2, k_digit_pairs + v * 2, 2);
  } else {
    end[-1] = static_cast<char>('0' + v);
  }
}

// The text of a one-integer list that does not fit: cut at size - 1 bytes and terminated. Out of
// line, as small buffers are the exception.
[[gnu::noinline]] inline void write_cut_integer(char* destination, std::int64_t size, std::uint64_t v, int n,
                                                int negative) noexcept {
  char whole[24];
  whole[0] = '-';
  write_decimal(whole + negative, v, n);
  std::memcpy(destination, whole, static_cast<std::size_t>(size - 1));
  destination[size - 1] = '\0';
}

// The text of one integer item with the default settings (decimal, no sign for non-negative values,
// no layout), written and cut like the engine does; the result is its length. The engine's path for
// the commonest list.
inline std::int64_t format_one_integer(char* destination, std::int64_t size, bool is_signed, brol_item size_code,
                                       brol_item raw) noexcept {
  int_text number{false, false, 0, 1};
  if (known_size(size_code)) decode(size_code, raw, is_signed, &number);
  const int digits = decimal_digits_branching(number.magnitude);
  const int negative = number.negative ? 1 : 0;
  const std::int64_t length = digits + negative;
  if (destination == nullptr || size < 1) return length;
  if (length >= size) {
    write_cut_integer(destination, size, number.magnitude, digits, negative);
    return length;
  }
  // Plain stores only: no load of the destination, whose previous contents a following call into
  // the same buffer would otherwise have to wait for.
  destination[0] = '-';  // overwritten by the first digit when there is no sign
  destination[length] = '\0';
  write_pairs_backwards(destination + length, number.magnitude);
  return length;
}

}  // namespace brol::detail
