// The number parsers against a model of their documented overflow stop and against strtoull and
// strtoll wherever those agree by design (no overflow, no L - 1 stop, no C-library-only syntax).
#include <cerrno>
#include <cinttypes>
#include <cstring>

#include "brol/text/brol_parse.h"
#include "fuzz_check.h"

namespace {

constexpr std::uint64_t k_max = ~std::uint64_t{0};

unsigned digit(char c, unsigned base) {
  const int v = brol_digit_value(c);
  return v < 0 ? 99U : static_cast<unsigned>(v) < base ? static_cast<unsigned>(v) : 99U;
}

// The stop as documented: at most n digits, none once the value exceeds L (L - 1 for an unsigned
// limit in a base dividing 2^64 - 1), and a digit whose addition passes the limit leaves value * base.
const char* model(const char* p, std::int64_t n, unsigned base, std::uint64_t limit, std::uint64_t* value) {
  const std::uint64_t big = limit / base - (limit == k_max && limit % base == 0 ? 1 : 0);
  std::uint64_t v = 0;
  for (; n > 0 && digit(*p, base) < base; --n, ++p) {
    const unsigned __int128 next = static_cast<unsigned __int128>(v) * base + digit(*p, base);
    if (v > big) {
      break;
    }
    v *= base;
    if (next > limit) {
      break;
    }
    v += digit(*p, base);
  }
  *value = v;
  return p;
}

bool is_c_space(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

// strtoull over the digit run alone: it agrees where no overflow happens and the whole run was read.
void compare_unsigned(const char* digits, const char* stop, unsigned base, std::uint64_t value) {
  const std::string run(digits, static_cast<std::size_t>(stop - digits));
  if (run.empty() || digit(*stop, base) < base) {
    return;
  }
  errno = 0;
  char* end = nullptr;
  const unsigned long long reference = std::strtoull(run.c_str(), &end, static_cast<int>(base));
  FUZZ_CHECK(errno == 0 && reference == value && *end == '\0');
}

void check_unsigned(const std::string& text, unsigned base, std::int64_t n) {
  const char* end = nullptr;
  const std::uint64_t value = brol_parse_uint(text.c_str(), &end, static_cast<int>(base));
  const char* digits = brol_skip_space(text.c_str());
  std::uint64_t expected = 0;
  FUZZ_CHECK(end == model(digits, INT64_MAX, base, k_max, &expected) && value == expected);
  compare_unsigned(digits, end, base, value);
  // A whole digit run that strtoull reads without overflow is read whole by the parser too.
  if (!is_c_space(*text.c_str()) && text[0] != '+' && text[0] != '-' && !(base == 16 && text[0] == '0')) {
    errno = 0;
    char* c_end = nullptr;
    const unsigned long long reference = std::strtoull(text.c_str(), &c_end, static_cast<int>(base));
    if (errno == 0 && c_end != text.c_str() && reference <= k_max / base) {
      FUZZ_CHECK(value == reference && end == c_end);
    }
  }
  const std::uint64_t counted = brol_parse_uint_n(text.c_str(), &end, n, static_cast<int>(base));
  FUZZ_CHECK(end == model(text.c_str(), n, base, k_max, &expected) && counted == expected);
}

void check_signed(const std::string& text, unsigned base, std::int64_t n) {
  const char* end = nullptr;
  const std::int64_t value = brol_parse_int(text.c_str(), &end, static_cast<int>(base));
  const char* p = brol_skip_space(text.c_str());
  const bool negative = *p == '-';
  p = brol_skip_space(p + (*p == '-' || *p == '+'));
  std::uint64_t magnitude = 0;
  FUZZ_CHECK(end == model(p, INT64_MAX, base, negative ? 1ULL << 63 : k_max >> 1, &magnitude));
  FUZZ_CHECK(value == static_cast<std::int64_t>(negative ? 0 - magnitude : magnitude));
  // strtoll takes the same sign and digits when no blank follows the sign; it overflows exactly
  // where the parser stops early, so only whole runs compare.
  const std::string run(p, static_cast<std::size_t>(end - p));
  if (!run.empty() && digit(*end, base) >= base) {
    errno = 0;
    const long long reference = std::strtoll(((negative ? "-" : "") + run).c_str(), nullptr, static_cast<int>(base));
    FUZZ_CHECK(errno == 0 && reference == value);
  }
  const char* q = text.c_str();
  const bool counted_negative = n > 0 && *q == '-';
  const std::int64_t signs = n > 0 && (*q == '-' || *q == '+') ? 1 : 0;
  const std::int64_t counted = brol_parse_int_n(q, &end, n, static_cast<int>(base));
  FUZZ_CHECK(end == model(q + signs, n - signs, base, counted_negative ? 1ULL << 63 : k_max >> 1, &magnitude));
  FUZZ_CHECK(counted == static_cast<std::int64_t>(counted_negative ? 0 - magnitude : magnitude));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz::input in(data, size);
  const unsigned selector = in.byte();
  const std::int64_t n = static_cast<std::int64_t>(in.byte()) - 8;
  const std::string text = in.rest().c_str();  // the parsers read up to the NUL
  if (selector >= 250) {
    // A base outside 2..36 reads nothing.
    const int base = selector == 250 ? 0 : selector == 251 ? 1 : selector == 252 ? 37 : -1;
    const char* end = nullptr;
    FUZZ_CHECK(brol_parse_uint(text.c_str(), &end, base) == 0 && end == text.c_str());
    FUZZ_CHECK(brol_parse_int_n(text.c_str(), &end, n, base) == 0 && end == text.c_str());
    return 0;
  }
  const unsigned base = 2 + selector % 35;
  check_unsigned(text, base, n);
  check_signed(text, base, n);
  return 0;
}
