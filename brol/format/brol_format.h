// The item-list formatting engine: literal texts, conversions, modifiers and flags in output order,
// written into a fixed-size buffer, cut and terminated there; the result is the uncut length.
#pragma once

#include <bit>
#include <cstdint>
#include <type_traits>

// One item of a list: a code below 4096, a parameter or value, or the address of a literal text.
using brol_item = std::uint64_t;

// End of the list.
inline constexpr brol_item brol_fmt_end = 0;
// Conversions (places 1 to 8 of the conversion table).
inline constexpr brol_item brol_fmt_strn = 1;   // text address, maximum length
inline constexpr brol_item brol_fmt_mem = 2;    // byte address, byte count
inline constexpr brol_item brol_fmt_char = 3;   // character
inline constexpr brol_item brol_fmt_int = 4;    // size code (1, 2, 4, 8), value: signed integer
inline constexpr brol_item brol_fmt_uint = 5;   // size code (1, 2, 4, 8), value: unsigned integer
inline constexpr brol_item brol_fmt_float = 6;  // size code (4, 8: double bits; 16: long double address)
inline constexpr brol_item brol_fmt_fixed = 7;  // size code (4: 16.16, 8: 32.32), value
inline constexpr brol_item brol_fmt_ratio = 8;  // size code (8: two int32, 16: two int64), pair address
// The next output item keeps the settings of the previous one.
inline constexpr brol_item brol_fmt_again = 1024;
// Modifiers and the parameters they take.
inline constexpr brol_item brol_fmt_left = 1025;         // width
inline constexpr brol_item brol_fmt_center = 1026;       // width
inline constexpr brol_item brol_fmt_right = 1027;        // width
inline constexpr brol_item brol_fmt_column = 1028;       // width, column
inline constexpr brol_item brol_fmt_maxlen = 1029;       // maximum
inline constexpr brol_item brol_fmt_digits = 1032;       // least integer digits
inline constexpr brol_item brol_fmt_frac = 1033;         // least, most fraction digits
inline constexpr brol_item brol_fmt_base = 1034;         // base 2..36
inline constexpr brol_item brol_fmt_point = 1035;        // decimal point character
inline constexpr brol_item brol_fmt_group = 1036;        // group separator (0: none)
inline constexpr brol_item brol_fmt_group_point = 1037;  // separator << 8 | point
// Flags (they add up).
inline constexpr brol_item brol_fmt_trim = 2049;
inline constexpr brol_item brol_fmt_upper = 2050;
inline constexpr brol_item brol_fmt_lower = 2052;
inline constexpr brol_item brol_fmt_swapcase = 2054;
inline constexpr brol_item brol_fmt_ellipsis = 2056;
inline constexpr brol_item brol_fmt_plus = 2064;

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
// conversion's value or its closing 0 can never make the engine read foreign memory.
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

namespace brol::detail {

template <class>
inline constexpr bool always_false = false;

// One argument of an item list as its 64-bit item: a pointer as its address, an integer sign- or
// zero-extended, a float or double as the bits of a double.
template <class T>
inline brol_item to_item(T value) noexcept {
  if constexpr (std::is_null_pointer_v<T>) {
    return 0;
  } else if constexpr (std::is_pointer_v<T>) {
    return static_cast<brol_item>(reinterpret_cast<std::uintptr_t>(value));
  } else if constexpr (std::is_enum_v<T>) {
    return to_item(static_cast<std::underlying_type_t<T>>(value));
  } else if constexpr (std::is_integral_v<T> && std::is_signed_v<T>) {
    return static_cast<brol_item>(static_cast<std::int64_t>(value));
  } else if constexpr (std::is_integral_v<T>) {
    return static_cast<brol_item>(value);
  } else if constexpr (std::is_same_v<T, float> || std::is_same_v<T, double>) {
    return std::bit_cast<brol_item>(static_cast<double>(value));
  } else {
    static_assert(always_false<T>,
                  "an item is a pointer, an integer or a double; pass a long double by its address "
                  "with size code 16");
    return 0;
  }
}

}  // namespace brol::detail

// brol_format(destination, size, items..., 0): the engine over the items given as arguments, each
// turned into one 64-bit item by brol::detail::to_item.
template <class First, class... Items>
inline std::int64_t brol_format(char* destination, std::int64_t size, First first, Items... items) noexcept {
  const brol_item list[] = {brol::detail::to_item(items)..., brol_fmt_end};
  return brol_vformat(destination, size, brol::detail::to_item(first),
                      brol_fmt_cursor{list, list + sizeof...(Items) + 1});
}
