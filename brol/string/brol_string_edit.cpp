// brol_string: editing in place: trimmed assignment, case conversion, replacing, escaping, decimal
// zeros, path names and random text.
#include <cstring>
#include <limits>

#include "brol/platform/brol_alloc.h"
#include "brol/platform/brol_platform.h"
#include "brol/string/brol_string.h"
#include "brol/text/brol_random.h"

namespace {

constexpr std::int64_t k_max = std::numeric_limits<std::int64_t>::max();

std::int64_t text_length(const char* s) noexcept { return s ? static_cast<std::int64_t>(std::strlen(s)) : 0; }

bool is_space_or_tab(char c) noexcept { return c == ' ' || c == '\t'; }

// One byte-to-byte map per direction: ASCII letters and the three umlaut pairs of code page 1252.
struct case_map {
  unsigned char to[256];
};

constexpr case_map make_case_map(bool upper) {
  case_map m{};
  for (int i = 0; i < 256; ++i) m.to[i] = static_cast<unsigned char>(i);
  constexpr unsigned char small[] = {0xE4, 0xF6, 0xFC};
  constexpr unsigned char capital[] = {0xC4, 0xD6, 0xDC};
  for (int c = 'a'; c <= 'z'; ++c) {
    if (upper) {
      m.to[c] = static_cast<unsigned char>(c - 'a' + 'A');
    } else {
      m.to[c - 'a' + 'A'] = static_cast<unsigned char>(c);
    }
  }
  for (int k = 0; k < 3; ++k) {
    if (upper) {
      m.to[small[k]] = capital[k];
    } else {
      m.to[capital[k]] = small[k];
    }
  }
  return m;
}

constexpr case_map k_upper = make_case_map(true);
constexpr case_map k_lower = make_case_map(false);

void convert_from(char* text, std::int64_t pos, const case_map& map) noexcept {
  if (!text || pos < 0 || pos >= text_length(text)) return;
  for (char* p = text + pos; *p; ++p) *p = static_cast<char>(map.to[static_cast<unsigned char>(*p)]);
}

// An argument of an operation that rewrites the own text: when it points into that text it is copied
// first, so that what it held before the call is used throughout.
class stable_text {
 public:
  stable_text(const char* s, bool own) noexcept : p_(s) {
    if (!own) return;
    const std::int64_t n = text_length(s);
    copy_ = static_cast<char*>(brol_alloc(n + 1));
    if (copy_) std::memcpy(copy_, s, static_cast<std::size_t>(n + 1));
    p_ = copy_;
  }
  ~stable_text() { brol_free(copy_); }
  stable_text(const stable_text&) = delete;
  stable_text& operator=(const stable_text&) = delete;
  // Null when the copy could not be made.
  const char* get() const noexcept { return p_; }

 private:
  const char* p_;
  char* copy_ = nullptr;
};

// Position of the first match of find (flen >= 1 bytes) in s[0, len), or -1.
std::int64_t find_match(const char* s, std::int64_t len, const char* find, std::int64_t flen) noexcept {
  for (std::int64_t i = 0; len - i >= flen;) {
    const void* c = std::memchr(s + i, find[0], static_cast<std::size_t>(len - i - flen + 1));
    if (!c) return -1;
    i = static_cast<const char*>(c) - s;
    if (std::memcmp(s + i, find, static_cast<std::size_t>(flen)) == 0) return i;
    ++i;
  }
  return -1;
}

std::int64_t count_matches(const char* s, std::int64_t len, const char* find, std::int64_t flen) noexcept {
  std::int64_t count = 0;
  for (std::int64_t i = 0, at; (at = find_match(s + i, len - i, find, flen)) >= 0; i += at + flen) ++count;
  return count;
}

// Rewrites the `count` matches of find in s, left to right without overlap, each into repl followed,
// with keep, by the match itself. Room for the result is reserved first; false, with the text
// unchanged, when that fails. repl and find must not point into s.
bool rewrite_matches(brol_string& s, std::int64_t count, const char* find, std::int64_t flen, const char* repl,
                     std::int64_t rlen, bool keep) noexcept {
  const std::int64_t len = s.length();
  const std::int64_t growth = keep ? rlen : rlen - flen;
  if (growth > 0 && count > (k_max - 2 - len) / growth) {
    s.error = 1;
    return false;
  }
  const std::int64_t shift = growth > 0 ? count * growth : 0;
  if (shift > 0 && !s.reserve(len + shift)) return false;
  char* t = s.text;
  // When the text grows it is first moved to the top of the new room, so that the writer, which
  // starts at 0, never overtakes the bytes still to be read.
  std::memmove(t + shift, t, static_cast<std::size_t>(len));
  std::int64_t r = shift, w = 0;
  for (; count > 0; --count) {
    const std::int64_t at = find_match(t + r, len + shift - r, find, flen);
    std::memmove(t + w, t + r, static_cast<std::size_t>(at));
    w += at;
    r += at;
    std::memcpy(t + w, repl, static_cast<std::size_t>(rlen));
    w += rlen;
    if (keep) {
      std::memmove(t + w, t + r, static_cast<std::size_t>(flen));
      w += flen;
    }
    r += flen;
  }
  std::memmove(t + w, t + r, static_cast<std::size_t>(len + shift - r));
  t[w + len + shift - r] = '\0';
  return true;
}

// Appends path (when given) and finds the last slash of the whole text; `start` is where the treated
// part begins. Returns the slash's position when it lies in the treated part, else -1.
std::int64_t treated_slash(brol_string& s, const char* path, std::int64_t& start) noexcept {
  start = path ? s.length() : 0;
  if (path && !s.append_bytes(path, text_length(path))) return -1;
  if (!s.text) return -1;
  const char* slash = std::strrchr(s.text, '/');
  return slash && slash - s.text >= start ? slash - s.text : -1;
}

}  // namespace

// --- Trimmed assignment -------------------------------------------------------------------------

void brol_string::assign_trimmed(const char* s) noexcept {
  std::int64_t first = 0;
  while (s && is_space_or_tab(s[first])) ++first;
  if (!s || !s[first]) {
    assign(nullptr);
    return;
  }
  std::int64_t last = first + text_length(s + first);
  while (is_space_or_tab(s[last - 1])) --last;
  assign_range(s + first, last - first, last - first);
}

void brol_string::assign_trimmed_copy(const brol_string& other) noexcept {
  if (!other.text) {
    assign(nullptr);
    return;
  }
  // For the string itself the buffer is already large enough and allocate keeps it.
  if (!allocate(other.capacity)) return;
  assign_trimmed(other.text);
}

// --- Case conversion ----------------------------------------------------------------------------

void brol_string::upper_from(std::int64_t pos) noexcept { convert_from(text, pos, k_upper); }

void brol_string::lower_from(std::int64_t pos) noexcept { convert_from(text, pos, k_lower); }

brol_string& brol_string::append_upper(const char* s) noexcept {
  const std::int64_t len = length();
  if (s && *s && append_bytes(s, text_length(s))) upper_from(len);
  return *this;
}

brol_string& brol_string::append_lower(const char* s) noexcept {
  const std::int64_t len = length();
  if (s && *s && append_bytes(s, text_length(s))) lower_from(len);
  return *this;
}

// --- Replacing and escaping ---------------------------------------------------------------------

void brol_string::replace_char(char from, char to) noexcept {
  if (!text || from == '\0') return;
  if (to != '\0') {
    for (char* p = text; *p; ++p) {
      if (*p == from) *p = to;
    }
    return;
  }
  // Removing: one pass that closes the gaps, the same text as erasing one byte at a time.
  char* w = text;
  for (const char* r = text; *r; ++r) {
    if (*r != from) *w++ = *r;
  }
  *w = '\0';
}

void brol_string::replace_all(const char* find, const char* replacement) noexcept {
  if (!text || !find || !*find || !replacement) return;
  const std::int64_t flen = text_length(find);
  const std::int64_t count = count_matches(text, length(), find, flen);
  if (count == 0) return;
  const stable_text f(find, owns(find));
  const stable_text r(replacement, owns(replacement));
  if (!f.get() || !r.get()) {
    error = 1;
    return;
  }
  rewrite_matches(*this, count, f.get(), flen, r.get(), text_length(r.get()), false);
}

void brol_string::insert_before_each(const char* chars, const char* insertion) noexcept {
  if (is_empty() || !chars || !*chars || !insertion || !*insertion) return;
  const stable_text c(chars, owns(chars));
  const stable_text in(insertion, owns(insertion));
  if (!c.get() || !in.get()) {
    error = 1;
    return;
  }
  const std::int64_t ilen = text_length(in.get());
  for (const char* p = c.get(); *p; ++p) {
    const std::int64_t count = count_char(*p);
    if (count > 0 && !rewrite_matches(*this, count, p, 1, in.get(), ilen, true)) return;
  }
}

// --- Decimal numbers ----------------------------------------------------------------------------

void brol_string::strip_zeros() noexcept {
  char* point = text ? std::strrchr(text, '.') : nullptr;
  if (!point) return;
  char* end = point + 1;
  while (*end >= '0' && *end <= '9') ++end;
  // Anything but digits after the point (an exponent, a unit) means the zeros may carry value.
  if (*end) return;
  while (end > point + 1 && end[-1] == '0') --end;
  if (end == point + 1) end = point;
  *end = '\0';
}

// --- Path names ---------------------------------------------------------------------------------

brol_string& brol_string::base_name(const char* path) noexcept {
  std::int64_t start = 0;
  const std::int64_t slash = treated_slash(*this, path, start);
  if (slash >= 0) erase(start, slash - start + 1);
  return *this;
}

brol_string& brol_string::dir_name(const char* path) noexcept {
  std::int64_t start = 0;
  const std::int64_t slash = treated_slash(*this, path, start);
  if (slash >= 0) text[slash] = '\0';
  return *this;
}

brol_string& brol_string::append_path(const char* part) noexcept {
  const std::int64_t len = length();
  const std::int64_t plen = text_length(part);
  const std::int64_t sep = len == 0 || text[len - 1] != brol_path_separator ? 1 : 0;
  if (plen > k_max - 4 - len) {
    error = 1;
    return *this;
  }
  // One reservation for both pieces; a part taken from the own text is found again by its offset.
  const std::int64_t at = owns(part) ? part - text : -1;
  if (!reserve(len + sep + plen)) return *this;
  if (at >= 0) part = text + at;
  if (plen > 0) std::memmove(text + len + sep, part, static_cast<std::size_t>(plen));
  if (sep) text[len] = brol_path_separator;
  text[len + sep + plen] = '\0';
  return *this;
}

bool brol_string::keep_after_last(char ch) noexcept {
  const char* last = ch && text ? std::strrchr(text, ch) : nullptr;
  if (!last) return false;
  erase(0, last - text + 1);
  return true;
}

// --- Random text --------------------------------------------------------------------------------

bool brol_string::append_random(std::int64_t n) noexcept {
  if (n < 0) return false;
  if (n == 0) return true;
  const std::int64_t len = length();
  if (n > k_max - 2 - len) {
    error = 1;
    return false;
  }
  if (!reserve(len + n)) return false;
  brol_random_alnum(text + len, n);
  text[len + n] = '\0';
  return true;
}
