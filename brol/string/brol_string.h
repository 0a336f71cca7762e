// brol_string: the library's owning, growable, NUL-terminated byte string.
//
// A plain record: `init` before use, `destroy` after. There is no length field; the length is the
// position of the first NUL (0 without a buffer). Capacity grows in 64-byte blocks and never shrinks.
// A failed allocation sets `error` to 1 (it is never reset by the string) and shows in the result:
// false for the operations that return a bool, an unchanged text for those that return the string.
// A null text argument counts as the empty text. Pointers into the buffer may be stale after any
// operation that can grow it (reserve, assign, append, insert, format).
#pragma once

#include <cstdarg>
#include <cstdint>

#include "brol/format/brol_format.h"

struct brol_stream;

struct brol_string {
  std::int16_t error;      // 1 once any allocation failed
  std::int64_t capacity;   // size of the buffer in bytes, 0 without one
  char* text;              // owned buffer, or null

  // The smallest multiple of 64 strictly greater than n (0 gives 64, 63 gives 64, 64 gives 128).
  // A negative n, or one whose rounding would overflow, gives 0, which every caller treats as an
  // allocation failure.
  static std::int64_t block_size(std::int64_t n) noexcept;

  // --- Construction and release ---------------------------------------------------------------
  // error 0, capacity 0, text null.
  void init() noexcept;
  // init, then assign(s).
  brol_string& init_from(const char* s) noexcept;
  // init, then assign_copy(other).
  brol_string& init_copy(const brol_string& other) noexcept;
  // Takes over other's error, capacity and text; other is left without a buffer, capacity 0.
  void init_move(brol_string& other) noexcept;
  // Frees the own buffer, then as init_move. Moving a string into itself changes nothing.
  void move_from(brol_string& other) noexcept;
  // Frees the buffer and leaves the string as init does, so releasing twice is harmless.
  void destroy() noexcept;

  // --- Memory ---------------------------------------------------------------------------------
  // Room for n characters, the NUL and a spare byte, keeping the text. On failure the text and
  // capacity stay, error becomes 1, false. A negative n fails.
  bool reserve(std::int64_t n) noexcept;
  // Like reserve, but the text may be lost; after a failure the string has no buffer.
  bool reserve_discard(std::int64_t n) noexcept;
  // At least size bytes, contents undefined when a new buffer was needed (the old one is freed
  // first). On failure: no buffer, capacity 0, error 1, false.
  bool allocate(std::int64_t size) noexcept;

  // --- Access ---------------------------------------------------------------------------------
  // A writable pointer to the text of s. A null s, or one without a buffer, gives the shared
  // read-only empty text, which must not be written. With n > 0 it first reserves room for n
  // characters and returns null when that fails, so a non-null result has room for n characters and
  // a NUL. A negative n gives null.
  static char* buffer(brol_string* s, std::int64_t n) noexcept;
  // reserve(n + 1), then the pointer n bytes into the text; null when n < 0 or the reservation
  // fails.
  char* buffer_at(std::int64_t n) noexcept;
  // The text, read-only; the shared empty text for a null s or a string without a buffer.
  static const char* c_str(const brol_string* s) noexcept;
  const char* c_str() const noexcept;
  std::int64_t length() const noexcept;
  bool is_empty() const noexcept;

  // --- Assigning (s may point into the string's own text) ---------------------------------------
  brol_string& assign(const char* s) noexcept;
  // Takes other's text into a buffer of exactly other's capacity.
  brol_string& assign_copy(const brol_string& other) noexcept;
  // The text becomes ch alone (ch = 0: empty).
  brol_string& assign_char(char ch) noexcept;
  // The n bytes at s + offset, stopping at a NUL of s (the rest filled with NULs), then a NUL.
  // A null s is the empty text; an offset beyond the NUL of s gives the empty text without reading
  // past it. False for a negative offset or n, or when the allocation fails.
  bool assign_sub(const char* s, std::int64_t offset, std::int64_t n) noexcept;

  // --- Appending (on failure the text is unchanged) ---------------------------------------------
  brol_string& append(const char* s) noexcept;
  brol_string& append_string(const brol_string& other) noexcept;
  // ch = 0 appends nothing.
  brol_string& append_char(char ch) noexcept;
  // Appends the bytes of s before its first NUL, at most n of them. True when nothing was to be
  // appended (null or empty s, n <= 0); false only when the allocation fails.
  bool append_bytes(const char* s, std::int64_t n) noexcept;

  // --- Inserting and erasing ------------------------------------------------------------------
  // Inserts s at pos (0..length). False for a null or empty s, a pos outside 0..length, or a failed
  // allocation. s may point into the string's own text: what it pointed to before the call is
  // inserted.
  bool insert(std::int64_t pos, const char* s) noexcept;
  // Inserts the bytes of s before its first NUL, at most n; a pos beyond the length counts as the
  // length. False for a null or empty s, a negative pos or n, or a failed allocation.
  bool insert_bytes(std::int64_t pos, const char* s, std::int64_t n) noexcept;
  // Removes n bytes at pos (n < 0: up to the end; past the end: cut at pos). False when the string
  // is empty, pos is negative or pos >= length.
  bool erase(std::int64_t pos, std::int64_t n) noexcept;
  // Drops leading and trailing blanks, tabs, LFs and CRs; keeps the buffer. False when the string
  // was empty already.
  bool trim() noexcept;

  // --- Comparison (a missing text equals only an empty one) -------------------------------------
  bool equals(const brol_string& other) const noexcept;
  bool equals(const char* s) const noexcept;
  bool equals_n(const char* s, std::int64_t n) const noexcept;
  // Ignoring the case of the letters A to Z.
  bool equals_nocase(const char* s) const noexcept;
  bool equals_n_nocase(const char* s, std::int64_t n) const noexcept;
  // How many bytes of the text equal ch.
  std::int64_t count_char(char ch) const noexcept;

  // Assigns field n of s, fields separated by delim; n >= 0 counts from the start (0 = before the
  // first delimiter), n < 0 from the end (-1 = the last field). False, with the string unchanged,
  // for a null or empty s or a field that does not exist; false after a failed allocation.
  bool field(const char* s, std::int16_t n, char delim) noexcept;

  // --- Formatted text -------------------------------------------------------------------------
  // Appends the engine's text of the item list (first, items..., 0). False when an allocation fails
  // (the text is then unchanged).
  template <class First, class... Items>
  bool append_format(First first, Items... items) noexcept {
    const brol_item list[] = {brol::detail::to_item(items)..., brol_fmt_end};
    return append_vformat(brol::detail::to_item(first), brol_fmt_cursor{list, list + sizeof...(Items) + 1});
  }
  bool append_vformat(brol_item first, brol_fmt_cursor cursor) noexcept;
  // Appends printf-formatted text. False for a null format, when the C library reports an encoding
  // error, or when an allocation fails (error is then 1).
  bool append_printf(const char* format, ...) noexcept __attribute__((format(gnu_printf, 2, 3)));
  bool append_vprintf(const char* format, std::va_list arguments) noexcept
      __attribute__((format(gnu_printf, 2, 0)));
  // The text becomes the pointer's value in decimal.
  brol_string& assign_pointer(const void* p) noexcept;
  // Appends the pointer's value in decimal.
  brol_string& append_pointer(const void* p) noexcept;

  // --- Character sets: UTF-8 and ISO 8859-15 -----------------------------------------------------
  // Both conversions assign their result; src may point into the string's own text. A null or empty
  // src empties a present buffer and is true. On a failed allocation error is 1, the result false and
  // the string has no buffer (when src lay in the own text, the old text stays instead).
  //
  // The ISO 8859-15 text of the UTF-8 text src. Every code point with a place in ISO 8859-15 becomes
  // its byte (the euro sign, S, s, Z and z with caron, OE, oe and Y with diaeresis at their eight
  // places; every other code point up to U+00FF at its own value). Everything else yields nothing
  // and the conversion goes on at the next byte: code points without a place (U+00A4, U+00A6, U+00A8,
  // U+00B4, U+00B8, U+00BC to U+00BE, and above U+00FF), stray continuation bytes, cut sequences,
  // bytes 0xF8 to 0xFF, overlong forms (so C0 80 is never NUL and C0 AF never '/') and the surrogates
  // U+D800 to U+DFFF. The result is never longer than src.
  bool from_utf8(const char* src) noexcept;
  // The UTF-8 text of the ISO 8859-15 text src: bytes below 0x80 stay, every other byte becomes two
  // bytes (three for the euro sign, 0xA4). Room is reserved for three bytes per byte above 0x7F.
  bool to_utf8(const char* src) noexcept;
  // The number of bytes that are not UTF-8 continuation bytes (10xxxxxx): the characters of a UTF-8
  // text. 0 without a buffer.
  std::int64_t utf8_length() const noexcept;
  // True when every byte shares at least one bit with required (unless required is 0) and none with
  // forbidden. An empty string passes. check_chars(0, 0x80): the text is pure 7-bit.
  bool check_chars(std::uint8_t required, std::uint8_t forbidden) const noexcept;

  // --- Reading from a stream, and the date ---------------------------------------------------------
  // Appends bytes read from stream up to the first byte that occurs in terminators (a null text: no
  // terminator; the byte 0 is never one). That byte is consumed, not stored, and the result is 1.
  // A NUL byte (consumed, not stored) or the end of the data or any stream failure ends the reading
  // with the number of bytes appended (0 when none). The stream keeps its own status. When a
  // reservation fails the result is 0, error is 1, what was appended stays and the bytes not
  // appended stay unread in the stream.
  std::int64_t read_until(brol_stream& stream, const char* terminators) noexcept;
  // read_until(stream, "\n"): a CR before the LF stays in the text.
  std::int64_t read_line(brol_stream& stream) noexcept;
  // The text becomes the next n bytes of stream (the stream's get_bytes). The n bytes are NUL before
  // reading, so after a short read the text holds what was read. False for a negative n, a failed
  // reservation (the string then has no buffer) or a short read.
  bool read_bytes(brol_stream& stream, std::int64_t n) noexcept;
  // Appends the current local date and time in the form numbered kind (brol_date_text, 1 to 5).
  // False for another kind (nothing appended) or a failed reservation (text unchanged).
  bool append_date(int kind) noexcept;

 private:
  void destroy_buffer_failed() noexcept;
  // True when p points into the own buffer (then a reallocation would invalidate it).
  bool owns(const char* p) const noexcept;
  // The text becomes the n bytes at s (which may lie in the own buffer), in a buffer with room for
  // `room` >= n characters.
  bool assign_range(const char* s, std::int64_t n, std::int64_t room) noexcept;
  bool append_range(const char* s, std::int64_t k) noexcept;
  bool insert_range(std::int64_t pos, const char* s, std::int64_t k) noexcept;
  bool items_point_inside(brol_item first, brol_fmt_cursor cursor) const noexcept;
  bool format_into_fresh(std::int64_t pos, std::int64_t r, brol_item first, brol_fmt_cursor cursor) noexcept;
};
