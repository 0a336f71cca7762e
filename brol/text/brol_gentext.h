// Texts made from values: socket address text, the local date and time in five forms, a repeated
// fill pattern, a printable packing of 64-bit numbers and printf into a growable heap buffer.
// Nothing keeps state; every function may run on several threads at once.
#pragma once

#include <cstdarg>
#include <cstdint>
#include <type_traits>

#include "brol/platform/brol_platform.h"

// Room that brol_addr_text needs: the longest IPv6 text and its NUL.
constexpr int brol_addr_text_size = 40;

// Writes the numeric text of an IPv4 or IPv6 socket address (without the port) into buffer, which
// holds brol_addr_text_size bytes. IPv4 is dotted decimal; IPv6 is eight lower-case hexadecimal
// groups without leading zeros, the leftmost longest run of two or more zero groups written as "::"
// (an IPv4-mapped address stays in groups: "::ffff:c000:201"). address must point to a whole
// sockaddr_in or sockaddr_in6 as its family says. Returns 4 for IPv4, 6 for IPv6; another family,
// a null buffer or a null address gives 0 and writes nothing.
int brol_addr_text(char* buffer, const sockaddr* address) noexcept;

// Writes the current local date and time (the platform's clock and the runtime's time zone):
//   kind 1  2026-12-06 01:58:45
//   kind 2  Sun, 06 Dec 2026 01:58:45 +0100   (the real offset from UTC, daylight saving included)
//   kind 3  2026-12-06-015845
//   kind 4  2026-12-06
//   kind 5  -2026-12-06-015845.log            (the suffix of dated log file names)
// Returns the text's length. -1 for another kind, a null buffer or size <= 0 (nothing written), a
// time the runtime cannot convert, or a text longer than size - 1 (the buffer then holds the empty
// text). 40 bytes hold every form.
std::int64_t brol_date_text(char* buffer, std::int64_t size, int kind) noexcept;

// Writes n bytes to destination: the bytes of pattern over and over. No NUL is written. A null or
// empty pattern or a null destination writes nothing.
void brol_fill_pattern(char* destination, std::uint64_t n, const char* pattern) noexcept;

// Packs count values into printable text: per value 11 bytes, byte i being 32 plus bits 6i to 6i + 5
// of the value shifted arithmetically (the last byte holds bits 60 to 63 and two copies of the sign),
// so every byte lies between ' ' and '_'. A NUL follows; buffer holds 11 * count + 1 bytes. A
// negative count writes only the NUL.
void brol_encode_number_array(char* buffer, std::int16_t count, const std::int64_t* values) noexcept;

// The same for values given as arguments (integers of any type, taken as 64-bit two's complement).
// Of count and the number of values the smaller is used.
template <class... Values>
void brol_encode_numbers(char* buffer, std::int16_t count, Values... values) noexcept {
  static_assert((std::is_integral_v<Values> && ...), "brol_encode_numbers packs integers");
  const std::int64_t list[sizeof...(Values) + 1] = {static_cast<std::int64_t>(values)..., 0};
  const auto given = static_cast<std::int16_t>(sizeof...(Values));
  brol_encode_number_array(buffer, count < given ? count : given, list);
}

// printf into a heap block that the caller keeps between calls: *buffer (null, or a block of
// brol_alloc) and *size (its size in bytes) are reused while the text fits and replaced by a larger
// block otherwise; the caller releases the block with brol_free. A format without '%' is copied as it
// is; a null format counts as the empty text. Returns 1 with the NUL-terminated text in *buffer.
// Returns 0 when an allocation fails, when the C library reports an encoding error, or when the text
// is longer than the C library can report; the old block is then released and the pair is (null, 0),
// from which a later call starts afresh. A null buffer or size address gives 0 and changes nothing.
int brol_printf_alloc(char** buffer, std::int64_t* size, const char* format, ...) noexcept
    __attribute__((format(gnu_printf, 3, 4)));
// As brol_printf_alloc with the arguments in a va_list.
int brol_vprintf_alloc(char** buffer, std::int64_t* size, const char* format, std::va_list arguments) noexcept
    __attribute__((format(gnu_printf, 3, 0)));
