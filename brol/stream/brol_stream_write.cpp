// Writing to a stream: bytes (buffered or not), texts, characters and printf-style texts.
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "brol/platform/brol_alloc.h"
#include "brol/stream/brol_stream.h"
#include "brol/stream/brol_stream_detail.h"

namespace brol::detail {

stream_io stream_write_all(brol_stream& s, const void* data, std::int64_t n, std::int64_t* done) noexcept {
  const auto* from = static_cast<const unsigned char*>(data);
  while (n > 0) {
    const auto chunk = static_cast<std::int32_t>(n < stream_io_max ? n : stream_io_max);
    if (s.is_socket != 0 && !stream_bound_call(s, s.socket)) {
      return stream_io::failed;
    }
    brol_stream::arm(&s, static_cast<std::uint16_t>(brol_stream_op_write));
    const std::int32_t put =
        s.is_socket != 0 ? brol_os.socket_send(s.socket, from, chunk) : brol_os.file_write(s.file, from, chunk);
    brol_stream::disarm();
    if (stream_aborted(s)) {
      return stream_io::aborted;
    }
    if (put <= 0) {
      // A call that writes nothing would be repeated for ever.
      if (put == 0) {
        errno = EIO;
      }
      return stream_io::failed;
    }
    s.written += static_cast<std::uint64_t>(put);
    if (done != nullptr) {
      *done += put;
    }
    from += put;
    n -= put;
  }
  return stream_io::ok;
}

bool stream_write_failed(brol_stream& s, stream_io result) noexcept {
  if (result == stream_io::aborted) {
    return false;
  }
  const int number = errno;
  s.error_number = number;
  if (number == EBADF) {
    brol::detail::stream_close(s, false);
  }
  s.status = brol_stream_io_failed;
  return false;
}

bool stream_flush_pending(brol_stream& s) noexcept {
  const std::int64_t pending = s.cursor;
  s.cursor = 0;
  const stream_io result = stream_write_all(s, s.buffer, pending);
  return result == stream_io::ok || stream_write_failed(s, result);
}

}  // namespace brol::detail

using brol::detail::stream_io;
using brol::detail::stream_write_all;
using brol::detail::stream_write_failed;

bool brol_stream::write_bytes(const void* data, std::int64_t count) noexcept {
  if (!is_open()) {
    return brol::detail::stream_refused(*this);
  }
  if (count < 0 || (count > 0 && data == nullptr)) {
    return false;
  }
  const auto* from = static_cast<const unsigned char*>(data);
  if (write_buffered != 0) {
    const std::int64_t space = buffer_size - cursor;
    if (count <= space) {
      std::memcpy(buffer + cursor, from, static_cast<std::size_t>(count));
      cursor += count;
      return true;
    }
    std::memcpy(buffer + cursor, from, static_cast<std::size_t>(space));
    cursor = buffer_size;
    if (!brol::detail::stream_flush_pending(*this)) {
      return false;
    }
    from += space;
    count -= space;
    // A remainder that exactly fills the buffer stays pending like any other that fits.
    if (count <= buffer_size) {
      std::memcpy(buffer, from, static_cast<std::size_t>(count));
      cursor = count;
      return true;
    }
  }
  const stream_io result = stream_write_all(*this, from, count);
  return result == stream_io::ok || stream_write_failed(*this, result);
}

bool brol_stream::write_text(const char* text) noexcept {
  return write_bytes(text, text != nullptr ? static_cast<std::int64_t>(std::strlen(text)) : 0);
}

bool brol_stream::write_char(char c) noexcept { return write_bytes(&c, 1); }

bool brol_stream::write_printf(const char* format, ...) noexcept {
  std::va_list arguments;
  va_start(arguments, format);
  const bool result = write_vprintf(format, arguments);
  va_end(arguments);
  return result;
}

namespace {

// An upper bound for the heap area where the runtime gives no length: one that answers a too-small
// area with -1 gets it doubled up to here, so that a text that can never be formatted ends the
// retries. A length the runtime reports is always given room, however large.
constexpr std::int64_t printf_area_limit = std::int64_t{1} << 24;

// The text's length, or a negative number with errno set by the runtime (cleared before the call, so
// that an errno left by earlier work is never taken for its answer).
int format_into(char* area, std::int64_t size, const char* format, std::va_list arguments) {
  std::va_list copy;
  va_copy(copy, arguments);
  errno = 0;
  const int n = std::vsnprintf(area, static_cast<std::size_t>(size), format, copy);
  va_end(copy);
  return n;
}

}  // namespace

bool brol_stream::write_vprintf(const char* format, std::va_list arguments) noexcept {
  if (!is_open()) {
    return brol::detail::stream_refused(*this);
  }
  if (format == nullptr) {
    format = "";
  }
  char area[512];
  int n = format_into(area, sizeof area, format, arguments);
  if (n >= 0 && n < static_cast<int>(sizeof area)) {
    return write_bytes(area, n);
  }
  // A text longer than an int can count: a larger area cannot help, and retrying would format the
  // whole text again for each one.
  if (n < 0 && errno == EOVERFLOW) {
    error_number = EOVERFLOW;
    status = brol_stream_io_failed;
    return false;
  }
  std::int64_t size = n < 0 ? 1024 : std::int64_t{n} + 1;
  while (n >= 0 || size <= printf_area_limit) {
    char* heap = static_cast<char*>(brol_alloc(size));
    if (heap == nullptr) {
      status = brol_stream_no_memory;
      return false;
    }
    n = format_into(heap, size, format, arguments);
    if (n >= 0 && n < size) {
      const bool result = write_bytes(heap, n);
      brol_free(heap);
      return result;
    }
    brol_free(heap);
    // A result that does not grow means the runtime cannot format the text at all.
    const std::int64_t next = n < 0 ? size * 2 : std::int64_t{n} + 1;
    if (next <= size) {
      break;
    }
    size = next;
  }
  error_number = EINVAL;
  status = brol_stream_io_failed;
  return false;
}
