// The integer conversions and the number pieces every number conversion shares: digits, the
// integer part with grouping and least digit count, and the sign.
#include <bit>
#include <cstring>
#include <limits>

#include "brol/format/brol_format_conv.h"

namespace {

constexpr char k_digit_pairs[] =
    "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
    "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
    "8081828384858687888990919293949596979899";

constexpr std::uint64_t k_powers_of_ten[20] = {
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

// Decimal digits of v (1 for 0), from its bit width: log10(2) is close to 1233 / 4096.
int decimal_digits(std::uint64_t v) noexcept {
  v |= 1;  // 0 has one digit; setting the low bit never crosses a power of ten
  const int guess = (static_cast<int>(std::bit_width(v)) * 1233) >> 12;
  return guess + (v >= k_powers_of_ten[guess] ? 1 : 0);
}

int digit_count(std::uint64_t v, unsigned base) noexcept {
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

std::int64_t add_saturating(std::int64_t a, std::int64_t b) noexcept {
  return b > std::numeric_limits<std::int64_t>::max() - a ? std::numeric_limits<std::int64_t>::max() : a + b;
}

// Writes the nd decimal digits of v so that the last one lands just before `end`.
void write_decimal(std::uint64_t v, char* end) noexcept {
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

}  // namespace

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

unsigned format_base(const brol_format_state* state) noexcept {
  return state->base >= 2 && state->base <= 36 ? static_cast<unsigned>(state->base) : 10U;
}

char digit_char(const brol_format_state* state, unsigned d) noexcept {
  if (d < 10) return static_cast<char>('0' + d);
  return static_cast<char>(((state->flags & brol_flag_lower) ? 'a' : 'A') + d - 10);
}

namespace {

std::int64_t int_part_length_of(const brol_format_state* state, std::int64_t digits) noexcept {
  if (digits < state->min_digits) digits = state->min_digits;
  if (state->group_char == 0) return digits;
  return add_saturating(digits, (digits - 1) / 3);
}

}  // namespace

std::int64_t int_part_length(const brol_format_state* state, std::uint64_t magnitude) noexcept {
  return int_part_length_of(state, digit_count(magnitude, format_base(state)));
}

namespace {

bool known_size(brol_item size) noexcept { return size == 1 || size == 2 || size == 4 || size == 8; }

// The low 8 * size bits of raw, sign- or zero-extended, as sign and magnitude.
void decode(brol_item size, brol_item raw, bool is_signed, int_text* out) noexcept {
  const unsigned shift = 64 - static_cast<unsigned>(size) * 8;
  if (!is_signed) {
    out->magnitude = (raw << shift) >> shift;
    return;
  }
  const std::int64_t v = static_cast<std::int64_t>(raw << shift) >> shift;
  out->negative = v < 0;
  out->magnitude = v < 0 ? 0 - static_cast<std::uint64_t>(v) : static_cast<std::uint64_t>(v);
}

}  // namespace

std::int64_t format_one_integer(char* destination, std::int64_t size, bool is_signed, brol_item size_code,
                                brol_item raw) noexcept {
  int_text number{false, false, 0, 1};
  if (known_size(size_code)) decode(size_code, raw, is_signed, &number);
  const int nd = decimal_digits(number.magnitude);
  const std::int64_t length = nd + (number.negative ? 1 : 0);
  if (destination == nullptr || size < 1) return length;
  char whole[24];
  char* out = length < size ? destination : whole;
  if (number.negative) out[0] = '-';
  write_decimal(number.magnitude, out + length);
  if (out == whole) {
    std::memcpy(destination, whole, static_cast<std::size_t>(size - 1));
    destination[size - 1] = '\0';
  } else {
    destination[length] = '\0';
  }
  return length;
}

void int_measure(brol_format_state* state, brol_fmt_cursor* cursor, bool is_signed, int_text* out) noexcept {
  *out = int_text{false, false, 0, 1};
  const brol_item size = cursor->take();
  if (known_size(size)) decode(size, cursor->take(), is_signed, out);
  out->has_sign = out->negative || (state->flags & brol_flag_plus);
  out->digits = digit_count(out->magnitude, format_base(state));
  state->int_length = int_part_length_of(state, out->digits);
  state->text_length = add_saturating(state->int_length, out->has_sign ? 1 : 0);
}

void int_write(const brol_format_state* state, const int_text& number, char* destination, std::int64_t count) noexcept {
  if (count <= 0) return;
  if (number.has_sign) {
    *destination++ = number.negative ? '-' : '+';
    --count;
  }
  int_part_write(state, number.magnitude, state->int_length, destination, count);
}

namespace {

constexpr char k_upper_digits[] = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ";
constexpr char k_lower_digits[] = "0123456789abcdefghijklmnopqrstuvwxyz";

// The digits of v without grouping, the last one just before `end`; returns where the first stands.
char* write_digits(std::uint64_t v, unsigned base, char* end, const char* chars) noexcept {
  if (base == 10) {
    char* const start = end - decimal_digits(v);
    write_decimal(v, end);
    return start;
  }
  if ((base & (base - 1)) == 0) {
    const int shift = std::countr_zero(base);
    do {
      *--end = chars[v & (base - 1)];
      v >>= shift;
    } while (v != 0);
    return end;
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

// The whole integer part of `length` characters at destination.
void write_whole(const brol_format_state* state, std::uint64_t magnitude, std::int64_t length,
                 char* destination) noexcept {
  const unsigned base = format_base(state);
  const char* chars = (state->flags & brol_flag_lower) ? k_lower_digits : k_upper_digits;
  char* const end = destination + length;
  if (state->group_char == 0) {
    char* const start = write_digits(magnitude, base, end, chars);
    if (start > destination) std::memset(destination, '0', static_cast<std::size_t>(start - destination));
  } else if (base == 10) {
    write_grouped<10>(magnitude, base, destination, end, chars, state->group_char);
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
