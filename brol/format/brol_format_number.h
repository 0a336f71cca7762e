// Output pieces shared by the floating-point, fixed-point and quotient conversions: one writer that
// counts in the measure call and stores, cut at the write count, in the write call.
#pragma once

#include <cstdint>

#include "brol/format/brol_format_digits.h"

namespace brol::detail {

// The character of digit value d: digit_char without a call for the decimal digits.
inline char digit(const brol_format_state* state, unsigned d) noexcept {
  return d < 10 ? static_cast<char>('0' + d) : digit_char(state, d);
}

// The text of one number conversion. With a null `at` (the measure call) nothing is stored and only
// `length` grows; otherwise characters are stored in order while `room` is left, so no conversion
// writes past its count. `length` always counts the whole text.
struct number_out {
  char* at;
  std::int64_t room;
  std::int64_t length;

  static number_out measure() noexcept { return {nullptr, 0, 0}; }
  static number_out write(char* destination, std::int64_t count) noexcept { return {destination, count, 0}; }

  bool measuring() const noexcept { return at == nullptr; }
  // True while the write call still has room; the measure call always goes on.
  bool wants_more() const noexcept { return at == nullptr || room > 0; }

  void put(char c) noexcept {
    if (room > 0) {
      *at++ = c;
      --room;
    }
    grow(1);
  }
  // Adds n >= 0 to the length, which stays at INT64_MAX once a huge setting has taken it there.
  void grow(std::int64_t n) noexcept { length = add_saturating(length, n); }
  // n copies of c (n <= 0: none); counts all of them, stores what fits.
  void repeat(char c, std::int64_t n) noexcept;
  // '-' for a negative value, '+' for any other under the plus flag, nothing otherwise.
  void sign(const brol_format_state* state, bool negative) noexcept;
  // The integer part of `magnitude`, measured by int_part_length as `int_length` characters.
  void int_part(const brol_format_state* state, std::uint64_t magnitude, std::int64_t int_length) noexcept;
};

}  // namespace brol::detail
