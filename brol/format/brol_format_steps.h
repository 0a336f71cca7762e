// The steps of the formatting engine that run for each item: the settings, the output step with
// padding and cutting, and the literal, integer and conversion items. The item loop (brol_format.cpp)
// and the lists planned at compile time (brol_format_plan.h) run the same steps, so they write the
// same bytes.
#pragma once

#include <cstdint>
#include <cstring>

#include "brol/format/brol_format_digits.h"

// Forced inlining where the build optimises: there the constants of a planned list fold through the
// step. Without optimisation (the coverage build) each step stays one function, so its branches are
// counted once and not once for every list that inlines it.
#if defined(__OPTIMIZE__)
#define BROL_FORMAT_INLINE [[gnu::always_inline]] inline
#else
#define BROL_FORMAT_INLINE inline
#endif

namespace brol::detail {

inline void reset_settings(brol_format_state* st) noexcept {
  st->flags = 0;
  st->max_length = 0;
  st->align = brol_align::none;
  st->width = 0;
  st->column = 0;
  st->min_digits = 1;
  st->min_frac = 1;
  st->max_frac = 4;
  st->base = 10;
  st->group_char = 0;
  st->point_char = '.';
}

// A modifier's step: its parameters (as many as its row of the code table says) taken from the list,
// then the setting it sets. Codes of the modifiers' range without a row take nothing.
BROL_FORMAT_INLINE void apply_modifier(brol_format_state* st, brol_item code, brol_fmt_cursor* cur) noexcept {
  const code_entry& e = modifier_entry(code);
  brol_item p[2] = {0, 0};
  for (unsigned k = 0; k < e.count; ++k) p[k] = cur->take();
  const auto count = [](brol_item v) { return non_negative(static_cast<std::int64_t>(v)); };
  switch (e.sets) {
    case setting::align_left:
    case setting::align_center:
    case setting::align_right:
    case setting::align_decimal:
      st->align = static_cast<brol_align>(static_cast<unsigned>(e.sets) - static_cast<unsigned>(setting::align_left) +
                                          static_cast<unsigned>(brol_align::left));
      st->width = count(p[0]);
      if (e.sets == setting::align_decimal) st->column = count(p[1]);
      break;
    case setting::max_length:
      st->max_length = count(p[0]);
      break;
    case setting::min_digits:
      st->min_digits = static_cast<std::int64_t>(p[0]);
      break;
    case setting::fraction:
      st->min_frac = static_cast<std::int64_t>(p[0]);
      st->max_frac = static_cast<std::int64_t>(p[1]);
      break;
    case setting::base:
      st->base = static_cast<std::int64_t>(p[0]);
      break;
    case setting::point:
      st->point_char = static_cast<char>(p[0] & 0xFF);
      break;
    case setting::group:
      st->group_char = static_cast<char>(p[0] & 0xFF);
      break;
    case setting::group_point:
      st->group_char = static_cast<char>((p[0] >> 8) & 0xFF);
      st->point_char = static_cast<char>(p[0] & 0xFF);
      break;
    case setting::none:
      break;
  }
}

inline void fill_blanks(char* at, std::int64_t n) noexcept { fill_short<' '>(at, n); }

// Blanks in the first n (0 to 16) of the 16 bytes at `at`, the others stored back as they were: one
// fixed-size load, blend and store, where the branches of a copy by length would be mispredicted by
// pad lengths that vary with the values. All 16 bytes must lie inside the destination.
using byte_lanes = signed char __attribute__((vector_size(16)));

inline void blend_blanks(char* at, std::int64_t n) noexcept {
  static constexpr byte_lanes index = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15};
  static constexpr byte_lanes blanks = {' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' '};
  byte_lanes old;
  std::memcpy(&old, at, sizeof old);
  const byte_lanes mask = index < static_cast<signed char>(n);
  const byte_lanes result = (old & ~mask) | (blanks & mask);
  std::memcpy(at, &result, sizeof result);
}

// The destination as the output step sees it: limit L, the uncut length so far, and the start.
struct format_output {
  char* start;
  std::int64_t limit;
  std::int64_t total;

  // Room left for characters; the written text is always the first min(total, limit) characters.
  std::int64_t room() const noexcept { return total < limit ? limit - total : 0; }
  char* position() const noexcept { return start + total; }
  void grow(std::int64_t n) noexcept { total = add_saturating(total, n); }
  void pad(std::int64_t n) noexcept {
    const std::int64_t w = n < room() ? n : room();
    if (w > 0) fill_blanks(position(), w);
    grow(n);
  }
};

// What produces an output item's text in the write step. Literals are copied; integers and most
// floating-point numbers were read and split by the measure step, which keeps them here, so the write
// step only lays out their digits; the other conversions are called again on the cursor copy saved
// before their measure call.
struct item_text {
  enum kind_t { literal, integer, floating, conversion } kind;
  const char* text;
  brol_fmt_conversion call;
  brol_fmt_cursor saved;
  int_text number;
  float_text real;
};

inline void write_item_text(brol_format_state* st, item_text* item, char* at, std::int64_t k) noexcept {
  switch (item->kind) {
    case item_text::literal:
      copy_text(st, at, item->text, k);
      break;
    case item_text::integer:
      int_write(st, item->number, at, k);
      break;
    case item_text::floating:
      float_write(st, item->real, at, k);
      break;
    case item_text::conversion:
      item->call(st, &item->saved, at, k);
      break;
  }
}

// The leading pad of an item shown in `shown` characters.
inline std::int64_t leading_pad(const brol_format_state* st, std::int64_t shown) noexcept {
  switch (st->align) {
    case brol_align::centred:
      return non_negative(st->width / 2 - shown / 2);
    case brol_align::right:
      return non_negative(st->width - shown);
    case brol_align::decimal:
      return non_negative(st->column - st->int_length);
    default:
      return 0;
  }
}

// The output step of an item of n characters that is not shortened and fits whole, pads included
// (the rule): writes the pads and returns where the text goes. Null otherwise, and nothing written.
inline char* place_whole(const brol_format_state* st, format_output* out, std::int64_t n) noexcept {
  // A measuring run has no destination to place into (and no pointer to offset).
  if (st->max_length != 0 || out->start == nullptr) return nullptr;
  const std::int64_t p = leading_pad(st, n);
  const std::int64_t t = non_negative(st->width - n - p);
  const std::int64_t room = out->room();
  if (p > room || n > room - p || t > room - p - n) return nullptr;
  char* at = out->position();
  // A pad of up to 16 is blended in where 16 bytes of the destination follow it (room counts the
  // positions before the terminator's, so room - 15 >= 0 leaves 16 bytes).
  if (p > 0) {
    if (p <= 16 && room >= 15) {
      blend_blanks(at, p);
    } else {
      fill_blanks(at, p);
    }
  }
  if (t > 0) {
    if (t <= 16 && room - p - n >= 15) {
      blend_blanks(at + p + n, t);
    } else {
      fill_blanks(at + p + n, t);
    }
  }
  out->total += p + n + t;
  return at + p;
}

// The output step of any item: pads, the text shortened and cut, with the uncut length counted.
inline void output_step(brol_format_state* st, format_output* out, std::int64_t n, item_text* item) noexcept {
  std::int64_t shown = n;
  std::int64_t kept = n;
  if (st->max_length != 0 && n > st->max_length) {
    shown = st->max_length;
    kept = (st->flags & brol_flag_ellipsis) ? non_negative(shown - 3) : shown;
  }
  const std::int64_t p = leading_pad(st, shown);
  if (p > 0) out->pad(p);

  const std::int64_t room = out->room();
  const std::int64_t k = kept < room ? kept : room;
  const std::int64_t s = shown < room ? shown : room;
  if (s > 0) {
    char* at = out->position();
    if (k > 0) write_item_text(st, item, at, k);
    if (s > k) std::memset(at + k, '.', static_cast<std::size_t>(s - k));
  }
  out->grow(shown);

  const std::int64_t t = st->width - shown - p;
  if (t > 0) out->pad(t);
}

// A literal with the default settings: the text, cut at the end of the buffer.
inline void plain_literal(format_output* out, const char* text) noexcept {
  const auto n = static_cast<std::int64_t>(std::strlen(text));
  const std::int64_t room = out->room();
  if (room > 0) copy_short(out->position(), text, n < room ? n : room);
  out->grow(n);
}

// A plain decimal integer item of up to 10 digits (or hexadecimal of up to 16) that fits whole with
// its pads, where 16 bytes of the destination follow its leading pad and the pad and the text together
// are at most 16: the blanks, the sign and the digits are made in one register and blended in with one
// load and one store, without a choice by the length of the number or of the pad (both vary with the
// values). False, and nothing written, for any other. Out of line: inline it made the item loop
// larger, and the table row (which never takes it) measured 8% slower.
[[gnu::noinline]] inline bool blend_integer(const brol_format_state* st, format_output* out, std::int64_t n,
                                            const int_text& number) noexcept {
  const std::int64_t length = st->int_length;
  const bool decimal = st->base == 10 && length <= 10;
  const bool hexadecimal = st->base == 16 && length <= 16;
  if (!(decimal || hexadecimal) || st->group_char != 0 || st->max_length != 0 || out->start == nullptr) return false;
  const std::int64_t p = leading_pad(st, n);
  const std::int64_t t = non_negative(st->width - n - p);
  const std::int64_t room = out->room();
  // room counts the positions before the terminator's: room + 1 bytes belong to the destination.
  if (p + n > 16 || room + 1 < 16 || p + n + t > room) return false;
  const digits_register digits =
      decimal ? last_digits(number.magnitude, static_cast<int>(length))
              : hex_digits(number.magnitude, (st->flags & brol_flag_lower) != 0) >> (8 * (16 - length));
  const int has_sign = number.has_sign ? 1 : 0;
  const digits_register text =
      digits << (8 * has_sign) | static_cast<unsigned char>((number.negative ? '-' : '+') & -has_sign);
  const digits_register blanks = static_cast<digits_register>(0x2020202020202020ULL) << 64 | 0x2020202020202020ULL;
  const int shift = static_cast<int>(8 * p);  // below 128: the text has at least one character
  const digits_register line = (blanks & ~(~static_cast<digits_register>(0) << shift)) | text << shift;
  char* at = out->position();
  blend_low_bytes(at, line, static_cast<int>(p + n));
  if (t > 0) fill_blanks(at + p + n, t);
  out->total += p + n + t;
  return true;
}

// One integer item: measured, then written where it fits whole, else through the general step.
inline void integer_item(brol_format_state* st, format_output* out, brol_fmt_cursor* cursor, bool is_signed,
                         item_text* item) noexcept {
  st->frac_digits = 0;
  int_measure(st, cursor, is_signed, &item->number);
  const std::int64_t n = st->text_length;
  if (blend_integer(st, out, n, item->number)) return;
  if (char* at = place_whole(st, out, n)) {
    int_write(st, item->number, at, n);
    return;
  }
  item->kind = item_text::integer;
  output_step(st, out, n, item);
}

// A literal left-aligned in a width of at most 16, untouched by trimming, casing or a maximum length,
// with at least 31 positions left (so 16 bytes of the destination follow its n <= 16 characters): the
// text copied and its trailing pad blended in, without the general step's choices. False, and nothing
// written, for any other. Always inline: in a planned list the settings are constants here, and all
// the tests but the lengths' fold away.
BROL_FORMAT_INLINE bool left_literal(brol_format_state* st, format_output* out, const char* text,
                                     std::int64_t n) noexcept {
  if (st->align != brol_align::left || st->width > 16 || n > 16 || st->max_length != 0 ||
      (st->flags & (brol_flag_trim | brol_flag_case)) != 0 || out->start == nullptr || out->room() < 31) {
    return false;
  }
  char* at = out->position();
  copy_short(at, text, n);
  const std::int64_t t = st->width > n ? st->width - n : 0;
  blend_blanks(at + n, t);
  st->int_length = 0;
  out->total += n + t;
  return true;
}

// A literal of n characters under settings (trimmed, cased, laid out).
inline void literal_measured(brol_format_state* st, format_output* out, const char* text, std::int64_t n,
                             item_text* item) noexcept {
  if (st->flags & brol_flag_trim) n = trimmed_length(st, text, n);
  st->int_length = 0;
  if (char* at = place_whole(st, out, n)) {
    if (n > 0) copy_text(st, at, text, n);
    return;
  }
  item->kind = item_text::literal;
  item->text = text;
  output_step(st, out, n, item);
}

// A literal under settings.
inline void literal_item(brol_format_state* st, format_output* out, const char* text, item_text* item) noexcept {
  const auto n = static_cast<std::int64_t>(std::strlen(text));
  if (left_literal(st, out, text, n)) return;
  literal_measured(st, out, text, n, item);
}

// Any other conversion: a floating-point number is split once and kept for the write (unless its
// integer part is wide); the others are called again on the saved cursor to write.
inline void conversion_item(brol_format_state* st, format_output* out, brol_item code, brol_fmt_cursor* cursor,
                            item_text* item) noexcept {
  st->int_length = st->frac_digits = st->text_length = 0;
  item->saved = *cursor;
  item->call = brol_fmt_conversions[code];
  item->kind = item_text::conversion;
  if (code == brol_fmt_float) {
    float_measure(st, cursor, &item->real);
    if (!item->real.wide) item->kind = item_text::floating;
  } else {
    item->call(st, cursor, nullptr, 0);
  }
  const std::int64_t n = non_negative(st->text_length);
  if (char* at = place_whole(st, out, n)) {
    if (n > 0) write_item_text(st, item, at, n);
    return;
  }
  output_step(st, out, n, item);
}

}  // namespace brol::detail
