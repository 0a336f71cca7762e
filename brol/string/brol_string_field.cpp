// brol_string: cutting pieces out of a text: a field in place, a quoted text with escapes, the text
// between two bytes, a run of fields, a token, and the splitting of a text into a string array.
#include <cstring>

#include "brol/string/brol_string.h"
#include "brol/string/brol_string_array.h"

namespace {

std::int64_t text_length(const char* s) noexcept { return s ? static_cast<std::int64_t>(std::strlen(s)) : 0; }

// The bytes of a text, as a set; the NUL is never in it.
class byte_set {
 public:
  explicit byte_set(const char* chars) noexcept {
    for (; chars && *chars; ++chars) {
      const auto u = static_cast<unsigned char>(*chars);
      bits_[u >> 6] |= std::uint64_t{1} << (u & 63);
    }
  }
  bool has(char c) const noexcept {
    const auto u = static_cast<unsigned char>(c);
    return (bits_[u >> 6] >> (u & 63)) & 1;
  }

 private:
  std::uint64_t bits_[4] = {};
};

// The position of the n-th (n >= 1) byte of s[from, len) for which is_cut(position) holds, or -1 when
// there are fewer. Only bytes before len are looked at, so the terminating NUL is never a cut.
template <class Cut>
std::int64_t nth_cut(std::int64_t from, std::int64_t len, int n, Cut is_cut) noexcept {
  for (std::int64_t i = from; i < len; ++i) {
    if (is_cut(i) && --n == 0) return i;
  }
  return -1;
}

// Where field n begins (0 for n = 0, behind the n-th cut otherwise), or -1 when there are fewer cuts.
template <class Cut>
std::int64_t field_start(std::int64_t len, int n, Cut is_cut) noexcept {
  if (n == 0) return 0;
  const std::int64_t cut = nth_cut(0, len, n, is_cut);
  return cut < 0 ? -1 : cut + 1;
}

// Where the run of n fields from start ends: at the n-th cut after start, or at len.
template <class Cut>
std::int64_t run_end(std::int64_t start, std::int64_t len, int n, Cut is_cut) noexcept {
  const std::int64_t cut = n > 0 ? nth_cut(start, len, n, is_cut) : -1;
  return cut < 0 ? len : cut;
}

// What a backslash followed by e stands for inside quotes: a byte, k_nothing (a line continuation)
// or k_both (the pair stays as it is).
constexpr int k_nothing = -1;
constexpr int k_both = -2;

int unescape(char e, char quote) noexcept {
  static constexpr char k_letters[] = "abfnrtv";
  static constexpr char k_bytes[] = "\a\b\f\n\r\t\v";
  // In the order of the escape table: the letters, the backslash, the quote, then the line
  // continuation (so that in a text quoted by LF, backslash LF is the LF).
  for (int k = 0; k_letters[k]; ++k) {
    if (e == k_letters[k]) return k_bytes[k];
  }
  if (e == '\\' || e == quote) return static_cast<unsigned char>(e);
  return e == '\n' ? k_nothing : k_both;
}

// Where the quote that opens at `open` closes in src[0, max): its position, or the negative of
// one plus the position where the search stopped (the end, or a backslash in the last place).
std::int64_t closing_quote(const char* src, std::int64_t open, std::int64_t max, char quote) noexcept {
  std::int64_t i = open + 1;
  for (; i < max && src[i] != quote; ++i) {
    if (src[i] != '\\') continue;
    if (i + 1 >= max) return -1 - i;
    ++i;
  }
  return i < max ? i : -1 - i;
}

// Copies src[from, to) with escapes resolved to out and terminates it. out may equal the start of
// the source's buffer: it never runs ahead of the byte being read.
void copy_unescaped(char* out, const char* src, std::int64_t from, std::int64_t to, char quote) noexcept {
  std::int64_t w = 0;
  for (std::int64_t i = from; i < to; ++i) {
    if (src[i] != '\\') {
      out[w++] = src[i];
      continue;
    }
    const char e = src[++i];
    const int c = unescape(e, quote);
    if (c == k_both) {
      out[w++] = '\\';
      out[w++] = e;
    } else if (c != k_nothing) {
      out[w++] = static_cast<char>(c);
    }
  }
  out[w] = '\0';
}

template <class Cut>
bool split_with(const char* src, brol_string_array& array, Cut is_cut) noexcept {
  const char* piece = src ? src : "";
  for (const char* p = piece;; ++p) {
    if (*p != '\0' && !is_cut(*p)) continue;
    brol_string* e = array.add(1);
    if (!e || !e->append_bytes(piece, p - piece)) return false;
    if (*p == '\0') return true;
    piece = p + 1;
  }
}

}  // namespace

bool brol_string::keep_field(std::int16_t n, char delim) noexcept {
  if (n < 0 || is_empty()) return false;
  const std::int64_t len = length();
  const auto is_cut = [&](std::int64_t i) { return text[i] == delim; };
  const std::int64_t start = field_start(len, n, is_cut);
  if (start < 0) {
    text[0] = '\0';
    return false;
  }
  text[run_end(start, len, 1, is_cut)] = '\0';
  if (start > 0) erase(0, start);
  return true;
}

std::int64_t brol_string::take_quoted(const char* src, std::int64_t max, char quote) noexcept {
  if (!src) src = text;
  if (!src) return 0;
  const std::int64_t len = text_length(src);
  if (max <= 0 || max > len) max = len;
  std::int64_t open = 0;
  if (quote != '\0') {
    while (open < max && src[open] != quote) ++open;
  } else {
    while (open < max && (src[open] == ' ' || src[open] == '\t')) ++open;
    if (open < max) quote = src[open];
  }
  const std::int64_t close = open < max ? closing_quote(src, open, max, quote) : -1 - open;
  if (close < 0) {
    assign(nullptr);
    return -1 - close;
  }
  // In the own text the result is never longer than its source, so it is rewritten in place.
  if (!owns(src) && !reserve_discard(close - open - 1)) return close;
  copy_unescaped(text, src, open + 1, close, quote);
  return close;
}

std::int64_t brol_string::take_between(const char* src, std::int64_t max, char open, char close) noexcept {
  if (!src) src = text;
  if (!src) return 0;
  const std::int64_t limit = max > 0 ? max : text_length(src);
  std::int64_t i = 0;
  while (i < limit && src[i] && src[i] != open) ++i;
  std::int64_t j = i + 1;
  if (i < limit && src[i]) {
    while (j < limit && src[j] && src[j] != close && src[j] != '\n') ++j;
  }
  if (i >= limit || !src[i] || j >= limit || !src[j] || src[j] != close) {
    assign(nullptr);
    return 0;
  }
  if (!assign_range(src + i + 1, j - i - 1, j - i - 1)) return 0;
  return j + 1;
}

bool brol_string::take_fields(const char* src, std::int16_t first, std::int16_t last, char delim,
                              char escape) noexcept {
  if (first < 0) return false;
  const char* s = src ? src : "";
  const std::int64_t len = text_length(s);
  const auto is_cut = [&](std::int64_t i) { return s[i] == delim && !(escape != '\0' && i > 0 && s[i - 1] == escape); };
  const std::int64_t start = field_start(len, first, is_cut);
  if (start < 0) return false;
  const std::int64_t end = run_end(start, len, last - first, is_cut);
  return assign_range(s + start, end - start, end - start);
}

bool brol_string::take_token(const char* src, std::int16_t n, const char* separators) noexcept {
  if (n < 0) return false;
  const char* s = src ? src : "";
  const std::int64_t len = text_length(s);
  const byte_set set(separators);
  const auto is_cut = [&](std::int64_t i) { return set.has(s[i]); };
  const std::int64_t start = field_start(len, n, is_cut);
  if (start < 0) return false;
  const std::int64_t end = run_end(start, len, 1, is_cut);
  return assign_range(s + start, end - start, end - start);
}

bool brol_split(const char* src, brol_string_array& array, char delim) noexcept {
  return split_with(src, array, [delim](char c) { return c == delim; });
}

bool brol_split_any(const char* src, brol_string_array& array, const char* separators) noexcept {
  const byte_set set(separators);
  return split_with(src, array, [&set](char c) { return set.has(c); });
}
