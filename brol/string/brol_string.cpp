// brol_string: construction, memory, access, assigning, appending, inserting, erasing, comparing.
#include "brol/string/brol_string.h"

#include <cstring>
#include <functional>
#include <limits>
#include <utility>

#include "brol/platform/brol_alloc.h"

namespace {

constexpr std::int64_t k_max = std::numeric_limits<std::int64_t>::max();
const char k_empty[1] = "";

std::int64_t text_length(const char* s) noexcept { return s ? static_cast<std::int64_t>(std::strlen(s)) : 0; }

// Bytes before the first NUL of s, at most n (no byte past the n-th is read).
std::int64_t bounded_length(const char* s, std::int64_t n) noexcept {
  const void* nul = std::memchr(s, 0, static_cast<std::size_t>(n));
  return nul ? static_cast<const char*>(nul) - s : n;
}

bool is_blank(char c) noexcept { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

char fold(char c) noexcept { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + ('a' - 'A')) : c; }

int compare_nocase(const char* a, const char* b, std::int64_t n) noexcept {
  for (std::int64_t i = 0; i < n; ++i) {
    const unsigned char x = static_cast<unsigned char>(fold(a[i]));
    const unsigned char y = static_cast<unsigned char>(fold(b[i]));
    if (x != y) return x < y ? -1 : 1;
    if (x == 0) return 0;
  }
  return 0;
}

}  // namespace

std::int64_t brol_string::block_size(std::int64_t n) noexcept {
  if (n < 0 || n > k_max - 64) return 0;
  return (n / 64 + 1) * 64;
}

// --- Construction and release -------------------------------------------------------------------

void brol_string::init() noexcept {
  error = 0;
  capacity = 0;
  text = nullptr;
}

brol_string& brol_string::init_from(const char* s) noexcept {
  init();
  return assign(s);
}

brol_string& brol_string::init_copy(const brol_string& other) noexcept {
  init();
  return assign_copy(other);
}

void brol_string::init_move(brol_string& other) noexcept {
  error = other.error;
  capacity = other.capacity;
  text = other.text;
  other.capacity = 0;
  other.text = nullptr;
}

void brol_string::move_from(brol_string& other) noexcept {
  if (&other == this) return;
  brol_free(text);
  init_move(other);
}

void brol_string::swap(brol_string& other) noexcept {
  std::swap(error, other.error);
  std::swap(capacity, other.capacity);
  std::swap(text, other.text);
}

void brol_string::destroy() noexcept {
  brol_free(text);
  init();
}

// --- Memory -------------------------------------------------------------------------------------

bool brol_string::reserve(std::int64_t n) noexcept {
  if (n >= 0 && text && n < k_max && n + 1 < capacity) return true;
  const std::int64_t size = n >= 0 && n < k_max ? block_size(n + 1) : 0;
  char* fresh = size > 0 ? static_cast<char*>(brol_alloc(size)) : nullptr;
  if (!fresh) {
    error = 1;
    return false;
  }
  if (text) {
    std::memcpy(fresh, text, static_cast<std::size_t>(length() + 1));
  } else {
    fresh[0] = '\0';
  }
  brol_free(text);
  text = fresh;
  capacity = size;
  return true;
}

bool brol_string::reserve_discard(std::int64_t n) noexcept {
  if (n >= 0 && n < k_max && n + 1 < capacity) return true;
  const std::int64_t size = n >= 0 && n < k_max ? block_size(n + 1) : 0;
  if (size == 0) {
    destroy_buffer_failed();
    return false;
  }
  return allocate(size);
}

bool brol_string::allocate(std::int64_t size) noexcept {
  if (size <= capacity) return true;
  brol_free(text);
  text = static_cast<char*>(brol_alloc(size));
  if (!text) {
    destroy_buffer_failed();
    return false;
  }
  capacity = size;
  return true;
}

void brol_string::destroy_buffer_failed() noexcept {
  brol_free(text);
  text = nullptr;
  capacity = 0;
  error = 1;
}

bool brol_string::owns(const char* p) const noexcept {
  return text && p && !std::less<const char*>()(p, text) && std::less<const char*>()(p, text + capacity);
}

// --- Access -------------------------------------------------------------------------------------

char* brol_string::buffer(brol_string* s, std::int64_t n) noexcept {
  if (n < 0) return nullptr;
  if (!s) return const_cast<char*>(k_empty);
  if (n > 0 && !s->reserve(n)) return nullptr;
  return s->text ? s->text : const_cast<char*>(k_empty);
}

char* brol_string::buffer_at(std::int64_t n) noexcept {
  if (n < 0 || n >= k_max || !reserve(n + 1)) return nullptr;
  return text + n;
}

const char* brol_string::c_str(const brol_string* s) noexcept { return s && s->text ? s->text : k_empty; }

const char* brol_string::c_str() const noexcept { return text ? text : k_empty; }

std::int64_t brol_string::length() const noexcept { return text_length(text); }

bool brol_string::is_empty() const noexcept { return !text || text[0] == '\0'; }

// --- Assigning ----------------------------------------------------------------------------------

bool brol_string::assign_range(const char* s, std::int64_t n, std::int64_t room) noexcept {
  if (owns(s)) {
    // The source lives in the own buffer: grow keeping the text, then find the source again.
    const std::int64_t at = s - text;
    if (!reserve(room)) return false;
    std::memmove(text, text + at, static_cast<std::size_t>(n));
  } else {
    if (!reserve_discard(room)) return false;
    std::memcpy(text, s, static_cast<std::size_t>(n));
  }
  text[n] = '\0';
  return true;
}

brol_string& brol_string::assign(const char* s) noexcept {
  if (s == text) return *this;
  if (s && *s) {
    assign_range(s, text_length(s), text_length(s));
  } else if (text) {
    text[0] = '\0';
  }
  return *this;
}

brol_string& brol_string::assign_copy(const brol_string& other) noexcept {
  if (&other == this || other.text == text) return *this;
  if (other.text) {
    if (allocate(other.capacity)) std::memcpy(text, other.text, static_cast<std::size_t>(other.length() + 1));
  } else if (text) {
    text[0] = '\0';
  }
  return *this;
}

brol_string& brol_string::assign_char(char ch) noexcept {
  if (reserve_discard(1)) {
    text[0] = ch;
    text[1] = '\0';
  }
  return *this;
}

bool brol_string::assign_sub(const char* s, std::int64_t offset, std::int64_t n) noexcept {
  if (offset < 0 || n < 0 || n >= k_max) return false;
  std::int64_t k = 0;
  if (s && bounded_length(s, offset) == offset) {
    s += offset;
    k = bounded_length(s, n);
  }
  if (!assign_range(k > 0 ? s : k_empty, k, n)) return false;
  std::memset(text + k, 0, static_cast<std::size_t>(n - k + 1));
  return true;
}

// --- Appending ----------------------------------------------------------------------------------

bool brol_string::append_range(const char* s, std::int64_t k) noexcept { return insert_range(length(), s, k); }

brol_string& brol_string::append(const char* s) noexcept {
  if (s && *s) append_range(s, text_length(s));
  return *this;
}

brol_string& brol_string::append_string(const brol_string& other) noexcept { return append(other.text); }

brol_string& brol_string::append_char(char ch) noexcept {
  if (ch == '\0') return *this;
  const std::int64_t k = length() + 1;
  if (reserve(k)) {
    text[k - 1] = ch;
    text[k] = '\0';
  }
  return *this;
}

bool brol_string::append_bytes(const char* s, std::int64_t n) noexcept {
  if (!s || !*s || n <= 0) return true;
  return append_range(s, bounded_length(s, n));
}

// --- Inserting and erasing ----------------------------------------------------------------------

bool brol_string::insert_range(std::int64_t pos, const char* s, std::int64_t k) noexcept {
  const std::int64_t len = length();
  if (k > k_max - 2 - len) {
    error = 1;
    return false;
  }
  const bool own = owns(s);
  const std::int64_t at = own ? s - text : 0;
  if (!reserve(len + k)) return false;
  std::memmove(text + pos + k, text + pos, static_cast<std::size_t>(len - pos + 1));
  if (!own) {
    std::memcpy(text + pos, s, static_cast<std::size_t>(k));
    return true;
  }
  // The piece came from the own text, which just moved up by k from pos on: its part before pos
  // stayed where it was, the rest now stands k bytes further up.
  const std::int64_t before = at < pos ? (at + k < pos ? k : pos - at) : 0;
  std::memmove(text + pos, text + at, static_cast<std::size_t>(before));
  std::memmove(text + pos + before, text + (at + before) + k, static_cast<std::size_t>(k - before));
  return true;
}

bool brol_string::insert(std::int64_t pos, const char* s) noexcept {
  if (!s || !*s || pos < 0 || pos > length()) return false;
  return insert_range(pos, s, text_length(s));
}

bool brol_string::insert_bytes(std::int64_t pos, const char* s, std::int64_t n) noexcept {
  if (!s || !*s || pos < 0 || n <= 0) return false;
  const std::int64_t len = length();
  return insert_range(pos > len ? len : pos, s, bounded_length(s, n));
}

bool brol_string::erase(std::int64_t pos, std::int64_t n) noexcept {
  const std::int64_t len = length();
  if (pos < 0 || pos >= len) return false;
  if (n < 0 || n >= len - pos) {
    text[pos] = '\0';
  } else {
    std::memmove(text + pos, text + pos + n, static_cast<std::size_t>(len - pos - n + 1));
  }
  return true;
}

bool brol_string::trim() noexcept {
  if (is_empty()) return false;
  std::int64_t lead = 0;
  while (is_blank(text[lead])) ++lead;
  if (lead > 0) erase(0, lead);
  std::int64_t end = length();
  while (end > 0 && is_blank(text[end - 1])) --end;
  text[end] = '\0';
  return true;
}

// --- Comparison ---------------------------------------------------------------------------------

bool brol_string::equals(const brol_string& other) const noexcept { return equals(other.text); }

bool brol_string::equals(const char* s) const noexcept {
  if (text && s) return std::strcmp(text, s) == 0;
  return is_empty() && (!s || !*s);
}

// A missing text and a null s both stand for "", so that a limit of n <= 0 matches in every form.
bool brol_string::equals_n(const char* s, std::int64_t n) const noexcept {
  return n <= 0 || std::strncmp(text ? text : "", s ? s : "", static_cast<std::size_t>(n)) == 0;
}

bool brol_string::equals_nocase(const char* s) const noexcept { return equals_n_nocase(s, k_max); }

bool brol_string::equals_n_nocase(const char* s, std::int64_t n) const noexcept {
  return compare_nocase(text ? text : "", s ? s : "", n) == 0;
}

std::int64_t brol_string::count_char(char ch) const noexcept {
  if (!text || ch == '\0') return 0;
  std::int64_t count = 0;
  for (const char* p = text; *p; ++p) count += *p == ch;
  return count;
}

bool brol_string::field(const char* s, std::int16_t n, char delim) noexcept {
  if (!s || !*s) return false;
  const std::int64_t len = text_length(s);
  std::int64_t start = 0;
  if (n >= 0) {
    for (int left = n; left > 0; --left) {
      const void* d = std::memchr(s + start, delim, static_cast<std::size_t>(len - start));
      if (!d) return false;
      start = static_cast<const char*>(d) - s + 1;
    }
  } else {
    int left = -n;  // fields still to pass, counting the wanted one
    std::int64_t i = len - 1;
    for (; i >= 0 && left > 0; --i) {
      if (s[i] == delim && --left == 0) start = i + 1;
    }
    if (left > 1) return false;
    if (left == 1) start = 0;
  }
  const void* end = std::memchr(s + start, delim, static_cast<std::size_t>(len - start));
  const std::int64_t flen = end ? static_cast<const char*>(end) - (s + start) : len - start;
  return assign_range(s + start, flen, flen);
}
