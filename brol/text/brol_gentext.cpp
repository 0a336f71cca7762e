// Address text, date texts, fill pattern, number packing and printf into a growable heap buffer.
#include "brol/text/brol_gentext.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "brol/platform/brol_alloc.h"

namespace {

// --- Address text -------------------------------------------------------------------------------

struct zero_run {
  int start;   // first group of the run, -1 for none
  int length;  // number of zero groups
};

// The leftmost of the longest runs of zero groups; runs of one group do not count.
zero_run longest_zero_run(const unsigned (&groups)[8]) {
  zero_run best{-1, 1};
  for (int i = 0; i < 8;) {
    int j = i;
    while (j < 8 && groups[j] == 0) {
      ++j;
    }
    if (j - i > best.length) {
      best = {i, j - i};
    }
    i = j == i ? i + 1 : j;
  }
  return best;
}

// Writes groups [from, to) joined by ':' at out; returns the end of what was written.
char* write_groups(char* out, const unsigned (&groups)[8], int from, int to) {
  for (int i = from; i < to; ++i) {
    if (i > from) {
      *out++ = ':';
    }
    out += std::snprintf(out, 5, "%x", groups[i]);
  }
  return out;
}

void write_ipv6(char* buffer, const unsigned char* bytes) {
  unsigned groups[8];
  for (int i = 0; i < 8; ++i) {
    groups[i] = static_cast<unsigned>(bytes[2 * i] << 8 | bytes[2 * i + 1]);
  }
  const zero_run run = longest_zero_run(groups);
  char* out = buffer;
  if (run.start < 0) {
    out = write_groups(out, groups, 0, 8);
  } else {
    out = write_groups(out, groups, 0, run.start);
    *out++ = ':';
    *out++ = ':';
    out = write_groups(out, groups, run.start + run.length, 8);
  }
  *out = '\0';
}

// --- Date texts -----------------------------------------------------------------------------------

const char* const k_day_names[7] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
const char* const k_month_names[12] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                       "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

// Days from 1970-01-01 to a date of the proleptic Gregorian calendar (month 1 to 12).
std::int64_t days_from_civil(std::int64_t year, std::int64_t month, std::int64_t day) {
  year -= month <= 2 ? 1 : 0;
  const std::int64_t era = (year >= 0 ? year : year - 399) / 400;
  const std::int64_t year_of_era = year - era * 400;
  const std::int64_t day_of_year = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
  const std::int64_t day_of_era = year_of_era * 365 + year_of_era / 4 - year_of_era / 100 + day_of_year;
  return era * 146097 + day_of_era - 719468;
}

// A broken-down time read as if it were UTC, in seconds since 1970.
std::int64_t tm_seconds(const std::tm& t) {
  const std::int64_t days = days_from_civil(std::int64_t{t.tm_year} + 1900, t.tm_mon + 1, t.tm_mday);
  return days * 86400 + t.tm_hour * 3600 + t.tm_min * 60 + t.tm_sec;
}

// The local time's offset from UTC in minutes: the difference of the two broken-down forms of the
// same moment, which works wherever the runtime offers no offset field.
bool utc_offset_minutes(std::int64_t now, const std::tm& local, std::int64_t* minutes) {
  std::tm utc{};
  if (!brol_platform_gmtime(now, &utc)) {
    return false;
  }
  *minutes = (tm_seconds(local) - tm_seconds(utc)) / 60;
  return true;
}

int format_zoned_date(char* out, std::size_t room, const std::tm& t, std::int64_t offset) {
  const char sign = offset < 0 ? '-' : '+';
  const long long magnitude = offset < 0 ? -offset : offset;
  return std::snprintf(out, room, "%s, %02d %s %04lld %02d:%02d:%02d %c%02lld%02lld", k_day_names[t.tm_wday], t.tm_mday,
                       k_month_names[t.tm_mon], t.tm_year + 1900LL, t.tm_hour, t.tm_min, t.tm_sec, sign, magnitude / 60,
                       magnitude % 60);
}

// Writes form kind (1, 3, 4 or 5) of t; the result of snprintf.
int format_plain_date(char* out, std::size_t room, int kind, const std::tm& t) {
  const long long year = t.tm_year + 1900LL;
  const int month = t.tm_mon + 1;
  switch (kind) {
    case 1:
      return std::snprintf(out, room, "%04lld-%02d-%02d %02d:%02d:%02d", year, month, t.tm_mday, t.tm_hour, t.tm_min,
                           t.tm_sec);
    case 3:
      return std::snprintf(out, room, "%04lld-%02d-%02d-%02d%02d%02d", year, month, t.tm_mday, t.tm_hour, t.tm_min,
                           t.tm_sec);
    case 4:
      return std::snprintf(out, room, "%04lld-%02d-%02d", year, month, t.tm_mday);
    default:
      return std::snprintf(out, room, "-%04lld-%02d-%02d-%02d%02d%02d.log", year, month, t.tm_mday, t.tm_hour, t.tm_min,
                           t.tm_sec);
  }
}

// Writes form kind of the current local time into out; the text's length or -1.
int format_now(char* out, std::size_t room, int kind) {
  const std::int64_t now = brol_os.time_now();
  std::tm local{};
  if (!brol_platform_localtime(now, &local)) {
    return -1;
  }
  if (kind != 2) {
    return format_plain_date(out, room, kind, local);
  }
  std::int64_t offset = 0;
  if (!utc_offset_minutes(now, local, &offset)) {
    return -1;
  }
  return format_zoned_date(out, room, local, offset);
}

// --- printf into a heap buffer --------------------------------------------------------------------

// vsnprintf reports lengths up to INT_MAX, so no text it can format needs more room than this.
constexpr std::int64_t k_largest_room = std::int64_t{INT_MAX} + 1;
constexpr std::int64_t k_first_guess = 256;

void release_block(char** buffer, std::int64_t* size) {
  brol_free(*buffer);
  *buffer = nullptr;
  *size = 0;
}

// Frees the block and allocates new_size bytes; on failure the pair becomes (null, 0).
bool replace_block(char** buffer, std::int64_t* size, std::int64_t new_size) {
  brol_free(*buffer);
  *buffer = static_cast<char*>(brol_alloc(new_size));
  *size = *buffer == nullptr ? 0 : new_size;
  return *buffer != nullptr;
}

int copy_plain(char** buffer, std::int64_t* size, const char* text) {
  const std::int64_t need = static_cast<std::int64_t>(std::strlen(text)) + 1;
  if ((*buffer == nullptr || *size < need) && !replace_block(buffer, size, need)) {
    return 0;
  }
  std::memcpy(*buffer, text, static_cast<std::size_t>(need));
  return 1;
}

// One attempt on a fresh copy of the arguments, since vsnprintf consumes the list it is given.
int format_once(char* buffer, std::int64_t size, const char* format, std::va_list arguments) {
  std::va_list copy;
  va_copy(copy, arguments);
  errno = 0;
  const int n = std::vsnprintf(buffer, static_cast<std::size_t>(size), format, copy);
  va_end(copy);
  return n;
}

int format_growing(char** buffer, std::int64_t* size, const char* format, std::va_list arguments) {
  bool need_block = *buffer == nullptr;
  for (;;) {
    if (need_block && !replace_block(buffer, size, *size)) {
      return 0;
    }
    const int n = format_once(*buffer, *size, format, arguments);
    if (n >= 0 && n < *size) {
      return 1;
    }
    // A negative result is an encoding error (no room helps) or a length beyond what vsnprintf can
    // report; some runtimes also give it for a short buffer, hence the doubling up to the limit.
    if (n < 0 && (errno == EILSEQ || *size >= k_largest_room)) {
      release_block(buffer, size);
      return 0;
    }
    *size = n >= 0 ? std::int64_t{n} + 1 : (*size * 2 > k_first_guess ? *size * 2 : k_first_guess);
    need_block = true;
  }
}

}  // namespace

int brol_addr_text(char* buffer, const sockaddr* address) noexcept {
  if (buffer == nullptr || address == nullptr) {
    return 0;
  }
  if (address->sa_family == AF_INET) {
    sockaddr_in in{};
    std::memcpy(&in, address, sizeof in);
    const auto* b = reinterpret_cast<const unsigned char*>(&in.sin_addr);
    std::snprintf(buffer, 16, "%d.%d.%d.%d", b[0], b[1], b[2], b[3]);
    return 4;
  }
  if (address->sa_family == AF_INET6) {
    sockaddr_in6 in6{};
    std::memcpy(&in6, address, sizeof in6);
    write_ipv6(buffer, reinterpret_cast<const unsigned char*>(&in6.sin6_addr));
    return 6;
  }
  return 0;
}

std::int64_t brol_date_text(char* buffer, std::int64_t size, int kind) noexcept {
  if (buffer == nullptr || size <= 0 || kind < 1 || kind > 5) {
    return -1;
  }
  char text[96];
  const int n = format_now(text, sizeof text, kind);
  if (n < 0 || n >= size || n >= static_cast<int>(sizeof text)) {
    buffer[0] = '\0';
    return -1;
  }
  std::memcpy(buffer, text, static_cast<std::size_t>(n) + 1);
  return n;
}

void brol_fill_pattern(char* destination, std::uint64_t n, const char* pattern) noexcept {
  if (destination == nullptr || pattern == nullptr || *pattern == '\0' || n == 0) {
    return;
  }
  const std::uint64_t length = std::strlen(pattern);
  std::uint64_t done = length < n ? length : n;
  std::memcpy(destination, pattern, static_cast<std::size_t>(done));
  // What is written so far is whole repetitions, so copying it onward continues the pattern.
  while (done < n) {
    const std::uint64_t chunk = done < n - done ? done : n - done;
    std::memcpy(destination + done, destination, static_cast<std::size_t>(chunk));
    done += chunk;
  }
}

void brol_encode_number_array(char* buffer, std::int16_t count, const std::int64_t* values) noexcept {
  if (buffer == nullptr) {
    return;
  }
  char* out = buffer;
  for (std::int16_t k = 0; k < count && values != nullptr; ++k) {
    for (int i = 0; i < 11; ++i) {
      *out++ = static_cast<char>(32 + ((values[k] >> (6 * i)) & 63));
    }
  }
  *out = '\0';
}

int brol_printf_alloc(char** buffer, std::int64_t* size, const char* format, ...) noexcept {
  std::va_list arguments;
  va_start(arguments, format);
  const int result = brol_vprintf_alloc(buffer, size, format, arguments);
  va_end(arguments);
  return result;
}

int brol_vprintf_alloc(char** buffer, std::int64_t* size, const char* format, std::va_list arguments) noexcept {
  if (buffer == nullptr || size == nullptr) {
    return 0;
  }
  if (*size < 0) {
    *size = 0;
  }
  if (format == nullptr || std::strchr(format, '%') == nullptr) {
    return copy_plain(buffer, size, format == nullptr ? "" : format);
  }
  return format_growing(buffer, size, format, arguments);
}
