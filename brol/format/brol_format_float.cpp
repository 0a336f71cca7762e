// The floating-point conversion: a double or an 80-bit extended-precision value, rounded at a number
// of fraction digits in a base from 2 to 36, with an exact integer part of any size.
#include <array>
#include <bit>
#include <cmath>
#include <cstring>
#include <limits>

#include "brol/format/brol_format_number.h"

// The value is held as a long double. On both targets (GCC on x86-64 Linux and MinGW-w64) that is
// the x87 80-bit extended format with a 64-bit significand, and both start their programs with the
// x87 unit at full precision. Where long double is the 64-bit double (MSVC, ARM targets of Windows)
// all of the arithmetic below runs in double precision: x * S is then rounded to 53 bits instead of
// 64, so a long fraction of a large value ends in other digits than here, and a size-16 item must
// point to such a double. A long double with more than 64 significand bits (the 128-bit format of
// AArch64 Linux) would need the general path to split its significand into more than one 64-bit
// word; the build stops there rather than print wrong digits.
static_assert(std::numeric_limits<long double>::digits <= 64,
              "the general path takes the significand of a long double as one 64-bit integer");

namespace {

using brol::detail::number_out;

constexpr int k_significand_bits = std::numeric_limits<long double>::digits;
// Bytes of a size-16 value: the x87 format has 10, the rest of a long double object is padding.
constexpr std::size_t k_value_bytes = k_significand_bits == 64 ? 10 : sizeof(long double);
// P never exceeds 256 / B, which is largest for base 2.
static_assert(sizeof(brol::detail::float_text::fraction) >= 256 / 2, "room for the fraction digits of base 2");
// Below 2^63 the scaled value is rounded and split with 64-bit integers.
constexpr long double k_two_63 = 9223372036854775808.0L;
constexpr long double k_two_64 = 18446744073709551616.0L;

// Ten, the common base, has its powers in tables: all of them up to 10^25 are exact long doubles.
constexpr long double k_tens[26] = {1e0L,  1e1L,  1e2L,  1e3L,  1e4L,  1e5L,  1e6L,  1e7L,  1e8L,
                                    1e9L,  1e10L, 1e11L, 1e12L, 1e13L, 1e14L, 1e15L, 1e16L, 1e17L,
                                    1e18L, 1e19L, 1e20L, 1e21L, 1e22L, 1e23L, 1e24L, 1e25L};
constexpr auto k_exact_tens = [] {
  std::array<std::uint64_t, 20> t{};
  std::uint64_t power = 1;
  for (auto& e : t) {
    e = power;
    power *= 10;  // wraps once, after the last entry
  }
  return t;
}();

// The value of a brol_fmt_float item. A double keeps its bits as well, for the integer path.
struct float_item {
  long double value;
  bool is_double;
  std::uint64_t bits;
};

float_item take_value(brol_fmt_cursor* cursor) noexcept {
  const brol_item size = cursor->take();
  if (size == 4 || size == 8) {
    const brol_item bits = cursor->take();
    return {static_cast<long double>(std::bit_cast<double>(bits)), true, bits};
  }
  if (size != 16) return {0, false, 0};
  const brol_item address = cursor->take();
  if (address < brol::detail::k_first_literal)
    return {0, false, 0};  // no object lives there: a null address formats as 0
  long double value = 0;
  std::memcpy(&value, reinterpret_cast<const void*>(address), k_value_bytes);
  return {value, false, 0};
}

// S = B^P, as the long double that scales the value and, when it fits, as an exact integer.
struct scale {
  long double factor;
  std::uint64_t exact;  // 0: B^P is 2^64 or more
};

scale power(unsigned base, std::int64_t p) noexcept {
  if (base == 10) return {k_tens[p], p < 20 ? k_exact_tens[static_cast<std::size_t>(p)] : 0};
  scale s{1, 1};
  for (std::int64_t i = 0; i < p; ++i) {
    s.factor *= base;
    s.exact = s.exact != 0 && s.exact <= UINT64_MAX / base ? s.exact * base : 0;
  }
  return s;
}

// An unsigned integer of up to 2^16384 (the finite range of a long double), 32 bits per limb, least
// significant limb first.
constexpr int k_big_limbs = std::numeric_limits<long double>::max_exponent / 32 + 3;
// Base-2 digits of such an integer, and room for the leading zeros of its top chunk of digits.
constexpr int k_max_wide_digits = std::numeric_limits<long double>::max_exponent + 32;
struct big_uint {
  std::uint32_t limb[k_big_limbs];
  int size;  // limbs in use; the top one is not 0
};

void trim(big_uint& n) noexcept {
  while (n.size > 0 && n.limb[n.size - 1] == 0) --n.size;
}

// n = mantissa * 2^shift.
void set_shifted(big_uint& n, std::uint64_t mantissa, int shift) noexcept {
  const int word = shift / 32;
  const int bit = shift % 32;
  n.size = word + 3;
  std::memset(n.limb, 0, sizeof(std::uint32_t) * static_cast<std::size_t>(word));
  const std::uint64_t low = mantissa << bit;
  n.limb[word] = static_cast<std::uint32_t>(low);
  n.limb[word + 1] = static_cast<std::uint32_t>(low >> 32);
  n.limb[word + 2] = bit == 0 ? 0 : static_cast<std::uint32_t>(mantissa >> (64 - bit));
  trim(n);
}

// n = n / d; returns n mod d.
std::uint32_t divide(big_uint& n, std::uint32_t d) noexcept {
  std::uint64_t rest = 0;
  for (int i = n.size; i-- > 0;) {
    const std::uint64_t current = rest << 32 | n.limb[i];
    n.limb[i] = static_cast<std::uint32_t>(current / d);
    rest = current % d;
  }
  trim(n);
  return static_cast<std::uint32_t>(rest);
}

// The largest power of the base below 2^32 and its exponent: digits are taken that many at a time.
struct chunk {
  std::uint32_t divisor;
  int digits;
};

chunk chunk_of(unsigned base) noexcept {
  chunk c{base, 1};
  while (c.divisor <= UINT32_MAX / base) {
    c.divisor *= base;
    ++c.digits;
  }
  return c;
}

using float_parts = brol::detail::float_text;

// V = the scaled value (below 2^63) rounded halves away from zero. Adding 2^63 leaves the x87 unit
// to round it to an integer in the low bits of the significand (to nearest, ties to even), which
// spares switching its rounding mode for a conversion; only a value that rounds up to 2^63 itself
// carries out of them. A tie taken down to even is then moved up. The difference between the value
// and V is exact in extended precision.
std::uint64_t round_small(long double scaled) noexcept {
  std::uint64_t v = 0;
  if constexpr (k_significand_bits == 64) {
    const long double shifted = scaled + k_two_63;
    if (shifted == k_two_64) return 1ULL << 63;
    std::memcpy(&v, &shifted, sizeof v);  // the significand, its explicit top bit standing for 2^63
    v -= 1ULL << 63;
    if (scaled - static_cast<long double>(v) == 0.5L) ++v;
  } else {
    v = static_cast<std::uint64_t>(static_cast<std::int64_t>(scaled));
    if (scaled - static_cast<long double>(v) >= 0.5L) ++v;
  }
  return v;
}

// The P base-B digits of f < B^P, most significant first. Inlined, base 10 divides by a constant.
inline void fraction_digits(std::uint64_t f, std::int64_t p, unsigned base, unsigned char* digits) noexcept {
  for (std::int64_t i = p; i-- > 0;) {
    digits[i] = static_cast<unsigned char>(f % base);
    f /= base;
  }
}

// 5^k and the largest 53-bit significand m for which m * 5^k still fits 64 bits.
constexpr int k_max_five = 27;
struct five_power {
  std::uint64_t power;
  std::uint64_t limit;
};
constexpr auto k_fives = [] {
  std::array<five_power, k_max_five + 1> t{};
  std::uint64_t f = 1;
  for (auto& e : t) {
    e = {f, UINT64_MAX / f};
    f *= 5;
  }
  return t;
}();

// V for a double in base 10 without x87 arithmetic: x * 10^P = m * 5^P * 2^(e + P) for the
// significand m and exponent e of |x|. When m * 5^P fits 64 bits, the product in extended precision
// is exact, so V is m * 5^P shifted, rounded halves up, exactly as the rule computes it. False when
// the product or V would need more than 64 bits (or x is not finite): the extended path takes it.
bool scale_double(std::uint64_t bits, std::int64_t p, std::uint64_t& v) noexcept {
  const auto field = static_cast<int>(bits >> 52 & 0x7FF);
  const std::uint64_t significand = bits & ((1ULL << 52) - 1);
  if (field == 0x7FF || p > k_max_five) return false;
  const std::uint64_t m = field != 0 ? significand | 1ULL << 52 : significand;
  if (m > k_fives[static_cast<std::size_t>(p)].limit) return false;
  const std::uint64_t n = m * k_fives[static_cast<std::size_t>(p)].power;
  const std::int64_t shift = (field != 0 ? field : 1) - 1075 + p;
  if (shift >= 0) {
    if (static_cast<std::int64_t>(std::bit_width(n)) + shift > 64) return false;
    v = n << shift;
  } else if (shift > -64) {
    v = (n >> -shift) + (n >> (-shift - 1) & 1);
  } else {
    v = shift == -64 ? n >> 63 : 0;
  }
  return true;
}

// The fast path: V below 2^64 split into H and F with 64-bit integers. Below 2^63 the steps of the
// rule in extended precision (V / S and the digits by division) are exact too, so both give the same
// digits; the tests compare them.
void split_small(std::uint64_t v, const scale& s, unsigned base, float_parts& parts) noexcept {
  parts.high = s.exact != 0 ? v / s.exact : 0;
  const std::uint64_t f = s.exact != 0 ? v % s.exact : v;
  if (base == 10) {
    fraction_digits(f, parts.p, 10, parts.fraction);
  } else {
    fraction_digits(f, parts.p, base, parts.fraction);
  }
}

// V split at 10^P for the common fraction counts: a 64-bit division by a constant is a multiplication,
// by a variable one a divide instruction that alone costs about as much as the rest of the split.
template <int P>
void split_decimal(std::uint64_t v, float_parts& parts) noexcept {
  constexpr std::uint64_t s = k_exact_tens[P];
  parts.high = v / s;
  fraction_digits(v % s, P, 10, parts.fraction);
}

void split_small_decimal(std::uint64_t v, const scale& s, float_parts& parts) noexcept {
  switch (parts.p) {
    case 0:
      parts.high = v;
      break;
    case 1:
      split_decimal<1>(v, parts);
      break;
    case 2:
      split_decimal<2>(v, parts);
      break;
    case 3:
      split_decimal<3>(v, parts);
      break;
    case 4:
      split_decimal<4>(v, parts);
      break;
    case 5:
      split_decimal<5>(v, parts);
      break;
    case 6:
      split_decimal<6>(v, parts);
      break;
    default:
      split_small(v, s, 10, parts);
      break;
  }
}

// n = n * f.
void multiply(big_uint& n, std::uint32_t f) noexcept {
  std::uint64_t carry = 0;
  for (int i = 0; i < n.size; ++i) {
    const std::uint64_t current = std::uint64_t{n.limb[i]} * f + carry;
    n.limb[i] = static_cast<std::uint32_t>(current);
    carry = current >> 32;
  }
  if (carry != 0) n.limb[n.size++] = static_cast<std::uint32_t>(carry);
}

// n = n / 2^shift (shift >= 1) rounded, halves up.
void shift_right_rounded(big_uint& n, int shift) noexcept {
  const int half_word = (shift - 1) / 32;
  bool half = half_word < n.size && (n.limb[half_word] >> ((shift - 1) % 32) & 1) != 0;
  const int word = shift / 32;
  const int bit = shift % 32;
  const int size = n.size > word ? n.size - word : 0;
  for (int i = 0; i < size; ++i) {
    const std::uint64_t pair = i + word + 1 < n.size ? n.limb[i + word + 1] : 0;
    n.limb[i] = static_cast<std::uint32_t>((pair << 32 | n.limb[i + word]) >> bit);
  }
  n.size = size;
  trim(n);
  for (int i = 0; half; ++i) {
    if (i == n.size) n.limb[n.size++] = 0;
    half = ++n.limb[i] == 0;
  }
}

// The general path, for a value whose scaled form reaches 2^63: there the scaled value in extended
// precision is an integer already and its rounding error reaches whole units (past 2^64 it changes
// the integer part), so V is computed exactly: the significand times B^P, shifted by the exponent,
// rounded halves up as the rule rounds. V gives F as its P lowest base-B digits and H as the rest,
// every digit exact however large H is.
const big_uint* split_large(long double magnitude, unsigned base, float_parts& parts, big_uint& storage) noexcept {
  int exponent = 0;
  const long double fraction = std::frexp(magnitude, &exponent);
  const auto mantissa = static_cast<std::uint64_t>(std::ldexp(fraction, 64));
  const int shift = exponent - 64;
  set_shifted(storage, mantissa, shift > 0 ? shift : 0);
  for (std::int64_t i = 0; i < parts.p; ++i) multiply(storage, base);
  if (shift < 0) shift_right_rounded(storage, -shift);
  for (std::int64_t i = parts.p; i-- > 0;) parts.fraction[i] = static_cast<unsigned char>(divide(storage, base));
  if (storage.size > 2) {
    parts.wide = true;
    return &storage;
  }
  parts.high = storage.size == 0 ? 0 : storage.limb[0];
  if (storage.size == 2) parts.high |= static_cast<std::uint64_t>(storage.limb[1]) << 32;
  return nullptr;
}

// Sign (negative zero and not-a-number are not negative), P = min(max_frac, 256 / B), V = x * B^P
// rounded, then H, F and m with trailing zero digits dropped down to min_frac. Returns H when it is
// wide (in storage), else null.
const big_uint* split(const brol_format_state* st, const float_item& item, float_parts& parts,
                      big_uint& storage) noexcept {
  const unsigned base = brol::detail::format_base(st);
  const long double x = item.value;
  parts.negative = x < 0;
  parts.wide = false;
  parts.high = 0;
  parts.m = 0;
  parts.p = 0;
  parts.kind = std::isnan(x) ? float_parts::not_a_number : float_parts::number;
  if (parts.kind != float_parts::number) return nullptr;
  const std::int64_t max_frac = brol::detail::non_negative(st->max_frac);
  // 256 / B, without a divide instruction for the common base.
  const std::int64_t cap = base == 10 ? 25 : 256 / base;
  parts.p = max_frac < cap ? max_frac : cap;
  const scale s = power(base, parts.p);
  std::uint64_t v = 0;
  const big_uint* wide = nullptr;
  if (item.is_double && base == 10 && scale_double(item.bits & ~(1ULL << 63), parts.p, v)) {
    split_small_decimal(v, s, parts);
  } else {
    const long double scaled = std::fabs(x) * s.factor;
    if (!std::isfinite(scaled)) {
      parts.kind = float_parts::infinite;
      return nullptr;
    }
    if (scaled < k_two_63) {
      if (base == 10) {
        split_small_decimal(round_small(scaled), s, parts);
      } else {
        split_small(round_small(scaled), s, base, parts);
      }
    } else {
      wide = split_large(std::fabs(x), base, parts, storage);
    }
  }
  parts.m = parts.p;
  const std::int64_t min_frac = brol::detail::non_negative(st->min_frac);
  while (parts.m > min_frac && parts.fraction[parts.m - 1] == 0) --parts.m;
  return wide;
}

// Base-B digit count of a big H (more than 64 bits, so more than one chunk of digits).
std::int64_t wide_digits(const big_uint& h, unsigned base) noexcept {
  big_uint n = h;
  const chunk c = chunk_of(base);
  std::int64_t count = 0;
  while (n.size > 1 || n.limb[0] >= c.divisor) {
    divide(n, c.divisor);
    count += c.digits;
  }
  for (std::uint32_t top = n.limb[0]; top != 0; top /= base) ++count;
  return count;
}

std::int64_t wide_length(const brol_format_state* st, const big_uint& h) noexcept {
  std::int64_t digits = wide_digits(h, brol::detail::format_base(st));
  if (digits < st->min_digits) digits = st->min_digits;
  if (st->group_char == 0) return digits;
  return brol::detail::add_saturating(digits, (digits - 1) / 3);
}

// The integer part of a big H laid out as int_part_write lays out a 64-bit one: position r from the
// right end holds a separator when r % 4 == 3 (with grouping), else digit r - (r + 1) / 4 of H, and
// '0' past its digits. Only the leftmost `room` positions are computed, however many zeros lead.
void wide_write(const brol_format_state* st, const big_uint& h, std::int64_t length, char* at,
                std::int64_t room) noexcept {
  const unsigned base = brol::detail::format_base(st);
  const chunk c = chunk_of(base);
  unsigned char digits[k_max_wide_digits];  // least significant first
  std::int64_t count = 0;
  for (big_uint n = h; n.size > 0;) {
    std::uint32_t group = divide(n, c.divisor);
    for (int k = 0; k < c.digits; ++k, group /= base) digits[count++] = static_cast<unsigned char>(group % base);
  }
  const bool grouped = st->group_char != 0;
  const std::int64_t stored = length < room ? length : room;
  for (std::int64_t i = 0; i < stored; ++i) {
    const std::int64_t r = length - 1 - i;
    const std::int64_t j = grouped ? r - (r + 1) / 4 : r;
    if (grouped && r % 4 == 3) {
      at[i] = st->group_char;
    } else {
      at[i] = j < count ? brol::detail::digit_char(st, digits[j]) : '0';
    }
  }
}

void wide_int_part(const brol_format_state* st, number_out& out, const big_uint& h, std::int64_t length) noexcept {
  if (out.room > 0) {
    wide_write(st, h, length, out.at, out.room);
    const std::int64_t stored = length < out.room ? length : out.room;
    out.at += stored;
    out.room -= stored;
  }
  out.grow(length);
}

// "INF" or "NAN", its letters cased like digit letters.
void word(const brol_format_state* st, number_out& out, const float_parts& parts) noexcept {
  const unsigned letters[2][3] = {{'I' - 'A' + 10, 'N' - 'A' + 10, 'F' - 'A' + 10},
                                  {'N' - 'A' + 10, 'A' - 'A' + 10, 'N' - 'A' + 10}};
  for (unsigned letter : letters[parts.kind == float_parts::infinite ? 0 : 1]) {
    out.put(brol::detail::digit_char(st, letter));
  }
}

void integer_part(const brol_format_state* st, number_out& out, const float_parts& parts,
                  const big_uint* wide) noexcept {
  if (wide != nullptr) {
    wide_int_part(st, out, *wide, st->int_length);
  } else {
    out.int_part(st, parts.high, st->int_length);
  }
}

// The point and the m shown digits, then zeros up to min_frac; nothing at all when m is 0.
void fraction_part(const brol_format_state* st, number_out& out, const float_parts& parts) noexcept {
  if (parts.m == 0) return;
  out.put(st->point_char);
  for (std::int64_t i = 0; i < parts.m && out.wants_more(); ++i) {
    out.put(brol::detail::digit(st, parts.fraction[i]));
  }
  out.repeat('0', brol::detail::non_negative(st->min_frac) - parts.p);
}

}  // namespace

namespace {

// The measured lengths of a split value: int_length, frac_digits, text_length.
void measure(brol_format_state* st, const float_parts& parts, const big_uint* wide) noexcept {
  std::int64_t length = parts.negative || (st->flags & brol_flag_plus) ? 1 : 0;
  if (parts.kind != float_parts::number) {
    // The word stands where the integer part would, so decimal alignment treats it like one.
    st->int_length = 3;
  } else if (wide != nullptr) {
    st->int_length = wide_length(st, *wide);
  } else {
    const unsigned base = brol::detail::format_base(st);
    st->int_length = brol::detail::int_part_length_of(st, brol::detail::digit_count(parts.high, base));
  }
  length = brol::detail::add_saturating(length, st->int_length);
  if (parts.kind == float_parts::number && parts.m > 0) {
    const std::int64_t zeros = brol::detail::non_negative(brol::detail::non_negative(st->min_frac) - parts.p);
    length = brol::detail::add_saturating(brol::detail::add_saturating(length, parts.m + 1), zeros);
  }
  st->frac_digits = parts.kind == float_parts::number ? parts.m : 0;
  st->text_length = length;
}

// The first count characters of the measured text.
void write(const brol_format_state* st, const float_parts& parts, const big_uint* wide, char* destination,
           std::int64_t count) noexcept {
  number_out out = number_out::write(destination, count);
  out.sign(st, parts.negative);
  if (parts.kind != float_parts::number) {
    word(st, out, parts);
  } else {
    integer_part(st, out, parts, wide);
    fraction_part(st, out, parts);
  }
}

}  // namespace

namespace brol::detail {

void float_measure(brol_format_state* state, brol_fmt_cursor* cursor, float_text* out) noexcept {
  big_uint storage;
  measure(state, *out, split(state, take_value(cursor), *out, storage));
}

void float_write(const brol_format_state* state, const float_text& number, char* destination,
                 std::int64_t count) noexcept {
  if (number.kind != float_text::number || count < state->text_length || state->group_char != 0 || state->base != 10) {
    write(state, number, nullptr, destination, count);
    return;
  }
  // Decimal without grouping, written whole (the rule): no cut to watch for.
  char* at = destination;
  if (number.negative) {
    *at++ = '-';
  } else if (state->flags & brol_flag_plus) {
    *at++ = '+';
  }
  const std::int64_t int_length = state->int_length;
  const int digits = decimal_digits(number.high);
  if (int_length > digits) fill_short<'0'>(at, int_length - digits);
  at += int_length;
  write_decimal(at - digits, number.high, digits);
  if (number.m == 0) return;
  *at++ = state->point_char;
  for (std::int64_t i = 0; i < number.m; ++i) at[i] = static_cast<char>('0' + number.fraction[i]);
  if (state->min_frac > number.p) fill_short<'0'>(at + number.m, state->min_frac - number.p);
}

}  // namespace brol::detail

// The conversion-table entry splits the value in both calls; the engine itself measures with
// float_measure and keeps the split value for the write, unless its integer part is wide.
void brol_conv_float(brol_format_state* state, brol_fmt_cursor* cursor, char* destination, std::int64_t count) {
  float_parts parts;
  big_uint storage;
  const big_uint* wide = split(state, take_value(cursor), parts, storage);
  if (destination == nullptr) {
    measure(state, parts, wide);
  } else {
    write(state, parts, wide, destination, count);
  }
}
