// The formatting engine: the item loop, the settings and the output step with padding and cutting.
#include <cstring>
#include <limits>

#include "brol/format/brol_format_conv.h"

const brol_fmt_conversion brol_fmt_conversions[9] = {
    nullptr,         brol_conv_strn, brol_conv_mem,   brol_conv_char,  brol_conv_int,
    brol_conv_uint,  brol_conv_float, brol_conv_fixed, brol_conv_ratio,
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
std::int64_t count_item(brol_fmt_cursor* cur) noexcept {
  return non_negative(static_cast<std::int64_t>(cur->take()));
}

void apply_modifier(brol_format_state* st, brol_item code, brol_fmt_cursor* cur) noexcept {
  switch (code) {
    case 1: case 2: case 3:  // left, centred, right
      st->align = static_cast<std::int64_t>(code);
      st->width = count_item(cur);
      break;
    case 4:  // decimal alignment
      st->align = 4;
      st->width = count_item(cur);
      st->column = count_item(cur);
      break;
    case 5: st->max_length = count_item(cur); break;
    case 8: st->min_digits = static_cast<std::int64_t>(cur->take()); break;
    case 9:
      st->min_frac = static_cast<std::int64_t>(cur->take());
      st->max_frac = static_cast<std::int64_t>(cur->take());
      break;
    case 10: st->base = static_cast<std::int64_t>(cur->take()); break;
    case 11: st->point_char = static_cast<char>(cur->take() & 0xFF); break;
    case 12: st->group_char = static_cast<char>(cur->take() & 0xFF); break;
    case 13: {
      const brol_item v = cur->take();
      st->group_char = static_cast<char>((v >> 8) & 0xFF);
      st->point_char = static_cast<char>(v & 0xFF);
      break;
    }
    default: break;  // unknown modifier codes take no further item
  }
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
    total = n > std::numeric_limits<std::int64_t>::max() - total ? std::numeric_limits<std::int64_t>::max()
                                                                  : total + n;
  }
  void pad(std::int64_t n) noexcept {
    const std::int64_t w = n < room() ? n : room();
    if (w > 0) std::memset(position(), ' ', static_cast<std::size_t>(w));
    grow(n);
  }
};

// What produces an output item's text in the write step: a literal or a conversion with the cursor
// copy saved before its measure call.
struct item_text {
  const char* literal;
  brol_fmt_conversion conversion;
  brol_fmt_cursor saved;
  bool is_integer;  // places 4 and 5: the engine keeps the measured number instead
  brol::detail::int_text number;
};

void write_text(const brol_format_state* st, item_text* text, char* at, std::int64_t k,
                brol_format_state* writable) noexcept {
  if (text->literal != nullptr) {
    brol::detail::copy_text(st, at, text->literal, k);
  } else if (text->is_integer) {
    brol::detail::int_write(st, text->number, at, k);
  } else {
    text->conversion(writable, &text->saved, at, k);
  }
}

void output_step(const brol_format_state* st, output* out, std::int64_t n, item_text* text,
                 brol_format_state* writable) noexcept {
  if (st->max_length == 0 && st->align == 0) {
    // No layout (width is only ever set together with an alignment): the text, cut at the end.
    const std::int64_t room = out->room();
    const std::int64_t k = n < room ? n : room;
    if (k > 0) write_text(st, text, out->position(), k, writable);
    out->grow(n);
    return;
  }
  std::int64_t shown = n;
  std::int64_t kept = n;
  if (st->max_length != 0 && n > st->max_length) {
    shown = st->max_length;
    kept = (st->flags & brol_flag_ellipsis) ? non_negative(shown - 3) : shown;
  }
  std::int64_t p = 0;
  switch (st->align) {
    case 2: p = st->width / 2 - shown / 2; break;
    case 3: p = st->width - shown; break;
    case 4: p = st->column - st->int_length; break;
    default: break;
  }
  p = non_negative(p);
  if (p > 0) out->pad(p);

  const std::int64_t room = out->room();
  const std::int64_t k = kept < room ? kept : room;
  const std::int64_t s = shown < room ? shown : room;
  if (s > 0) {
    char* at = out->position();
    if (k > 0) write_text(st, text, at, k, writable);
    if (s > k) std::memset(at + k, '.', static_cast<std::size_t>(s - k));
  }
  out->grow(shown);

  const std::int64_t t = st->width - shown - p;
  if (t > 0) out->pad(t);
}

}  // namespace

std::int64_t brol_vformat(char* destination, std::int64_t size, brol_item first, brol_fmt_cursor cursor) noexcept {
  if ((first == brol_fmt_int || first == brol_fmt_uint) && cursor.end - cursor.next >= 3 &&
      cursor.next[2] == brol_fmt_end && (cursor.next[0] == 1 || cursor.next[0] == 2 || cursor.next[0] == 4 ||
                                          cursor.next[0] == 8)) {
    return brol::detail::format_one_integer(destination, size, first == brol_fmt_int, cursor.next[0], cursor.next[1]);
  }
  const bool writes = destination != nullptr && size >= 1;
  output out{destination, writes ? size - 1 : 0, 0};
  brol_format_state st;
  reset(&st);
  st.int_length = st.frac_digits = st.text_length = 0;
  bool reset_pending = false;

  for (brol_item item = first; item != brol_fmt_end; item = cursor.take()) {
    if (item == brol_fmt_again) {
      reset_pending = false;
      continue;
    }
    if (reset_pending) {
      reset(&st);
      reset_pending = false;
    }
    item_text text{nullptr, nullptr, cursor, false, {}};
    std::int64_t n = 0;
    if (item == brol_fmt_int || item == brol_fmt_uint) {
      text.is_integer = true;
      st.frac_digits = 0;
      brol::detail::int_measure(&st, &cursor, item == brol_fmt_int, &text.number);
      n = st.text_length;
    } else if (item >= k_first_literal) {
      text.literal = reinterpret_cast<const char*>(static_cast<std::uintptr_t>(item));
      n = static_cast<std::int64_t>(std::strlen(text.literal));
      if (st.flags & brol_flag_trim) n = brol::detail::trimmed_length(&st, text.literal, n);
      st.int_length = 0;
    } else if (item >= 1 && item <= k_last_conversion) {
      text.conversion = brol_fmt_conversions[item];
      st.int_length = st.frac_digits = st.text_length = 0;
      text.conversion(&st, &cursor, nullptr, 0);
      n = non_negative(st.text_length);
    } else {
      if (item >= k_first_modifier && item < k_first_flags) {
        apply_modifier(&st, item - 1024, &cursor);
      } else if (item >= k_first_flags && item < k_first_flags + 1024) {
        st.flags = static_cast<std::uint16_t>(st.flags | ((item - k_first_flags) & 0x3FF));
      }
      continue;  // values that are no items are passed over
    }
    output_step(&st, &out, n, &text, &st);
    reset_pending = true;
  }

  if (writes) destination[out.total < out.limit ? out.total : out.limit] = '\0';
  return out.total;
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
    std::memcpy(destination, text, static_cast<std::size_t>(k));
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
