// The binary fixed-point and quotient conversions, and the number output shared with the
// floating-point conversion.
#include <cstring>

#include "brol/format/brol_format_number.h"

namespace brol::detail {

void number_out::repeat(char c, std::int64_t n) noexcept {
  if (n <= 0) return;
  const std::int64_t stored = n < room ? n : room;
  if (stored > 0) {
    std::memset(at, c, static_cast<std::size_t>(stored));
    at += stored;
    room -= stored;
  }
  grow(n);
}

void number_out::sign(const brol_format_state* state, bool negative) noexcept {
  if (negative) {
    put('-');
  } else if (state->flags & brol_flag_plus) {
    put('+');
  }
}

void number_out::int_part(const brol_format_state* state, std::uint64_t magnitude, std::int64_t int_length) noexcept {
  if (room > 0) {
    int_part_write(state, magnitude, int_length, at, room);
    const std::int64_t stored = int_length < room ? int_length : room;
    at += stored;
    room -= stored;
  }
  grow(int_length);
}

}  // namespace brol::detail

namespace {

using brol::detail::number_out;

constexpr std::uint64_t k_low32 = 0xFFFFFFFFu;

// Sign, integer part and point shared by fixed-point and quotient numbers. The point is always '.':
// point_char belongs to the floating-point conversion alone.
void lead(brol_format_state* st, number_out& out, bool negative, std::uint64_t int_magnitude, bool point) noexcept {
  out.sign(st, negative);
  if (out.measuring()) st->int_length = brol::detail::int_part_length(st, int_magnitude);
  out.int_part(st, int_magnitude, st->int_length);
  if (point) out.put('.');
}

// A fraction by long division whose remainder is not 0 after 64 digits never ends (a denominator up
// to 2^64 that divides a power of the base divides its 64th power), and one whose remainder is 0 goes
// on with zeros only. So from digit 64 on the measure call counts the digits still to come instead of
// producing them, and a huge max_frac or min_frac costs no time (the write call stops at its count).
// True when it counted; *i is then where the digit loop would have ended.
bool count_rest(number_out& out, std::int64_t* i, bool ended, std::int64_t min_frac, std::int64_t max_frac) noexcept {
  if (!out.measuring() || *i < 64) return false;
  const std::int64_t last = ended && min_frac < max_frac ? min_frac : max_frac;
  if (last > *i) {
    out.grow(last - *i);
    *i = last;
  }
  return true;
}

// Reports the measured lengths; the write call keeps those of its own measure call.
void finish(brol_format_state* st, const number_out& out, std::int64_t frac_digits) noexcept {
  if (!out.measuring()) return;
  st->frac_digits = frac_digits;
  st->text_length = out.length;
}

// The 32.32 value of a brol_fmt_fixed item. A 16.16 item is scaled by 65536 in unsigned arithmetic,
// so an item beyond the 16.16 range wraps instead of overflowing.
std::int64_t take_fixed(brol_fmt_cursor* cursor) noexcept {
  const brol_item size = cursor->take();
  if (size == 4) return static_cast<std::int64_t>(cursor->take() * 65536u);
  if (size == 8) return static_cast<std::int64_t>(cursor->take());
  return 0;
}

}  // namespace

// Fraction digits are cut, not rounded: each is the integer part of the fraction times the base, and
// 32 fraction bits times a base up to 36 stay within 64 bits. The most negative value has the
// magnitude 2^63 as an unsigned number and prints as -2147483648.0.
void brol_conv_fixed(brol_format_state* state, brol_fmt_cursor* cursor, char* destination, std::int64_t count) {
  const std::int64_t v = take_fixed(cursor);
  const std::uint64_t magnitude = v < 0 ? 0 - static_cast<std::uint64_t>(v) : static_cast<std::uint64_t>(v);
  std::uint64_t f = magnitude & k_low32;
  const std::int64_t min_frac = brol::detail::non_negative(state->min_frac);
  const std::int64_t max_frac = brol::detail::non_negative(state->max_frac);
  const unsigned base = brol::detail::format_base(state);
  number_out out = destination ? number_out::write(destination, count) : number_out::measure();
  lead(state, out, v < 0, magnitude >> 32, min_frac > 0 || f != 0);
  std::int64_t i = 0;
  for (; (i < min_frac || f != 0) && i < max_frac && out.wants_more(); ++i) {
    if (count_rest(out, &i, f == 0, min_frac, max_frac)) break;
    const std::uint64_t t = f * base;
    out.put(brol::detail::digit_char(state, static_cast<unsigned>(t >> 32)));
    f = t & k_low32;
  }
  out.repeat('0', min_frac - i);
  finish(state, out, i > min_frac ? i : min_frac);
}

namespace {

// Numerator and denominator of a brol_fmt_ratio item. An unknown size code, a null pair address and
// a denominator of 0 all give 0 over 1, so the conversion never divides by zero.
struct ratio_value {
  std::int64_t numerator;
  std::int64_t denominator;
};

ratio_value take_ratio(brol_fmt_cursor* cursor) noexcept {
  const brol_item size = cursor->take();
  const brol_item address = cursor->take();
  ratio_value r{0, 1};
  if (address < brol::detail::k_first_literal) return {0, 1};
  if (size == 8) {
    std::int32_t pair[2];
    std::memcpy(pair, reinterpret_cast<const void*>(address), sizeof pair);
    r = {pair[0], pair[1]};
  } else if (size == 16) {
    std::memcpy(&r, reinterpret_cast<const void*>(address), sizeof r);
  }
  return r.denominator == 0 ? ratio_value{0, 1} : r;
}

std::uint64_t magnitude_of(std::int64_t v) noexcept {
  return v < 0 ? 0 - static_cast<std::uint64_t>(v) : static_cast<std::uint64_t>(v);
}

// One step of the long division: r < d becomes (r * base) mod d and returns (r * base) / d. When
// r * base might not fit 64 bits it adds r base times, reducing below d after each addition; as r
// and d are at most 2^63 the sum stays below 2^64.
unsigned next_digit(std::uint64_t& r, std::uint64_t d, unsigned base) noexcept {
  if (r <= UINT64_MAX / base) {
    const std::uint64_t t = r * base;
    r = t % d;
    return static_cast<unsigned>(t / d);
  }
  std::uint64_t t = 0;
  unsigned digit = 0;
  for (unsigned k = 0; k < base; ++k) {
    t += r;
    if (t >= d) {
      t -= d;
      ++digit;
    }
  }
  r = t;
  return digit;
}

}  // namespace

// The division works on magnitudes as unsigned numbers, so INT64_MIN over -1 is 9223372036854775808.
// Fraction digits are cut, not rounded, and never filled with zeros past max_frac.
void brol_conv_ratio(brol_format_state* state, brol_fmt_cursor* cursor, char* destination, std::int64_t count) {
  const ratio_value v = take_ratio(cursor);
  const std::uint64_t a = magnitude_of(v.numerator);
  const std::uint64_t b = magnitude_of(v.denominator);
  std::uint64_t r = a % b;
  const std::int64_t min_frac = brol::detail::non_negative(state->min_frac);
  const std::int64_t max_frac = brol::detail::non_negative(state->max_frac);
  const unsigned base = brol::detail::format_base(state);
  const bool negative = v.numerator != 0 && (v.numerator < 0) != (v.denominator < 0);
  number_out out = destination ? number_out::write(destination, count) : number_out::measure();
  lead(state, out, negative, a / b, min_frac > 0 || r != 0);
  std::int64_t i = 0;
  for (; i < max_frac && (i < min_frac || r != 0) && out.wants_more(); ++i) {
    if (count_rest(out, &i, r == 0, min_frac, max_frac)) break;
    out.put(brol::detail::digit_char(state, next_digit(r, b, base)));
  }
  finish(state, out, i);
}
