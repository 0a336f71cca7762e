// Character classes, white space, lines, digits, numbers and escapes of NUL-terminated texts.
#include "brol/text/brol_parse.h"

#include <array>
#include <cstring>

namespace {

constexpr unsigned k_not_digit = 255;

// Digit value of every byte (k_not_digit for non-digits), so one lookup classifies for any base.
constexpr std::array<std::uint8_t, 256> make_digit_table() {
  std::array<std::uint8_t, 256> table{};
  for (unsigned c = 0; c < 256; ++c) {
    unsigned v = k_not_digit;
    if (c >= '0' && c <= '9') {
      v = c - '0';
    } else if (c >= 'a' && c <= 'z') {
      v = c - 'a' + 10;
    } else if (c >= 'A' && c <= 'Z') {
      v = c - 'A' + 10;
    }
    table[c] = static_cast<std::uint8_t>(v);
  }
  return table;
}
constexpr std::array<std::uint8_t, 256> k_digit = make_digit_table();

unsigned digit_of(char c) { return k_digit[static_cast<unsigned char>(c)]; }

bool base_ok(int base) { return base >= 2 && base <= 36; }

constexpr std::uint64_t k_int_max = 0x7fffffffffffffffULL;
constexpr std::uint64_t k_int_min_magnitude = 0x8000000000000000ULL;

// How many digits of base can never exceed limit: the largest k with base^k - 1 <= limit.
constexpr std::uint8_t safe_digit_count(unsigned base, std::uint64_t limit) {
  std::uint8_t k = 0;
  for (std::uint64_t largest = 0; largest <= (limit - (base - 1)) / base; ++k) {
    largest = largest * base + (base - 1);
  }
  return k;
}

constexpr std::array<std::uint8_t, 37> make_safe_table(std::uint64_t limit) {
  std::array<std::uint8_t, 37> table{};
  for (unsigned base = 2; base <= 36; ++base) {
    table[base] = safe_digit_count(base, limit);
  }
  return table;
}
constexpr std::array<std::uint8_t, 37> k_safe_unsigned = make_safe_table(~std::uint64_t{0});
constexpr std::array<std::uint8_t, 37> k_safe_signed = make_safe_table(k_int_max);

// Reads at most n digits of base from p while value * base + digit stays <= limit (at least
// k_int_max). Returns the position of the first byte not consumed; *value receives the value of
// the consumed digits. The first digits cannot overflow and go without the check.
inline __attribute__((always_inline)) const char* scan_digits_in(const char* p, std::int64_t n, unsigned base,
                                                                 std::uint64_t limit, std::uint64_t* value) {
  std::uint64_t v = 0;
  if (n <= 0) {
    *value = 0;
    return p;
  }
  const std::int64_t safe = (limit == ~std::uint64_t{0} ? k_safe_unsigned : k_safe_signed)[base];
  for (const char* quick_end = p + (n < safe ? n : safe); p < quick_end; ++p) {
    const unsigned d = digit_of(*p);
    if (d >= base) {
      *value = v;
      return p;
    }
    v = v * base + d;
  }
  // Past the safe run: stop before a digit when the value already exceeds L, or when adding the
  // digit would pass the limit, keeping value * base (the digit is neither added nor consumed). For
  // the unsigned limit, L is one lower when the base divides 2^64 - 1 (3, 5, 15, 17).
  const std::uint64_t stop_above =
      limit / base - (limit == ~std::uint64_t{0} && limit % base == 0 ? 1 : 0);
  for (n -= safe; n > 0; --n, ++p) {
    const unsigned d = digit_of(*p);
    if (d >= base || v > stop_above) {
      break;
    }
    v *= base;
    if (d > limit - v) {
      break;
    }
    v += d;
  }
  *value = v;
  return p;
}

// The common bases get copies with the base a constant, which turns the multiplication into
// shifts and adds.
const char* scan_digits(const char* p, std::int64_t n, unsigned base, std::uint64_t limit, std::uint64_t* value) {
  switch (base) {
    case 10:
      return scan_digits_in(p, n, 10, limit, value);
    case 16:
      return scan_digits_in(p, n, 16, limit, value);
    default:
      return scan_digits_in(p, n, base, limit, value);
  }
}

void set_end(const char** end, const char* position) {
  if (end != nullptr) {
    *end = position;
  }
}

// The common tail of the signed parsers: p is just after white space and the optional sign.
std::int64_t signed_digits(const char* p, const char** end, std::int64_t n, int base, bool negative) {
  std::uint64_t magnitude = 0;
  set_end(end, scan_digits(p, n, static_cast<unsigned>(base), negative ? k_int_min_magnitude : k_int_max, &magnitude));
  // Two's complement wrap: the magnitude 2^63 after '-' becomes the smallest value.
  return static_cast<std::int64_t>(negative ? 0 - magnitude : magnitude);
}

constexpr std::int64_t k_unbounded = 0x7fffffffffffffffLL;

// Reads up to max digits of base at p; returns how many, *value their value modulo 256.
std::int64_t escape_digits(const char* p, std::int64_t max, unsigned base, unsigned* value) {
  unsigned v = 0;
  std::int64_t i = 0;
  for (; i < max; ++i) {
    const unsigned d = digit_of(p[i]);
    if (d >= base) {
      break;
    }
    v = (v * base + d) & 0xffU;
  }
  *value = v;
  return i;
}

// The byte of a one-letter escape, or the letter itself when it names none.
char named_escape(char c) {
  switch (c) {
    case 'a':
      return '\a';
    case 'b':
      return '\b';
    case 'e':
      return '\x1b';
    case 'f':
      return '\f';
    case 'n':
      return '\n';
    case 'r':
      return '\r';
    case 't':
      return '\t';
    case 'v':
      return '\v';
    default:
      return c;
  }
}

// Decodes the escape whose backslash is at text[0]; *used receives its length.
char decode_escape(const char* text, std::int64_t* used) {
  const char c = text[1];
  unsigned value = 0;
  if (c == '\0') {
    *used = 1;  // keeps a caller's loop from stepping over the terminating NUL
    return '\\';
  }
  if (c >= '0' && c <= '7') {
    *used = 1 + escape_digits(text + 1, 3, 8, &value);
    return static_cast<char>(value);
  }
  if (c == 'x' || c == 'i') {
    const std::int64_t digits = escape_digits(text + 2, c == 'x' ? 2 : 8, c == 'x' ? 16 : 2, &value);
    *used = 2 + digits;
    return digits == 0 ? c : static_cast<char>(value);
  }
  *used = 2;
  return named_escape(c);
}

}  // namespace

bool brol_is_blank(char c) noexcept { return c == ' ' || c == '\t'; }

bool brol_is_space(char c) noexcept { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

const char* brol_skip_blanks(const char* text) noexcept {
  if (text == nullptr) {
    return nullptr;
  }
  while (brol_is_blank(*text)) {
    ++text;
  }
  return text;
}

const char* brol_skip_space(const char* text) noexcept {
  if (text == nullptr) {
    return nullptr;
  }
  while (brol_is_space(*text)) {
    ++text;
  }
  return text;
}

const char* brol_next_line(const char* text) noexcept {
  if (text == nullptr) {
    return nullptr;
  }
  const char* lf = std::strchr(text, '\n');
  return lf == nullptr ? nullptr : lf + 1;
}

int brol_digit_value(char c) noexcept {
  const unsigned d = digit_of(c);
  return d == k_not_digit ? -1 : static_cast<int>(d);
}

std::uint32_t brol_parse_hex(const char* text, std::int16_t n) noexcept {
  std::uint32_t value = 0;
  if (text == nullptr) {
    return 0;
  }
  for (std::int16_t i = 0; i < n; ++i) {
    const unsigned d = digit_of(text[i]);
    if (d >= 16) {
      break;
    }
    value = value * 16 + d;
  }
  return value;
}

std::uint64_t brol_parse_uint(const char* text, const char** end, int base) noexcept {
  if (text == nullptr || !base_ok(base)) {
    set_end(end, text);
    return 0;
  }
  return brol_parse_uint_n(brol_skip_space(text), end, k_unbounded, base);
}

std::uint64_t brol_parse_uint_n(const char* text, const char** end, std::int64_t n, int base) noexcept {
  std::uint64_t value = 0;
  if (text == nullptr || !base_ok(base)) {
    set_end(end, text);
    return 0;
  }
  set_end(end, scan_digits(text, n, static_cast<unsigned>(base), ~std::uint64_t{0}, &value));
  return value;
}

std::int64_t brol_parse_int(const char* text, const char** end, int base) noexcept {
  if (text == nullptr || !base_ok(base)) {
    set_end(end, text);
    return 0;
  }
  const char* p = brol_skip_space(text);
  const bool negative = *p == '-';
  if (negative || *p == '+') {
    ++p;
  }
  return signed_digits(brol_skip_space(p), end, k_unbounded, base, negative);
}

std::int64_t brol_parse_int_n(const char* text, const char** end, std::int64_t n, int base) noexcept {
  if (text == nullptr || !base_ok(base) || n <= 0) {
    set_end(end, text);
    return 0;
  }
  const bool negative = *text == '-';
  if (negative || *text == '+') {
    return signed_digits(text + 1, end, n - 1, base, negative);
  }
  return signed_digits(text, end, n, base, false);
}

char brol_unescape(const char* text, std::int64_t* used) noexcept {
  std::int64_t n = 0;
  char result = 0;
  if (text == nullptr) {
    n = 0;
  } else if (*text != '\\') {
    n = 1;
    result = *text;
  } else {
    result = decode_escape(text, &n);
  }
  if (used != nullptr) {
    *used = n;
  }
  return result;
}
