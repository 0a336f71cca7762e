// The engine's conversion table and the pieces that every number conversion shares. For the
// conversions themselves and their tests; callers of the engine need only brol_format.h.
#pragma once

#include "brol/format/brol_format_core.h"

// A conversion (places 1 to 8 of the table). Called twice for one item:
//  - measure: destination null; consumes its further items from the cursor and sets text_length
//    (numbers also int_length and frac_digits, which the engine zeroes before the call);
//  - write: with a fresh copy of the cursor, the position to write at and count >= 1; consumes the
//    same items and writes exactly the first count characters of the measured text, never more.
using brol_fmt_conversion = void (*)(brol_format_state* state, brol_fmt_cursor* cursor, char* destination,
                                     std::int64_t count);

// Indexed by the conversion's item value; entry 0 is unused.
extern const brol_fmt_conversion brol_fmt_conversions[9];

// The conversions, one per place of the table.
void brol_conv_strn(brol_format_state* state, brol_fmt_cursor* cursor, char* destination, std::int64_t count);
void brol_conv_mem(brol_format_state* state, brol_fmt_cursor* cursor, char* destination, std::int64_t count);
void brol_conv_char(brol_format_state* state, brol_fmt_cursor* cursor, char* destination, std::int64_t count);
void brol_conv_int(brol_format_state* state, brol_fmt_cursor* cursor, char* destination, std::int64_t count);
void brol_conv_uint(brol_format_state* state, brol_fmt_cursor* cursor, char* destination, std::int64_t count);
void brol_conv_float(brol_format_state* state, brol_fmt_cursor* cursor, char* destination, std::int64_t count);
void brol_conv_fixed(brol_format_state* state, brol_fmt_cursor* cursor, char* destination, std::int64_t count);
void brol_conv_ratio(brol_format_state* state, brol_fmt_cursor* cursor, char* destination, std::int64_t count);

namespace brol::detail {

// The character of digit value d (0..35): '0'-'9', then 'A'-'Z' or, with the lower flag, 'a'-'z'.
char digit_char(const brol_format_state* state, unsigned d) noexcept;

// Integer part of a number: the number of characters (digits raised to min_digits, plus group
// separators) of `magnitude` in the base in force.
std::int64_t int_part_length(const brol_format_state* state, std::uint64_t magnitude) noexcept;

// Writes the integer part of `magnitude` that int_part_length measured as `length` characters,
// storing only the leftmost min(length, space) of them at destination.
void int_part_write(const brol_format_state* state, std::uint64_t magnitude, std::int64_t length, char* destination,
                    std::int64_t space) noexcept;

// Copies exactly k bytes of a text through the trim and case rules of state->flags (leading white
// space skipped under the trim flag; letters converted by the case field). Shared by literals and
// the string conversions.
void copy_text(const brol_format_state* state, char* destination, const char* text, std::int64_t k) noexcept;

// Length of the text of n bytes at `text` after trimming white space at both ends (under the trim
// flag; n itself otherwise).
std::int64_t trimmed_length(const brol_format_state* state, const char* text, std::int64_t n) noexcept;

// The base in force, state->base when it lies in 2..36, else 10, is format_base in
// brol_format_digits.h, with the integer item's measure and write steps.

// An integer item as measured: kept by the engine between the measure and the write step so that the
// value is read and its digits counted once.
struct int_text {
  bool negative;
  bool has_sign;  // '-' or, with the plus flag, '+'
  std::uint64_t magnitude;
  int digits;  // digits of the magnitude in the base in force
};

// A floating-point item as measured: kept by the engine between the measure and the write step, so
// that the value is scaled, rounded and split into its digits once.
struct float_text {
  enum kind_t : unsigned char { number, infinite, not_a_number } kind;
  bool negative;
  bool wide;           // the integer part needs more than 64 bits: only the conversion writes it
  std::int64_t p;      // fraction digits computed: min(max_frac, 256 / base)
  std::int64_t m;      // of which shown (trailing zeros dropped down to min_frac)
  std::uint64_t high;  // the integer part, unless wide
  unsigned char fraction[128];
};

// Reads a floating-point conversion's size code and value; sets int_length, frac_digits and
// text_length.
void float_measure(brol_format_state* state, brol_fmt_cursor* cursor, float_text* out) noexcept;

// Writes the first count characters of a measured floating-point text that is not wide.
void float_write(const brol_format_state* state, const float_text& number, char* destination,
                 std::int64_t count) noexcept;

// The integer item's pieces (digit counts, digits in fixed steps, the item measured and written,
// the one-integer list) are inline in brol_format_digits.h.

// Clamps a count setting taken from the list: negative values count as 0.
inline std::int64_t non_negative(std::int64_t v) noexcept { return v < 0 ? 0 : v; }

// a + b for a, b >= 0, staying at INT64_MAX once a huge setting has taken a length there.
inline std::int64_t add_saturating(std::int64_t a, std::int64_t b) noexcept {
  return b > INT64_MAX - a ? INT64_MAX : a + b;
}

}  // namespace brol::detail
