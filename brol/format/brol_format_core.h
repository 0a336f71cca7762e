// The item-list formatting engine's codes, settings record, cursor and entry over raw items
// (brol_vformat). Callers include brol_format.h, which adds the entry over items given as arguments.
#pragma once

#include <cstdint>

#include "brol/format/brol_format_list.h"

// The codes are constants of their own types (brol_fmt_code, in brol_format_list.h): each converts to
// its item value, and in a list given as arguments its type tells which values must follow it.

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

// The settings of one output item and the results its conversion reports. The first eleven fields
// are the settings (reset to the defaults below); the last three are results.
struct brol_format_state {
  std::uint16_t flags;
  std::int64_t max_length;  // 0: no limit
  std::int64_t align;       // 0 none, 1 left, 2 centred, 3 right, 4 decimal
  std::int64_t width;
  std::int64_t column;
  std::int64_t min_digits;  // default 1
  std::int64_t min_frac;    // default 1
  std::int64_t max_frac;    // default 4
  std::int64_t base;        // default 10
  char group_char;          // 0: no grouping
  char point_char;          // default '.'
  std::int64_t int_length;
  std::int64_t frac_digits;
  std::int64_t text_length;
};

// Reads the items of a list. Reading past the end of the list yields 0, so a list that lacks a
// conversion's value or its closing 0 never makes the engine read past the list. The items themselves
// are trusted: a number where the engine expects an address (a literal text, the text of
// brol_fmt_strn or brol_fmt_mem, a long double or a ratio's pair) is read as one, so a mistaken list
// built at run time can make the engine read foreign memory. The template entries (brol_format,
// brol_string::append_format, brol_stream::write_format) check a list given as arguments at compile
// time and refuse such a list.
struct brol_fmt_cursor {
  const brol_item* next;
  const brol_item* end;

  // The next item, or the end item 0 past the end of the list.
  brol_item take() noexcept { return next != end ? *next++ : brol_fmt_end; }
};

// The engine. Formats the list that starts with `first` and continues at `cursor` into destination
// (size bytes, or null) and returns the length of the whole uncut text. At most size - 1 bytes and a
// NUL are written (nothing with a null destination or size <= 0). The engine works on its own copy of
// the cursor, so the same cursor can be handed to it again and the list is read from its start.
std::int64_t brol_vformat(char* destination, std::int64_t size, brol_item first, brol_fmt_cursor cursor) noexcept;
