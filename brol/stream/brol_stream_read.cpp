// Reading from a stream: bytes, lines, texts up to terminators, blocks and counted bytes.
#include <cerrno>
#include <cstring>

#include "brol/platform/brol_alloc.h"
#include "brol/stream/brol_stream.h"
#include "brol/stream/brol_stream_detail.h"

namespace brol::detail {

std::int32_t stream_read(brol_stream& s, void* data, std::int64_t size) noexcept {
  const auto n = static_cast<std::int32_t>(size < stream_io_max ? size : stream_io_max);
  if (s.is_socket != 0 && !stream_bound_call(s, s.socket)) {
    return -1;
  }
  brol_stream::arm(&s, static_cast<std::uint16_t>(brol_stream_op_read));
  const std::int32_t got =
      s.is_socket != 0 ? brol_os.socket_recv(s.socket, data, n) : brol_os.file_read(s.file, data, n);
  brol_stream::disarm();
  return stream_aborted(s) ? stream_read_aborted : got;
}

std::uint16_t stream_refill(brol_stream& s, std::int64_t want) noexcept {
  if (s.buffer == nullptr) {
    s.buffer = static_cast<unsigned char*>(brol_alloc(s.buffer_size));
    if (s.buffer == nullptr) {
      s.status = brol_stream_no_memory;
      return brol_stream_no_memory;
    }
  }
  const std::int32_t got = stream_read(s, s.buffer, want < s.buffer_size ? want : s.buffer_size);
  s.cursor = 0;
  s.fill = got > 0 ? got : 0;
  if (got == 0) {
    s.at_end = 1;
    return brol_stream_end_of_data;
  }
  if (got == stream_read_aborted) {
    return brol_stream_not_open;
  }
  if (got < 0) {
    s.error_number = errno;
    s.status = brol_stream_io_failed;
    return brol_stream_io_failed;
  }
  return 0;
}

bool stream_leave_write_mode(brol_stream& s) noexcept {
  if (s.write_buffered == 0) {
    return true;
  }
  s.write_buffered = 0;
  s.fill = 0;
  return stream_flush_pending(s);
}

std::uint16_t stream_ensure_data(brol_stream& s) noexcept {
  if (!s.is_open()) {
    return brol_stream_not_open;
  }
  if (s.at_end != 0) {
    return brol_stream_end_of_data;
  }
  if (!stream_leave_write_mode(s)) {
    return brol_stream_io_failed;
  }
  if (s.cursor < s.fill) {
    return 0;
  }
  if (s.buffer != nullptr && s.wanted_size != s.buffer_size) {
    brol_free(s.buffer);
    s.buffer = nullptr;
    s.buffer_size = s.wanted_size;
  }
  return stream_refill(s, s.buffer_size);
}

}  // namespace brol::detail

using brol::detail::stream_ensure_data;

std::uint16_t brol_stream::get_byte() noexcept {
  if (cursor >= fill || write_buffered != 0 || !is_open()) {
    if (const std::uint16_t code = stream_ensure_data(*this); code != 0) {
      return code;
    }
  }
  ++position;
  return buffer[cursor++];
}

namespace {

// What ends a line: LF, found with memchr.
struct line_end {
  static constexpr bool keep_cr = false;
  std::int64_t find(const unsigned char* from, std::int64_t n) const {
    const void* hit = std::memchr(from, '\n', static_cast<std::size_t>(n));
    return hit != nullptr ? static_cast<const unsigned char*>(hit) - from : n;
  }
};

// What ends a text of get_until: any byte of a terminator set.
struct terminator_end {
  bool table[256];
  bool keep_cr;

  explicit terminator_end(const char* terminators) : table{}, keep_cr(false) {
    for (const char* t = terminators; *t != '\0'; ++t) {
      table[static_cast<unsigned char>(*t)] = true;
    }
    keep_cr = table[static_cast<unsigned char>('\r')];
  }

  // Index of the first ending byte among the n at from, or n.
  std::int64_t find(const unsigned char* from, std::int64_t n) const {
    std::int64_t i = 0;
    while (i < n && !table[from[i]]) {
      ++i;
    }
    return i;
  }
};

// Copies n bytes, dropping every CR unless keep_cr; the number stored.
std::int64_t store_text(char* dest, const unsigned char* from, std::int64_t n, bool keep_cr) {
  if (keep_cr) {
    std::memcpy(dest, from, static_cast<std::size_t>(n));
    return n;
  }
  std::int64_t stored = 0;
  while (n > 0) {
    const void* cr = std::memchr(from, '\r', static_cast<std::size_t>(n));
    const std::int64_t piece = cr != nullptr ? static_cast<const unsigned char*>(cr) - from : n;
    std::memcpy(dest + stored, from, static_cast<std::size_t>(piece));
    stored += piece;
    const std::int64_t skip = piece + (cr != nullptr ? 1 : 0);
    from += skip;
    n -= skip;
  }
  return stored;
}

// get_line and get_until: consumes at most capacity - 2 bytes, scanning the buffer a block at a time
// rather than a byte at a time.
template <class End>
bool read_text(brol_stream& s, char* dest, std::int64_t capacity, const End& end) {
  if (s.at_end != 0) {
    return false;
  }
  if (capacity < 2) {
    return true;
  }
  std::int64_t budget = capacity - 2;
  std::int64_t stored = 0;
  while (budget > 0) {
    if (stream_ensure_data(s) != 0) {
      dest[stored] = '\0';
      s.at_end = 1;
      return stored > 0;
    }
    const unsigned char* from = s.buffer + s.cursor;
    const std::int64_t span = s.fill - s.cursor < budget ? s.fill - s.cursor : budget;
    const std::int64_t stop = end.find(from, span);
    stored += store_text(dest + stored, from, stop, end.keep_cr);
    const std::int64_t taken = stop < span ? stop + 1 : span;
    s.cursor += taken;
    s.position += taken;
    budget -= taken;
    if (stop < span) {
      break;
    }
  }
  dest[stored] = '\0';
  return true;
}

}  // namespace

bool brol_stream::get_line(char* dest, std::int64_t capacity) noexcept {
  return read_text(*this, dest, capacity, line_end{});
}

bool brol_stream::get_until(char* dest, std::int64_t capacity, const char* terminators) noexcept {
  return read_text(*this, dest, capacity, terminator_end(terminators != nullptr ? terminators : ""));
}

const unsigned char* brol_stream::get_block(std::int32_t* count) noexcept {
  if (count == nullptr) {
    return nullptr;
  }
  const std::int32_t asked = *count;
  std::uint16_t code = 0;
  if (asked <= 0 || !is_open()) {
    code = brol_stream_not_open;
  } else if (at_end != 0) {
    code = brol_stream_end_of_data;
  } else if (!brol::detail::stream_leave_write_mode(*this)) {
    code = brol_stream_io_failed;
  } else if (cursor >= fill) {
    // An empty buffer too small for the request is replaced, so that one read can deliver it.
    if (buffer_size < asked) {
      brol_free(buffer);
      buffer = nullptr;
      buffer_size = wanted_size = asked;
    }
    code = brol::detail::stream_refill(*this, asked);
  }
  if (code != 0) {
    *count = code;
    return nullptr;
  }
  const std::int64_t available = fill - cursor;
  const std::int64_t taken = asked < available ? asked : available;
  const unsigned char* result = buffer + cursor;
  cursor += taken;
  position += taken;
  *count = static_cast<std::int32_t>(taken);
  return result;
}

bool brol_stream::get_bytes(void* dest, std::int64_t count) noexcept {
  if (at_end != 0) {
    return false;
  }
  if (dest == nullptr) {
    const std::int64_t before = position;
    seek(count, brol_seek_current);
    return position == before + count;
  }
  auto* to = static_cast<unsigned char*>(dest);
  while (count > 0) {
    if (stream_ensure_data(*this) != 0) {
      return false;
    }
    const std::int64_t available = fill - cursor;
    const std::int64_t taken = count < available ? count : available;
    std::memcpy(to, buffer + cursor, static_cast<std::size_t>(taken));
    to += taken;
    cursor += taken;
    position += taken;
    count -= taken;
  }
  return true;
}
