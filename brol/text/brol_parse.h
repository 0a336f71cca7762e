// Allocation-free reading of NUL-terminated byte texts: character classes, white space, lines, digit
// values, numbers in bases 2 to 36 and backslash escapes. Only the bytes named below have a meaning;
// every other byte (including those above 127) is an ordinary character. Nothing keeps state.
#pragma once

#include <cstdint>

// True for blank (32) and tab (9).
bool brol_is_blank(char c) noexcept;
// True for tab (9), LF (10), CR (13) and blank (32); vertical tab and form feed are not space.
bool brol_is_space(char c) noexcept;

// The first byte of text that is neither blank nor tab (the NUL at the latest). Null gives null.
const char* brol_skip_blanks(const char* text) noexcept;
// The first byte of text that is none of blank, tab, LF, CR. Null gives null.
const char* brol_skip_space(const char* text) noexcept;
// The position just after the first LF of text; null when there is none or text is null.
const char* brol_next_line(const char* text) noexcept;

// '0'-'9' give 0-9, 'a'-'z' and 'A'-'Z' give 10-35, every other byte -1.
int brol_digit_value(char c) noexcept;

// The value of up to n hexadecimal digits from the first byte on, stopping at the first other byte.
// Unsigned 32-bit arithmetic: digits beyond the eighth push the high ones out. No white space, sign
// or 0x prefix is read. A null text or n <= 0 gives 0.
std::uint32_t brol_parse_hex(const char* text, std::int16_t n) noexcept;

// Number parsing. A digit of base B is '0'-'9' below B and, for B > 10, the first B - 10 letters in
// either case. Digits are consumed while the value of the consumed digits stays in range; the
// parse stops before the first digit that would leave it, so the result is always the value of
// exactly the digits consumed. When end is not null it receives the position of the first byte not
// consumed (white space and a sign count as consumed, even without digits after them). A base
// outside 2..36, or a null text, gives 0 and sets *end to text: nothing is consumed.
//
// brol_parse_uint skips white space (as brol_skip_space), then reads digits up to 2^64 - 1.
std::uint64_t brol_parse_uint(const char* text, const char** end, int base) noexcept;
// Skips white space, reads an optional '-' or '+', then reads as brol_parse_uint (which skips white
// space again, so "- 12" is -12). The magnitude stops at 2^63 - 1, or 2^63 after '-'.
std::int64_t brol_parse_int(const char* text, const char** end, int base) noexcept;
// As brol_parse_uint without skipping white space, reading at most n bytes (n <= 0: none).
std::uint64_t brol_parse_uint_n(const char* text, const char** end, std::int64_t n, int base) noexcept;
// No white space is skipped. A '-' or '+' in the first byte is consumed and counts as one of the n
// bytes; the digits follow as in brol_parse_uint_n with the signed range of brol_parse_int.
std::int64_t brol_parse_int_n(const char* text, const char** end, std::int64_t n, int base) noexcept;

// Decodes the character or backslash escape at text and returns its byte; *used (when not null)
// receives the number of bytes it took:
//   a byte other than backslash                     itself, 1 (the NUL too)
//   \a \b \e \f \n \r \t \v                         7 8 27 12 10 13 9 11, 2
//   \ and 1 to 3 octal digits                       their value modulo 256, 1 + digits
//   \x and 1 or 2 hexadecimal digits                their value, 2 + digits; \x alone gives 'x', 2
//   \i and 1 to 8 binary digits                     their value modulo 256, 2 + digits; \i alone 'i', 2
//   \ and any other byte                            that byte (\\ is a backslash, \8 is '8'), 2
//   \ directly before the NUL                       the backslash, 1 (a caller's loop then stops)
// A null text gives 0 with used 0.
char brol_unescape(const char* text, std::int64_t* used) noexcept;
