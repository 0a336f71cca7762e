// The logger: one entry per message, dispatched to the hook and appended to the file as one line.
#include "brol/log/brol_log.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "brol/platform/brol_platform.h"
#include "brol/text/brol_gentext.h"

const char* brol_log_file = nullptr;
brol_log_hook_function brol_log_hook = nullptr;
const char* brol_log_ident = "";
std::uint8_t brol_log_file_level = 5;
std::uint8_t brol_log_hook_level = 5;

namespace {

// The short pieces of a line (date, process id, source, line number) are formatted into 40 bytes and
// so cut at 39 characters.
constexpr std::size_t k_piece_size = 40;
// The unbounded pieces are cut so that the longest line (about 4000 bytes) fits in the area below:
// the logger must work without the heap, as it reports running out of memory too.
constexpr std::size_t k_long_piece = 900;
constexpr std::size_t k_line_size = 4096;

struct line_area {
  char text[k_line_size];
  std::size_t length;

  void put(const char* piece, std::size_t most) noexcept {
    std::size_t n = 0;
    while (n < most && piece[n] != '\0' && length + n < k_line_size) {
      ++n;
    }
    std::memcpy(text + length, piece, n);
    length += n;
  }

  // A piece formatted into 40 bytes; one whose formatting yields nothing is left out.
  void put_formatted(const char* format, ...) noexcept __attribute__((format(gnu_printf, 2, 3))) {
    char piece[k_piece_size];
    std::va_list arguments;
    va_start(arguments, format);
    const int n = std::vsnprintf(piece, sizeof piece, format, arguments);
    va_end(arguments);
    if (n > 0) {
      put(piece, k_piece_size - 1);
    }
  }
};

const char* label_of(std::uint8_t level) noexcept {
  if (level == 0) {
    return " DEBUG: ";
  }
  if (level <= 3) {
    return " FATAL: ";
  }
  return level == 4 ? " WARN: " : ": ";
}

// A system that takes only part of the line (a full disk) gets the rest in further appends, so the
// line keeps its end and the next line does not run on from it. A call that takes nothing ends it.
void append_all(brol_file_handle file, const char* text, std::int32_t length) noexcept {
  while (length > 0) {
    const std::int32_t put = brol_os.file_append(file, text, length);
    if (put <= 0) {
      return;
    }
    text += put;
    length -= put;
  }
}

void append_line(const char* path, const brol_log_entry& entry) noexcept {
  line_area area;
  area.length = 0;
  char date[k_piece_size];
  if (brol_date_text(date, sizeof date, 1) > 0) {
    area.put(date, k_piece_size - 1);
  }
  area.put_formatted(" (%lu) ", static_cast<unsigned long>(brol_os.process_id()));
  const char* ident = brol_log_ident;
  area.put(ident != nullptr ? ident : "", k_long_piece);
  area.put(label_of(entry.level), k_piece_size - 1);
  if (entry.level <= 3) {
    area.put_formatted("[%s ", entry.source);
    area.put(entry.function, k_long_piece);
    area.put_formatted("() line %lld] ", static_cast<long long>(entry.line));
  }
  area.put(entry.message, brol_log_message_size - 1);
  area.put("\n", 1);
  // One append of the whole line: nothing another writer appends can land inside it.
  const brol_file_handle file = brol_os.file_open_append(path);
  if (file == brol_invalid_file) {
    return;
  }
  append_all(file, area.text, static_cast<std::int32_t>(area.length));
  brol_os.file_close(file);
}

void make_message(brol_log_entry& entry, bool error_message, int saved_errno, const char* format,
                  std::va_list arguments) noexcept {
  if (error_message) {
    const char* text = brol_platform_error_text(entry.error_number);
    if (text != nullptr) {
      std::snprintf(entry.message, sizeof entry.message, "error %ld: '%s'", static_cast<long>(entry.error_number),
                    text);
    } else {
      std::snprintf(entry.message, sizeof entry.message,
                    "unknown error %ld (strerror_r (%d) did not find an error message for this error code, look "
                    "at /usr/include/asm/errno.h)",
                    static_cast<long>(entry.error_number), saved_errno);
    }
    return;
  }
  if (std::vsnprintf(entry.message, sizeof entry.message, format != nullptr ? format : "unknown error", arguments) <
      0) {
    entry.message[0] = '\0';  // an encoding error leaves the area undefined
  }
}

}  // namespace

void brol_log(std::uint8_t level, const char* function, const char* source, std::int32_t line,
              std::int32_t error_number, const char* format, ...) noexcept {
  const int saved_errno = errno;
  const bool error_message = format == nullptr && level == 1 && error_number != 0;
  if (error_message) {
    level = 3;
  }
  // Each setting is read once, so a change from elsewhere applies to a whole message or not at all.
  const brol_log_hook_function hook = brol_log_hook;
  const char* path = brol_log_file;
  const bool to_hook = hook != nullptr && level <= brol_log_hook_level;
  const bool to_file = path != nullptr && level <= brol_log_file_level;
  if (!to_hook && !to_file) {
    return;
  }
  brol_log_entry entry;
  entry.level = level;
  entry.error_number = error_number;
  entry.function = function != nullptr ? function : "";
  entry.source = source != nullptr ? source : "";
  entry.line = line;
  std::va_list arguments;
  va_start(arguments, format);
  make_message(entry, error_message, saved_errno, format, arguments);
  va_end(arguments);
  if (!(to_hook && hook(&entry) != 0) && to_file) {
    append_line(path, entry);
  }
  errno = saved_errno;
}

void brol_log_level(std::int64_t level, std::uint8_t target) noexcept {
  std::uint8_t threshold = 6;
  if (level <= 0) {
    threshold = 0;
  } else if (level <= 2) {
    threshold = 3;
  } else if (level <= 6) {
    threshold = static_cast<std::uint8_t>(level);
  }
  if (target == 0 || target == 1) {
    brol_log_file_level = threshold;
  }
  if (target == 0 || target == 2) {
    brol_log_hook_level = threshold;
  }
}
