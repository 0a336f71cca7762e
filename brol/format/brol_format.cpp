// The formatting engine: the item loop, the settings and the output step with padding and cutting.
#include <cstring>
#include <limits>

#include "brol/format/brol_format_digits.h"

const brol_fmt_conversion brol_fmt_conversions[9] = {
    nullptr,        brol_conv_strn,  brol_conv_mem,   brol_conv_char,  brol_conv_int,
    brol_conv_uint, brol_conv_float, brol_conv_fixed, brol_conv_ratio,
};

namespace {

using brol::detail::non_negative;

constexpr brol_item k_last_conversion = 8;
constexpr brol_item k_first_modifier = 1025;
constexpr brol_item k_first_flags = 2048;
constexpr brol_item k_first_literal = 4096;

void reset(brol_format_state* st) noexcept {
  st->flags = 0;
  st->max_length = 0;
  st->align = 0;
  st->width = 0;
  st->column = 0;
  st->min_digits = 1;
  st->min_frac = 1;
  st->max_frac = 4;
  st->base = 10;
  st->group_char = 0;
  st->point_char = '.';
}

// Signed item as a count setting; negative counts are taken as 0.
std::int64_t count_item(brol_fmt_cursor* cur) noexcept { return non_negative(static_cast<std::int64_t>(cur->take())); }

void apply_modifier(brol_format_state* st, brol_item code, brol_fmt_cursor* cur) noexcept {
  switch (code) {
    case 1:
    case 2:
    case 3:  // left, centred, right
      st->align = static_cast<std::int64_t>(code);
      st->width = count_item(cur);
      break;
    case 4:  // decimal alignment
      st->align = 4;
      st->width = count_item(cur);
      st->column = count_item(cur);
      break;
    case 5:
      st->max_length = count_item(cur);
      break;
    case 8:
      st->min_digits = static_cast<std::int64_t>(cur->take());
      break;
    case 9:
      st->min_frac = static_cast<std::int64_t>(cur->take());
      st->max_frac = static_cast<std::int64_t>(cur->take());
      break;
    case 10:
      st->base = static_cast<std::int64_t>(cur->take());
      break;
    case 11:
      st->point_char = static_cast<char>(cur->take() & 0xFF);
      break;
    case 12:
      st->group_char = static_cast<char>(cur->take() & 0xFF);
      break;
    case 13: {
      const brol_item v = cur->take();
      st->group_char = static_cast<char>((v >> 8) & 0xFF);
      st->point_char = static_cast<char>(v & 0xFF);
      break;
    }
    default:
      break;  // unknown modifier codes take no further item
  }
}

using brol::detail::copy_short;

void fill_blanks(char* at, std::int64_t n) noexcept { brol::detail::fill_short<' '>(at, n); }

// Blanks in the first n (0 to 16) of the 16 bytes at `at`, the others stored back as they were: one
// fixed-size load, blend and store, where the branches of a copy by length would be mispredicted by
// pad lengths that vary with the values. All 16 bytes must lie inside the destination.
using byte_lanes = signed char __attribute__((vector_size(16)));

void blend_blanks(char* at, std::int64_t n) noexcept {
  static constexpr byte_lanes index = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15};
  static constexpr byte_lanes blanks = {' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' '};
  byte_lanes old;
  std::memcpy(&old, at, sizeof old);
  const byte_lanes mask = index < static_cast<signed char>(n);
  const byte_lanes result = (old & ~mask) | (blanks & mask);
  std::memcpy(at, &result, sizeof result);
}

// The destination as the output step sees it: limit L, the uncut length so far, and the start.
struct output {
  char* start;
  std::int64_t limit;
  std::int64_t total;

  // Room left for characters; the written text is always the first min(total, limit) characters.
  std::int64_t room() const noexcept { return total < limit ? limit - total : 0; }
  char* position() const noexcept { return start + total; }
  void grow(std::int64_t n) noexcept {
    total = n > std::numeric_limits<std::int64_t>::max() - total ? std::numeric_limits<std::int64_t>::max() : total + n;
  }
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
  brol::detail::int_text number;
  brol::detail::float_text real;
};

void write_text(brol_format_state* st, item_text* item, char* at, std::int64_t k) noexcept {
  switch (item->kind) {
    case item_text::literal:
      brol::detail::copy_text(st, at, item->text, k);
      break;
    case item_text::integer:
      brol::detail::int_write(st, item->number, at, k);
      break;
    case item_text::floating:
      brol::detail::float_write(st, item->real, at, k);
      break;
    case item_text::conversion:
      item->call(st, &item->saved, at, k);
      break;
  }
}

// The leading pad of an item shown in `shown` characters.
std::int64_t leading_pad(const brol_format_state* st, std::int64_t shown) noexcept {
  switch (st->align) {
    case 2:
      return non_negative(st->width / 2 - shown / 2);
    case 3:
      return non_negative(st->width - shown);
    case 4:
      return non_negative(st->column - st->int_length);
    default:
      return 0;
  }
}

// The output step of an item of n characters that is not shortened and fits whole, pads included
// (the rule): writes the pads and returns where the text goes. Null otherwise, and nothing written.
inline char* place_whole(const brol_format_state* st, output* out, std::int64_t n) noexcept {
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
void output_step(brol_format_state* st, output* out, std::int64_t n, item_text* item) noexcept {
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
    if (k > 0) write_text(st, item, at, k);
    if (s > k) std::memset(at + k, '.', static_cast<std::size_t>(s - k));
  }
  out->grow(shown);

  const std::int64_t t = st->width - shown - p;
  if (t > 0) out->pad(t);
}

// A literal with the default settings: the text, cut at the end of the buffer.
void plain_literal(output* out, const char* text) noexcept {
  const auto n = static_cast<std::int64_t>(std::strlen(text));
  const std::int64_t room = out->room();
  if (room > 0) copy_short(out->position(), text, n < room ? n : room);
  out->grow(n);
}

// A plain decimal integer item of up to 10 digits that fits whole with its pads, where 16 bytes of
// the destination follow its leading pad and the pad and the text together are at most 16: the
// blanks, the sign and the digits are made in one register and blended in with one load and one
// store, without a choice by the length of the number or of the pad (both vary with the values).
// False, and nothing written, for any other. Out of line: inline it made the item loop larger, and
// the table row (which never takes it) measured 8% slower.
[[gnu::noinline]] bool blend_integer(const brol_format_state* st, output* out, std::int64_t n,
                                     const brol::detail::int_text& number) noexcept {
  const std::int64_t length = st->int_length;
  const bool decimal = st->base == 10 && length <= 10;
  const bool hexadecimal = st->base == 16 && length <= 16;
  if (!(decimal || hexadecimal) || st->group_char != 0 || st->max_length != 0 || out->start == nullptr) return false;
  const std::int64_t p = leading_pad(st, n);
  const std::int64_t t = non_negative(st->width - n - p);
  const std::int64_t room = out->room();
  // room counts the positions before the terminator's: room + 1 bytes belong to the destination.
  if (p + n > 16 || room + 1 < 16 || p + n + t > room) return false;
  using brol::detail::digits_register;
  const digits_register digits =
      decimal ? brol::detail::last_digits(number.magnitude, static_cast<int>(length))
              : brol::detail::hex_digits(number.magnitude, (st->flags & brol_flag_lower) != 0) >> (8 * (16 - length));
  const int has_sign = number.has_sign ? 1 : 0;
  const digits_register text =
      digits << (8 * has_sign) | static_cast<unsigned char>((number.negative ? '-' : '+') & -has_sign);
  const digits_register blanks = static_cast<digits_register>(0x2020202020202020ULL) << 64 | 0x2020202020202020ULL;
  const int shift = static_cast<int>(8 * p);  // below 128: the text has at least one character
  const digits_register line = (blanks & ~(~static_cast<digits_register>(0) << shift)) | text << shift;
  char* at = out->position();
  brol::detail::blend_low_bytes(at, line, static_cast<int>(p + n));
  if (t > 0) fill_blanks(at + p + n, t);
  out->total += p + n + t;
  return true;
}

// One integer item: measured, then written where it fits whole, else through the general step.
void integer_item(brol_format_state* st, output* out, brol_fmt_cursor* cursor, bool is_signed,
                  item_text* item) noexcept {
  st->frac_digits = 0;
  brol::detail::int_measure(st, cursor, is_signed, &item->number);
  const std::int64_t n = st->text_length;
  if (blend_integer(st, out, n, item->number)) return;
  if (char* at = place_whole(st, out, n)) {
    brol::detail::int_write(st, item->number, at, n);
    return;
  }
  item->kind = item_text::integer;
  output_step(st, out, n, item);
}

// A literal under settings (trimmed, cased, laid out).
void literal_item(brol_format_state* st, output* out, const char* text, item_text* item) noexcept {
  auto n = static_cast<std::int64_t>(std::strlen(text));
  if (st->flags & brol_flag_trim) n = brol::detail::trimmed_length(st, text, n);
  st->int_length = 0;
  if (char* at = place_whole(st, out, n)) {
    if (n > 0) brol::detail::copy_text(st, at, text, n);
    return;
  }
  item->kind = item_text::literal;
  item->text = text;
  output_step(st, out, n, item);
}

// Any other conversion: a floating-point number is split once and kept for the write (unless its
// integer part is wide); the others are called again on the saved cursor to write.
void conversion_item(brol_format_state* st, output* out, brol_item code, brol_fmt_cursor* cursor,
                     item_text* item) noexcept {
  st->int_length = st->frac_digits = st->text_length = 0;
  item->saved = *cursor;
  item->call = brol_fmt_conversions[code];
  item->kind = item_text::conversion;
  if (code == brol_fmt_float) {
    brol::detail::float_measure(st, cursor, &item->real);
    if (!item->real.wide) item->kind = item_text::floating;
  } else {
    item->call(st, cursor, nullptr, 0);
  }
  const std::int64_t n = non_negative(st->text_length);
  if (char* at = place_whole(st, out, n)) {
    if (n > 0) write_text(st, item, at, n);
    return;
  }
  output_step(st, out, n, item);
}

}  // namespace

namespace {

// The item loop, kept out of brol_vformat so that the one-integer list does not pay for setting up
// its frame. Settings are reset lazily: `changed` tells whether a modifier or flag has touched them
// since the last reset, so the commonest lists (literals and numbers with default settings) never
// reset.
[[gnu::noinline]] std::int64_t format_items(char* destination, std::int64_t size, brol_item first,
                                            brol_fmt_cursor cursor) noexcept {
  const bool writes = destination != nullptr && size >= 1;
  output out{destination, writes ? size - 1 : 0, 0};
  brol_format_state st;
  reset(&st);
  st.int_length = st.frac_digits = st.text_length = 0;
  bool changed = false;
  bool reset_pending = false;
  item_text item;

  for (brol_item code = first; code != brol_fmt_end; code = cursor.take()) {
    if (code == brol_fmt_again) {
      reset_pending = false;
      continue;
    }
    if (reset_pending) {
      if (changed) reset(&st);
      changed = reset_pending = false;
    }
    if (code >= k_first_literal) {
      const char* text = reinterpret_cast<const char*>(static_cast<std::uintptr_t>(code));
      if (changed) {
        literal_item(&st, &out, text, &item);
      } else {
        plain_literal(&out, text);
      }
      reset_pending = true;
    } else if (code == brol_fmt_int || code == brol_fmt_uint) {
      integer_item(&st, &out, &cursor, code == brol_fmt_int, &item);
      reset_pending = true;
    } else if (code >= 1 && code <= k_last_conversion) {
      conversion_item(&st, &out, code, &cursor, &item);
      reset_pending = true;
    } else if (code >= k_first_modifier && code < k_first_flags) {
      apply_modifier(&st, code - 1024, &cursor);
      changed = true;
    } else if (code >= k_first_flags && code < k_first_flags + 1024) {
      st.flags = static_cast<std::uint16_t>(st.flags | ((code - k_first_flags) & 0x3FF));
      changed = true;
    }  // values that are no items are passed over
  }

  if (writes) destination[out.total < out.limit ? out.total : out.limit] = '\0';
  return out.total;
}

}  // namespace

std::int64_t brol_vformat(char* destination, std::int64_t size, brol_item first, brol_fmt_cursor cursor) noexcept {
  // One integer and the end: the piece inline once for each common size code and signedness, so that
  // each copy is compiled for its constants (decoding one shift, no choice by size code left).
  if (cursor.end - cursor.next >= 3 && cursor.next[2] == brol_fmt_end) {
    const brol_item size_code = cursor.next[0];
    const brol_item raw = cursor.next[1];
    if (first == brol_fmt_int) {
      if (size_code == 4) return brol::detail::format_one_integer(destination, size, true, 4, raw);
      if (size_code == 8) return brol::detail::format_one_integer(destination, size, true, 8, raw);
    } else if (first == brol_fmt_uint) {
      if (size_code == 4) return brol::detail::format_one_integer(destination, size, false, 4, raw);
      if (size_code == 8) return brol::detail::format_one_integer(destination, size, false, 8, raw);
    }
    if ((first == brol_fmt_int || first == brol_fmt_uint) && (size_code == 1 || size_code == 2)) {
      return brol::detail::format_one_integer(destination, size, first == brol_fmt_int, size_code, raw);
    }
  }
  return format_items(destination, size, first, cursor);
}

namespace brol::detail {

namespace {
bool is_space(char c) noexcept { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }
}  // namespace

std::int64_t trimmed_length(const brol_format_state* state, const char* text, std::int64_t n) noexcept {
  if (!(state->flags & brol_flag_trim)) return n;
  std::int64_t begin = 0;
  while (begin < n && is_space(text[begin])) ++begin;
  while (n > begin && is_space(text[n - 1])) --n;
  return n - begin;
}

void copy_text(const brol_format_state* state, char* destination, const char* text, std::int64_t k) noexcept {
  if (state->flags & brol_flag_trim) {
    while (is_space(*text)) ++text;
  }
  const unsigned mode = state->flags & brol_flag_case;
  if (mode == 0) {
    copy_short(destination, text, k);
    return;
  }
  for (std::int64_t i = 0; i < k; ++i) {
    char c = text[i];
    const bool upper = c >= 'A' && c <= 'Z';
    const bool lower = c >= 'a' && c <= 'z';
    if ((upper && mode != brol_flag_upper) || (lower && mode != brol_flag_lower)) {
      c = static_cast<char>(c ^ 0x20);
    }
    destination[i] = c;
  }
}

}  // namespace brol::detail
