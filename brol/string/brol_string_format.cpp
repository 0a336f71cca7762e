// brol_string: formatted text through the item-list engine and through printf.
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <limits>

#include "brol/format/brol_format.h"
#include "brol/platform/brol_alloc.h"
#include "brol/string/brol_string.h"

namespace {

constexpr std::int64_t k_max = std::numeric_limits<std::int64_t>::max();
// Room for a 64-bit value in decimal with its sign.
constexpr std::int64_t k_pointer_room = 24;

}  // namespace

// True when an item of the list could be the address of a byte in the buffer: such a literal would
// be overwritten while the engine still reads it.
bool brol_string::items_point_inside(brol_item first, brol_fmt_cursor cursor) const noexcept {
  if (!text) return false;
  if (owns(reinterpret_cast<const char*>(static_cast<std::uintptr_t>(first)))) return true;
  for (const brol_item* p = cursor.next; p != cursor.end; ++p) {
    if (owns(reinterpret_cast<const char*>(static_cast<std::uintptr_t>(*p)))) return true;
  }
  return false;
}

// Writes the text of length r behind the first pos bytes in a new buffer; the old one stays
// readable until the engine is done, then is freed.
bool brol_string::format_into_fresh(std::int64_t pos, std::int64_t r, brol_item first,
                                    brol_fmt_cursor cursor) noexcept {
  const std::int64_t size = r > k_max - 3 - pos ? 0 : block_size(pos + r + 1);
  char* fresh = size > 0 ? static_cast<char*>(brol_alloc(size)) : nullptr;
  if (!fresh) {
    error = 1;
    return false;
  }
  std::memcpy(fresh, text, static_cast<std::size_t>(pos));
  brol_vformat(fresh + pos, size - pos, first, cursor);
  brol_free(text);
  text = fresh;
  capacity = size;
  return true;
}

bool brol_string::append_vformat(brol_item first, brol_fmt_cursor cursor) noexcept {
  if (!text) {
    const std::int64_t measured = brol_vformat(nullptr, 0, first, cursor);
    if (measured >= k_max - 2 || !reserve_discard(measured + 1)) return false;
    text[0] = '\0';
  }
  const std::int64_t pos = length();
  if (items_point_inside(first, cursor)) {
    return format_into_fresh(pos, brol_vformat(nullptr, 0, first, cursor), first, cursor);
  }
  const std::int64_t r = brol_vformat(text + pos, capacity - pos, first, cursor);
  if (r < capacity - pos) return true;
  text[pos] = '\0';  // on failure the text stays as it was
  return format_into_fresh(pos, r, first, cursor);
}

bool brol_string::append_printf(const char* format, ...) noexcept {
  std::va_list arguments;
  va_start(arguments, format);
  const bool done = append_vprintf(format, arguments);
  va_end(arguments);
  return done;
}

bool brol_string::append_vprintf(const char* format, std::va_list arguments) noexcept {
  if (!format) return false;
  // vsnprintf reports at most INT_MAX characters; a scratch area past that can never be needed.
  constexpr std::int64_t k_largest = static_cast<std::int64_t>(INT_MAX) + 1;
  std::int64_t size = 256;
  for (;;) {
    char* scratch = static_cast<char*>(brol_alloc(size));
    if (!scratch) {
      error = 1;
      return false;
    }
    std::va_list again;
    va_copy(again, arguments);
    errno = 0;
    const int result = std::vsnprintf(scratch, static_cast<std::size_t>(size), format, again);
    va_end(again);
    const bool encoding_error = result < 0 && errno == EILSEQ;
    if (result >= 0 && result < size) {
      const bool done = append_bytes(scratch, result);
      brol_free(scratch);
      return done;
    }
    brol_free(scratch);
    // An encoding error stays one however large the area; only a runtime that answers a short area
    // with -1 is given a larger one.
    const std::int64_t next = result < 0 ? size * 2 : static_cast<std::int64_t>(result) + 1;
    if (encoding_error || next > k_largest || next <= size) {
      error = 1;
      return false;
    }
    size = next;
  }
}

brol_string& brol_string::assign_pointer(const void* p) noexcept {
  if (reserve_discard(k_pointer_room)) {
    brol_format(text, k_pointer_room, brol_fmt_int, 8, reinterpret_cast<std::intptr_t>(p), brol_fmt_end);
  }
  return *this;
}

brol_string& brol_string::append_pointer(const void* p) noexcept {
  const std::int64_t len = length();
  if (reserve(len + k_pointer_room)) {
    brol_format(text + len, k_pointer_room, brol_fmt_int, 8, reinterpret_cast<std::intptr_t>(p), brol_fmt_end);
  }
  return *this;
}
