// brol_string: texts read from a stream (up to terminators, lines, counted bytes) and the date.
#include <cstring>

#include "brol/stream/brol_stream.h"
#include "brol/stream/brol_stream_detail.h"
#include "brol/string/brol_string.h"
#include "brol/text/brol_gentext.h"

namespace {

// Room that every date form fits in, with its NUL.
constexpr std::int64_t k_date_room = 40;

// Where a text read from a stream stops: the first terminator or NUL in a run of buffered bytes.
// A single terminator (a line end) is found with memchr; only a set of several needs a table.
class text_end {
 public:
  explicit text_end(const char* terminators) {
    const char* t = terminators ? terminators : "";
    single_ = static_cast<unsigned char>(t[0]);
    for (const char* p = t; *p; ++p) several_ = several_ || *p != t[0];
    if (several_) {
      std::memset(table_, 0, sizeof table_);
      for (const char* p = t; *p; ++p) table_[static_cast<unsigned char>(*p)] = true;
      table_[0] = true;
    }
  }

  // Index of the first stopping byte among the n at from, or n.
  std::int64_t find(const unsigned char* from, std::int64_t n) const {
    if (several_) {
      std::int64_t i = 0;
      while (i < n && !table_[from[i]]) ++i;
      return i;
    }
    const std::int64_t stop = single_ != 0 ? find_byte(from, n, single_) : n;
    return find_byte(from, stop, 0);
  }

 private:
  static std::int64_t find_byte(const unsigned char* from, std::int64_t n, unsigned char c) {
    const void* hit = std::memchr(from, c, static_cast<std::size_t>(n));
    return hit ? static_cast<const unsigned char*>(hit) - from : n;
  }

  unsigned char single_ = 0;
  bool several_ = false;
  bool table_[256];  // filled only for a set of several, which is the rarer case
};

// Room for n characters. Growth by half the capacity more keeps a text that spans many refills
// linear; when only the exact room can be had, that failed first try is not an error of the string.
bool grow_for_run(brol_string& s, std::int64_t n) {
  const std::int16_t error = s.error;
  if (s.reserve(n + s.capacity / 2)) return true;
  s.error = error;
  return s.reserve(n);
}

}  // namespace

// The byte-at-a-time rule, applied to runs: each run of buffered bytes before the first stopping
// byte is appended at once, and the stream's cursor moves past what was taken.
std::int64_t brol_string::read_until(brol_stream& stream, const char* terminators) noexcept {
  const text_end end(terminators);
  std::int64_t len = length();
  std::int64_t appended = 0;
  while (brol::detail::stream_ensure_data(stream) == 0) {
    const unsigned char* from = stream.buffer + stream.cursor;
    const std::int64_t available = stream.fill - stream.cursor;
    const std::int64_t run = end.find(from, available);
    if (run > 0) {
      if (len + run + 1 >= capacity && !grow_for_run(*this, len + run)) return 0;
      std::memcpy(text + len, from, static_cast<std::size_t>(run));
      len += run;
      appended += run;
      text[len] = '\0';
    }
    const std::int64_t taken = run < available ? run + 1 : run;
    stream.cursor += taken;
    stream.position += taken;
    if (run < available) return from[run] != 0 ? 1 : appended;
  }
  return appended;
}

std::int64_t brol_string::read_line(brol_stream& stream) noexcept { return read_until(stream, "\n"); }

bool brol_string::read_bytes(brol_stream& stream, std::int64_t n) noexcept {
  if (n < 0 || !reserve_discard(n)) return false;
  std::memset(text, 0, static_cast<std::size_t>(n) + 1);
  return stream.get_bytes(text, n);
}

bool brol_string::append_date(int kind) noexcept {
  const std::int64_t len = length();
  if (!reserve(len + k_date_room)) return false;
  return brol_date_text(text + len, k_date_room, kind) > 0;
}
