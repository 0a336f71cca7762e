// The item codes of the formatting engine, and the one table that says what each takes and what it
// sets. The compile-time check of a list (brol_format_list.h), the planner (brol_format_plan.h) and
// the item loop (brol_format.cpp, brol_format_steps.h) all read it; the codes' numbers appear here
// only. Adding a modifier is a row of k_codes, its constant and its step in apply_modifier.
#pragma once

#include <cstdint>

// One item of a list: a code below 4096, a parameter or value, or the address of a literal text.
using brol_item = std::uint64_t;

// A code of the item list (a conversion, modifier, flag, brol_fmt_again or brol_fmt_end) as a
// constant of its own type. It converts to its brol_item, so it fills run-time arrays and compares
// with items as the number did; in an argument list its type tells the template entries which
// values follow it.
template <brol_item Code>
struct brol_fmt_code {
  static constexpr brol_item value = Code;
  constexpr operator brol_item() const noexcept { return Code; }
};

// End of the list.
inline constexpr brol_fmt_code<0> brol_fmt_end{};
// Conversions (places 1 to 8 of the conversion table).
inline constexpr brol_fmt_code<1> brol_fmt_strn{};   // text address, maximum length
inline constexpr brol_fmt_code<2> brol_fmt_mem{};    // byte address, byte count
inline constexpr brol_fmt_code<3> brol_fmt_char{};   // character
inline constexpr brol_fmt_code<4> brol_fmt_int{};    // size code (1, 2, 4, 8), value: signed integer
inline constexpr brol_fmt_code<5> brol_fmt_uint{};   // size code (1, 2, 4, 8), value: unsigned integer
inline constexpr brol_fmt_code<6> brol_fmt_float{};  // size code (4, 8: double bits; 16: long double address)
inline constexpr brol_fmt_code<7> brol_fmt_fixed{};  // size code (4: 16.16, 8: 32.32), value
inline constexpr brol_fmt_code<8> brol_fmt_ratio{};  // size code (8: two int32, 16: two int64), pair address
// The next output item keeps the settings of the previous one.
inline constexpr brol_fmt_code<1024> brol_fmt_again{};
// Modifiers and the parameters they take.
inline constexpr brol_fmt_code<1025> brol_fmt_left{};         // width
inline constexpr brol_fmt_code<1026> brol_fmt_center{};       // width
inline constexpr brol_fmt_code<1027> brol_fmt_right{};        // width
inline constexpr brol_fmt_code<1028> brol_fmt_column{};       // width, column
inline constexpr brol_fmt_code<1029> brol_fmt_maxlen{};       // maximum
inline constexpr brol_fmt_code<1032> brol_fmt_digits{};       // least integer digits
inline constexpr brol_fmt_code<1033> brol_fmt_frac{};         // least, most fraction digits
inline constexpr brol_fmt_code<1034> brol_fmt_base{};         // base 2..36
inline constexpr brol_fmt_code<1035> brol_fmt_point{};        // decimal point character
inline constexpr brol_fmt_code<1036> brol_fmt_group{};        // group separator (0: none)
inline constexpr brol_fmt_code<1037> brol_fmt_group_point{};  // separator << 8 | point
// Flags (they add up).
inline constexpr brol_fmt_code<2049> brol_fmt_trim{};
inline constexpr brol_fmt_code<2050> brol_fmt_upper{};
inline constexpr brol_fmt_code<2052> brol_fmt_lower{};
inline constexpr brol_fmt_code<2054> brol_fmt_swapcase{};
inline constexpr brol_fmt_code<2056> brol_fmt_ellipsis{};
inline constexpr brol_fmt_code<2064> brol_fmt_plus{};

// Flag bits inside brol_format_state::flags.
inline constexpr std::uint16_t brol_flag_trim = 1;
inline constexpr std::uint16_t brol_flag_upper = 2;
inline constexpr std::uint16_t brol_flag_lower = 4;
inline constexpr std::uint16_t brol_flag_case = 6;
inline constexpr std::uint16_t brol_flag_ellipsis = 8;
inline constexpr std::uint16_t brol_flag_plus = 16;

namespace brol::detail {

// The ranges of item values: conversions from 1, then brol_fmt_again, the modifiers after it, the
// flags (k_first_flag plus their bits, the low ten count), and literal text addresses from 4096.
inline constexpr brol_item k_last_conversion = brol_fmt_ratio;
inline constexpr brol_item k_first_flag = 2048;
inline constexpr brol_item k_flag_bits = 0x3FF;
inline constexpr brol_item k_first_literal = 4096;

// What an item is, from its value.
enum class item_kind : unsigned char {
  end,
  integer,     // brol_fmt_int or brol_fmt_uint: the engine's own integer step
  conversion,  // any other conversion
  again,
  modifier,  // a modifier in the table, or a code of the modifiers' range the engine passes over
  flags,
  literal,
  unknown,  // a value that is no item: passed over
};

// What one further item of a code must be.
enum class slot : unsigned char {
  none,
  integer,  // a count, character or integer value
  size,     // a conversion's size code: fitted at run time to the value that follows (fit_size)
  real,     // brol_fmt_float's value: a double, or with size code 16 the address of a long double
  text,     // brol_fmt_strn's text address
  bytes,    // brol_fmt_mem's byte address
  pair,     // brol_fmt_ratio's address of two int32 or two int64
};

// The setting a modifier sets: its step in apply_modifier (brol_format_steps.h).
enum class setting : unsigned char {
  none,
  align_left,     // alignment and width
  align_center,   // alignment and width
  align_right,    // alignment and width
  align_decimal,  // alignment, width and column
  max_length,
  min_digits,
  fraction,  // least and most fraction digits
  base,
  point,
  group,
  group_point,  // separator << 8 | point
};

// How a conversion reads its size code (fit_size in brol_format_list.h).
enum class size_rule : unsigned char { none, integer, floating, fixed, ratio };

struct code_entry {
  brol_item code;
  item_kind kind;
  unsigned char count;  // further items
  slot slots[2];
  setting sets;
  size_rule sizes;
};

inline constexpr code_entry k_codes[] = {
    {brol_fmt_end, item_kind::end, 0, {}, {}, {}},
    {brol_fmt_strn, item_kind::conversion, 2, {slot::text, slot::integer}, {}, {}},
    {brol_fmt_mem, item_kind::conversion, 2, {slot::bytes, slot::integer}, {}, {}},
    {brol_fmt_char, item_kind::conversion, 1, {slot::integer}, {}, {}},
    {brol_fmt_int, item_kind::integer, 2, {slot::size, slot::integer}, {}, size_rule::integer},
    {brol_fmt_uint, item_kind::integer, 2, {slot::size, slot::integer}, {}, size_rule::integer},
    {brol_fmt_float, item_kind::conversion, 2, {slot::size, slot::real}, {}, size_rule::floating},
    {brol_fmt_fixed, item_kind::conversion, 2, {slot::size, slot::integer}, {}, size_rule::fixed},
    {brol_fmt_ratio, item_kind::conversion, 2, {slot::size, slot::pair}, {}, size_rule::ratio},
    {brol_fmt_again, item_kind::again, 0, {}, {}, {}},
    {brol_fmt_left, item_kind::modifier, 1, {slot::integer}, setting::align_left, {}},
    {brol_fmt_center, item_kind::modifier, 1, {slot::integer}, setting::align_center, {}},
    {brol_fmt_right, item_kind::modifier, 1, {slot::integer}, setting::align_right, {}},
    {brol_fmt_column, item_kind::modifier, 2, {slot::integer, slot::integer}, setting::align_decimal, {}},
    {brol_fmt_maxlen, item_kind::modifier, 1, {slot::integer}, setting::max_length, {}},
    {brol_fmt_digits, item_kind::modifier, 1, {slot::integer}, setting::min_digits, {}},
    {brol_fmt_frac, item_kind::modifier, 2, {slot::integer, slot::integer}, setting::fraction, {}},
    {brol_fmt_base, item_kind::modifier, 1, {slot::integer}, setting::base, {}},
    {brol_fmt_point, item_kind::modifier, 1, {slot::integer}, setting::point, {}},
    {brol_fmt_group, item_kind::modifier, 1, {slot::integer}, setting::group, {}},
    {brol_fmt_group_point, item_kind::modifier, 1, {slot::integer}, setting::group_point, {}},
};

// The kind of an item value, by the ranges above.
constexpr item_kind kind_of(brol_item code) noexcept {
  if (code >= k_first_literal) return item_kind::literal;
  if (code == brol_fmt_end) return item_kind::end;
  if (code == brol_fmt_int || code == brol_fmt_uint) return item_kind::integer;
  if (code <= k_last_conversion) return item_kind::conversion;
  if (code < brol_fmt_again) return item_kind::unknown;
  if (code == brol_fmt_again) return item_kind::again;
  if (code < k_first_flag) return item_kind::modifier;
  if (code <= k_first_flag + k_flag_bits) return item_kind::flags;
  return item_kind::unknown;
}

// The table's row of a code; a code of the modifiers' or flags' range without a row takes nothing.
constexpr code_entry entry_of(brol_item code) noexcept {
  for (const code_entry& e : k_codes) {
    if (e.code == code) return e;
  }
  return {code, kind_of(code), 0, {}, {}, {}};
}

// The modifiers' rows by code - brol_fmt_again, for the item loop to find a row without a search.
inline constexpr auto k_modifiers = [] {
  struct table {
    code_entry rows[16];
  } t{};
  for (brol_item code = brol_fmt_again + 1; code < brol_fmt_again + 16; ++code)
    t.rows[code - brol_fmt_again] = entry_of(code);
  return t;
}();

inline constexpr code_entry modifier_entry(brol_item code) noexcept {
  return code - brol_fmt_again < 16 ? k_modifiers.rows[code - brol_fmt_again]
                                    : code_entry{code, item_kind::modifier, 0, {}, {}, {}};
}

// The item loop's decisions, taken in list order by the loop at run time and by the planner at
// compile time. Settings are reset lazily: a modifier or flag marks them changed, an output item
// (literal or conversion) asks for a reset before the next item, brol_fmt_again cancels that, and
// the reset is done only when the settings were changed. A literal under changed settings is laid
// out (styled); under the defaults it is copied plainly.
struct item_sequence {
  bool changed = false;
  bool reset_pending = false;

  struct decision {
    bool reset;   // reset the settings before this item
    bool styled;  // a literal is laid out under settings
  };

  constexpr decision next(item_kind kind) noexcept {
    if (kind == item_kind::again) {
      reset_pending = false;
      return {false, false};
    }
    decision d{false, false};
    if (reset_pending) {
      d.reset = changed;
      changed = reset_pending = false;
    }
    d.styled = changed;
    if (kind == item_kind::literal || kind == item_kind::integer || kind == item_kind::conversion) {
      reset_pending = true;
    } else if (kind == item_kind::modifier || kind == item_kind::flags) {
      changed = true;
    }
    return d;
  }
};

}  // namespace brol::detail

// A flag item whose bits are chosen at run time, made by brol_fmt_flags: it takes no further items,
// like the named flags, and adds its bits to the settings.
struct brol_fmt_flag_bits {
  brol_item value;
  constexpr operator brol_item() const noexcept { return value; }
};

// The flag item of the given flag bits (brol_flag_trim, brol_flag_plus, ...; the low ten bits count):
// brol_fmt_flags(brol_flag_plus | brol_flag_lower) is brol_fmt_plus, brol_fmt_lower.
constexpr brol_fmt_flag_bits brol_fmt_flags(unsigned bits) noexcept {
  return {brol::detail::k_first_flag + (bits & brol::detail::k_flag_bits)};
}
