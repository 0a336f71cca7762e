// The item-list formatting engine's settings record, cursor and entry over raw items (brol_vformat),
// with the codes (brol_format_codes.h) and the compile-time check of lists given as arguments
// (brol_format_list.h): what the template entries of strings and streams need. brol_format.h adds
// brol_format, the entry over items given as arguments.
#pragma once

#include <cstdint>

#include "brol/format/brol_format_list.h"

// The alignment of an output item in its width.
enum class brol_align : unsigned char {
  none,
  left,
  centred,
  right,
  decimal,  // the point (or the end of the integer part) at a column
};

// The settings of one output item and the results its conversion reports. The first eleven fields
// are the settings (reset to the defaults below); the last three are results.
struct brol_format_state {
  std::uint16_t flags;
  std::int64_t max_length;  // 0: no limit
  brol_align align;
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
