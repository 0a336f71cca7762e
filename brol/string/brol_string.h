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

#include "brol/format/brol_format_core.h"

struct brol_stream;

struct brol_string {
  std::int16_t error;      // 1 once any allocation failed
  std::int64_t capacity;   // size of the buffer in bytes, 0 without one
  char* text;              // owned buffer, or null

  // The smallest multiple of 64 strictly greater than n (0 gives 64, 63 gives 64, 64 gives 128).
  // A negative n, or one whose rounding would overflow, gives 0, which every caller treats as an
  // allocation failure.
  static std::int64_t block_size(std::int64_t n) noexcept;

  // The language never copies a string: a copy would share the buffer and free it twice. A copy is
  // made with init_copy or assign_copy; init_move, move_from and swap hand a buffer over. The default
  // constructor leaves the fields as they are (a plain record): init before use.
  brol_string() = default;
  brol_string(const brol_string&) = delete;
  brol_string& operator=(const brol_string&) = delete;

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
  // Exchanges error, capacity and text with other; never allocates.
  void swap(brol_string& other) noexcept;
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
  // The text becomes s; a null or empty s empties a present buffer and keeps it.
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
  // Appends s; a null or empty s appends nothing.
  brol_string& append(const char* s) noexcept;
  // Appends other's text (which may be this string's own).
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
  // True when both texts are byte for byte equal; a missing text or a null s equals only "".
  bool equals(const brol_string& other) const noexcept;
  bool equals(const char* s) const noexcept;
  // True when the first n bytes are equal (as strncmp); a missing text or a null s counts as "".
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

  // --- Trimmed assignment (blanks here are the space and the tab only) ---------------------------
  // The text becomes s without its leading and trailing spaces and tabs; s may point into the own
  // text. A null, empty or blank-only s makes a present buffer empty. When the allocation fails the
  // string has no buffer (as after reserve_discard) and error is 1.
  void assign_trimmed(const char* s) noexcept;
  // Takes other's text trimmed as assign_trimmed does, into a buffer of at least other's capacity.
  // Without a buffer in other a present own buffer is made empty. A failed allocation leaves the
  // string without a buffer and error 1. other may be the string itself.
  void assign_trimmed_copy(const brol_string& other) noexcept;

  // --- Case conversion (ASCII letters and the German umlauts of code page 1252) ----------------
  // From byte pos to the end, a..z and the small umlauts 0xE4 0xF6 0xFC become A..Z and the capitals
  // 0xC4 0xD6 0xDC; every other byte, the sharp s 0xDF included, stays. Nothing without a buffer or
  // for a pos outside 0..length-1.
  void upper_from(std::int64_t pos) noexcept;
  // The reverse of upper_from: A..Z and 0xC4 0xD6 0xDC become a..z and 0xE4 0xF6 0xFC.
  void lower_from(std::int64_t pos) noexcept;
  // Append s (which may point into the own text) converted as upper_from / lower_from; the text that
  // was there stays as it was. On a failed allocation the text is unchanged and error is 1.
  brol_string& append_upper(const char* s) noexcept;
  brol_string& append_lower(const char* s) noexcept;

  // --- Replacing and escaping -------------------------------------------------------------------
  // Every byte equal to from becomes to; with to = 0 every such byte is removed. A from of 0 changes
  // nothing (the terminating NUL is never replaced). Never allocates.
  void replace_char(char from, char to) noexcept;
  // Replaces every match of find, scanning left to right and continuing behind each match, so that
  // no match is searched inside replacement text (a by aa on aba gives aabaa). An empty replacement
  // removes the matches. Nothing without a buffer, for a null or empty find or a null replacement.
  // find and replacement may point into the own text: what they held before the call is used. Room for
  // the whole result is reserved before the text changes: when that fails the text is unchanged and
  // error is 1. Pointers into the buffer may be stale afterwards.
  void replace_all(const char* find, const char* replacement) noexcept;
  // For each byte of chars in turn, puts insertion in front of every occurrence of that byte in the
  // current text (so a later byte of chars is also found inside insertions made for an earlier one).
  // With chars "\"" and insertion "\\" every quote gets a backslash. Nothing without a buffer, for an
  // empty text or a null or empty chars or insertion; both may point into the own text (what they
  // held before the call is used). When an allocation fails the bytes of chars handled so far keep
  // their insertions, the rest get none, and error is 1.
  void insert_before_each(const char* chars, const char* insertion) noexcept;

  // --- Decimal numbers --------------------------------------------------------------------------
  // Removes the trailing zero digits after the last decimal point, and the point when nothing
  // follows it any more: 1.500 gives 1.5, 2.000 and 2. give 2, .000 gives the empty text. Only when
  // every byte after the last point is a digit: 10, 1.5e10 and 1.50e+10 stay as they are. Never
  // allocates.
  void strip_zeros() noexcept;

  // --- Path names -------------------------------------------------------------------------------
  // The treated part is the whole text when path is null; otherwise path is appended first and only
  // the appended part is treated (path may point into the own text). When the last slash (/) of the
  // whole text lies within the treated part, base_name erases from the start of the treated part up
  // to and including that slash, and dir_name cuts the text at that slash. Otherwise nothing changes,
  // as when the append fails (error is then 1). a/b/c gives c and a/b; x/ with the path y/z gives
  // x/z and x/y.
  brol_string& base_name(const char* path = nullptr) noexcept;
  brol_string& dir_name(const char* path = nullptr) noexcept;
  // Appends the system's path separator (brol_path_separator: a backslash on Windows, '/' on POSIX)
  // unless the text already ends with it (an empty text gets one), then part (null counts as empty;
  // it may point into the own text). On Windows C: and C:\ with dir both give C:\dir; on POSIX a
  // and a/ with dir both give a/dir, and a backslash is an ordinary byte. Both pieces are appended
  // together or, when the allocation fails, neither (error is then 1).
  brol_string& append_path(const char* part) noexcept;
  // Erases everything up to and including the last ch. False, with nothing changed, for an empty
  // text, a ch that does not occur, and ch = 0.
  bool keep_after_last(char ch) noexcept;

  // --- Random text ------------------------------------------------------------------------------
  // Appends n letters (A..Z, a..z) and digits drawn from the process-wide generator (brol_random.h),
  // which is seeded once, so calls within one second differ. n = 0 appends nothing. False, with the
  // text unchanged, for a negative n and when the allocation fails (error is then 1).
  bool append_random(std::int64_t n) noexcept;

  // --- Field and token extraction ---------------------------------------------------------------
  // Reduces the own text to its field number n (0 = before the first delim). False for an empty text
  // or a negative n (nothing changes); when fewer than n delims occur the text is made empty and the
  // result is false. A delim of 0 separates nothing, so the text is field 0. Never allocates.
  bool keep_field(std::int16_t n, char delim) noexcept;
  // Assigns the content of the first quoted text of src with its backslash escapes resolved
  // (\a \b \f \n \r \t \v, two backslashes give one, backslash quote gives the quote, backslash LF
  // gives nothing; a backslash before any other byte stays with it). Only the first max bytes of src
  // are looked at (max <= 0 or beyond the text: all of it). Null src means the own text; src may also
  // point into it (the text is then rewritten in place). The quote is the byte quote; with quote 0
  // leading spaces and tabs are passed and the byte after them is the quote.
  // Result: the position of the closing quote in src (a caller continues one behind it). When there
  // is no opening quote, no closing one, or a backslash in the last byte looked at, the string is made
  // empty and the result is the position where the search stopped. A failed allocation makes the
  // string empty (error 1) with the closing quote's position as result. Null src and no own text: 0,
  // nothing changes.
  std::int64_t take_quoted(const char* src, std::int64_t max, char quote) noexcept;
  // Assigns the bytes between the first open byte of src and the close byte after it, uninterpreted,
  // on one line. Only the first max bytes are looked at (max <= 0: all; the terminating NUL always
  // ends the search). Null src means the own text; src may also point into it. Result: the position
  // behind the close byte. When there is no open byte, or an LF or the end comes before close, the
  // string is made empty and the result is 0; so it is after a failed allocation (error 1). Null src
  // and no own text: 0, nothing changes.
  std::int64_t take_between(const char* src, std::int64_t max, char open, char close) noexcept;
  // Assigns fields first .. last - 1 of src with the delims between them, where a delim directly
  // after the escape byte does not separate (escape 0: every delim does) and stays in the text with
  // its escape. When last - first <= 0 or fewer fields follow, the rest of src from field first is
  // taken. False, with the string unchanged, for a negative first or when src has fewer than first
  // separating delims (a null src counts as empty; a delim of 0 separates nothing). src may point into
  // the own text. A failed allocation gives false and error 1, the old text given up as by
  // reserve_discard.
  bool take_fields(const char* src, std::int16_t first, std::int16_t last, char delim, char escape) noexcept;
  // Assigns token n of src, every byte of separators ending a token (adjacent separators give empty
  // tokens; the NUL is never a separator). False, with the string unchanged, for a negative n or when
  // src has fewer than n separators (a null src counts as empty). src may point into the own text.
  // A failed allocation gives false and error 1, the old text given up as by reserve_discard.
  bool take_token(const char* src, std::int16_t n, const char* separators) noexcept;

  // --- Formatted text -------------------------------------------------------------------------
  // Appends the engine's text of the item list (first, items..., 0), checked at compile time as
  // brol_format checks it. False when an allocation fails (the text is then unchanged).
  template <class First, class... Items>
  bool append_format(First first, Items... items) noexcept {
    const auto rest = brol::detail::rest_items(first, items...);
    return append_vformat(brol::detail::first_item(first, items...),
                          brol_fmt_cursor{rest.items, rest.items + sizeof...(Items) + 1});
  }
  bool append_vformat(brol_item first, brol_fmt_cursor cursor) noexcept;
  // Appends printf-formatted text. False for a null format, when the C library reports an encoding
  // error, or when an allocation fails (error is then 1).
  bool append_printf(const char* format, ...) noexcept __attribute__((format(gnu_printf, 2, 3)));
  // As append_printf with the arguments in a va_list.
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
