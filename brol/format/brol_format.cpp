// The formatting engine: the item loop, the settings and the output step with padding and cutting.
#include <cstring>

#include "brol/format/brol_format_steps.h"

const brol_fmt_conversion brol_fmt_conversions[9] = {
    nullptr,        brol_conv_strn,  brol_conv_mem,   brol_conv_char,  brol_conv_int,
    brol_conv_uint, brol_conv_float, brol_conv_fixed, brol_conv_ratio,
};

namespace {

using namespace brol::detail;

// The item loop, kept out of brol_vformat so that the one-integer list does not pay for setting up
// its frame. Its decisions are item_sequence's (brol_format_codes.h), which the planner takes too.
[[gnu::noinline]] std::int64_t format_items(char* destination, std::int64_t size, brol_item first,
                                            brol_fmt_cursor cursor) noexcept {
  const bool writes = destination != nullptr && size >= 1;
  format_output out{destination, writes ? size - 1 : 0, 0};
  brol_format_state st;
  reset_settings(&st);
  st.int_length = st.frac_digits = st.text_length = 0;
  item_sequence sequence;
  item_text item;

  for (brol_item code = first; code != brol_fmt_end; code = cursor.take()) {
    const item_kind kind = kind_of(code);
    const item_sequence::decision d = sequence.next(kind);
    if (d.reset) reset_settings(&st);
    switch (kind) {
      case item_kind::literal: {
        const char* text = reinterpret_cast<const char*>(static_cast<std::uintptr_t>(code));
        if (d.styled) {
          literal_item(&st, &out, text, &item);
        } else {
          plain_literal(&out, text);
        }
        break;
      }
      case item_kind::integer:
        integer_item(&st, &out, &cursor, code == brol_fmt_int, &item);
        break;
      case item_kind::conversion:
        conversion_item(&st, &out, code, &cursor, &item);
        break;
      case item_kind::modifier:
        apply_modifier(&st, code, &cursor);
        break;
      case item_kind::flags:
        st.flags = static_cast<std::uint16_t>(st.flags | ((code - k_first_flag) & k_flag_bits));
        break;
      default:
        break;  // brol_fmt_again, and values that are no items, which are passed over
    }
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
