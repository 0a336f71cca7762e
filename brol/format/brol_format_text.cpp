// The string conversions (a text bounded by a maximum, a byte run of given length) and the character
// conversion.
#include <cstring>

#include "brol/format/brol_format_conv.h"

namespace {

// A text address from the list. No object lives below 4096 (the list uses those values as codes), so
// such an address, null among them, is an empty text rather than a read of foreign memory.
const char* take_text(brol_fmt_cursor* cursor) noexcept {
  const brol_item address = cursor->take();
  return address < brol::detail::k_first_literal ? nullptr : reinterpret_cast<const char*>(address);
}

// A length from the list; a negative one counts as 0.
std::int64_t take_length(brol_fmt_cursor* cursor) noexcept {
  return brol::detail::non_negative(static_cast<std::int64_t>(cursor->take()));
}

// Both string conversions: measure the n bytes at text (less white space at both ends under the trim
// flag), or copy the first count of them through the trim and case rules.
void text_item(brol_format_state* state, const char* text, std::int64_t n, char* destination, std::int64_t count) {
  if (text == nullptr) n = 0;
  if (destination == nullptr) {
    state->text_length = n == 0 ? 0 : brol::detail::trimmed_length(state, text, n);
  } else if (count > 0) {
    brol::detail::copy_text(state, destination, text, count);
  }
}

}  // namespace

// Bytes past the maximum are never read, so the text need not be terminated within it.
void brol_conv_strn(brol_format_state* state, brol_fmt_cursor* cursor, char* destination, std::int64_t count) {
  const char* text = take_text(cursor);
  const std::int64_t maximum = take_length(cursor);
  std::int64_t n = 0;
  if (text != nullptr && maximum > 0) {
    const void* nul = std::memchr(text, 0, static_cast<std::size_t>(maximum));
    n = nul ? static_cast<const char*>(nul) - text : maximum;
  }
  text_item(state, text, n, destination, count);
}

void brol_conv_mem(brol_format_state* state, brol_fmt_cursor* cursor, char* destination, std::int64_t count) {
  const char* bytes = take_text(cursor);
  text_item(state, bytes, take_length(cursor), destination, count);
}

// One byte; trimming and case do not apply.
void brol_conv_char(brol_format_state* state, brol_fmt_cursor* cursor, char* destination, std::int64_t count) {
  const brol_item c = cursor->take();
  if (destination == nullptr) {
    state->text_length = 1;
  } else if (count > 0) {
    *destination = static_cast<char>(c & 0xFF);
  }
}
