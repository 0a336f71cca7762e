// Copying between two streams: everything, a count of bytes, or up to a delimiter.
#include <cerrno>
#include <cstring>

#include "brol/platform/brol_alloc.h"
#include "brol/platform/brol_platform.h"
#include "brol/stream/brol_stream.h"
#include "brol/stream/brol_stream_detail.h"

using brol::detail::stream_io;

namespace {

constexpr std::int64_t area_size = 16384;
constexpr std::int64_t fallback_area_size = 1024;

// The area a copy moves bytes through, and the buffered-write flags it suspended to get it.
struct transfer {
  unsigned char* area = nullptr;
  std::int64_t size = 0;
  bool owned = false;
  bool overwritten = false;  // bytes have been read into the area
  std::uint64_t dest_write_buffered = 0;
  std::uint64_t source_write_buffered = 0;
};

// Records a failed write to d in r, the stream the copy was called on: 514 with the reason, unless
// the watch aborted r itself (520 stays). A stream aborted under the copy reads as interrupted.
bool copy_failed(brol_stream& r, const brol_stream& d, stream_io result) {
  if (result == stream_io::aborted && &r == &d) {
    return false;
  }
  r.error_number = result == stream_io::aborted ? EINTR : errno;
  r.status = brol_stream_io_failed;
  return false;
}

// Writes n bytes of the source's buffer to d; the source's cursor and position advance by what went
// out.
stream_io pass_buffered(brol_stream& s, brol_stream& d, std::int64_t n) {
  std::int64_t done = 0;
  const stream_io result = brol::detail::stream_write_all(d, s.buffer + s.cursor, n, &done);
  s.cursor += done;
  s.position += done;
  return result;
}

// Suspends buffered writing of s (its pending bytes go out to s); the flag to restore later.
std::uint64_t suspend_write_buffer(brol_stream& s, stream_io* result) {
  const std::uint64_t was = s.write_buffered;
  if (was != 0) {
    s.write_buffered = 0;
    const std::int64_t pending = s.cursor;
    s.cursor = 0;
    *result = brol::detail::stream_write_all(s, s.buffer, pending);
  }
  return was;
}

void finish(transfer& t, brol_stream& d, brol_stream& s) {
  if (t.owned) {
    brol_free(t.area);
  }
  // A buffer that served as the area holds no data for its stream any more.
  if (d.buffer != nullptr) {
    d.write_buffered = t.dest_write_buffered;
    if (t.overwritten && t.area == d.buffer) {
      d.cursor = d.fill = 0;
    }
  }
  if (s.buffer != nullptr) {
    s.write_buffered = t.source_write_buffered;
    if (t.overwritten && t.area == s.buffer) {
      s.cursor = s.fill = 0;
    }
  }
}

enum class prepared { go, done, failed };

// Chooses the area and settles what the streams hold; *count (null: no limit) drops by the source's
// unread bytes passed on. done: the source's buffer held the whole count (status untouched); failed:
// d's status says why.
prepared prepare(transfer& t, brol_stream& d, brol_stream& s, std::int64_t* count) {
  stream_io result = stream_io::ok;
  if (d.buffer != nullptr) {
    // Input the destination has read ahead and not handed out stays in its buffer for later reads;
    // only a buffer without it (pending output is written out below) can serve as the area.
    if (d.write_buffered != 0 || d.cursor >= d.fill) {
      t.area = d.buffer;
      t.size = d.buffer_size;
    }
    t.dest_write_buffered = suspend_write_buffer(d, &result);
    if (result != stream_io::ok) {
      copy_failed(d, d, result);
      return prepared::failed;
    }
  }
  if (s.buffer != nullptr) {
    if (t.area == nullptr) {
      t.area = s.buffer;
      t.size = s.buffer_size;
    }
    t.source_write_buffered = suspend_write_buffer(s, &result);
    if (result != stream_io::ok) {
      copy_failed(d, s, result);
      return prepared::failed;
    }
    if (t.source_write_buffered == 0 && s.cursor < s.fill) {
      const std::int64_t unread = s.fill - s.cursor;
      const std::int64_t n = count != nullptr && *count < unread ? *count : unread;
      result = pass_buffered(s, d, n);
      if (result != stream_io::ok) {
        copy_failed(d, d, result);
        return prepared::failed;
      }
      if (count != nullptr && (*count -= n) == 0) {
        return prepared::done;
      }
      s.cursor = s.fill = 0;
    }
  }
  if (t.area == nullptr) {
    t.area = static_cast<unsigned char*>(brol_alloc(area_size));
    t.size = area_size;
    if (t.area == nullptr) {
      t.area = static_cast<unsigned char*>(brol_alloc(fallback_area_size));
      t.size = fallback_area_size;
    }
    if (t.area == nullptr) {
      d.status = brol_stream_no_memory;
      return prepared::failed;
    }
    t.owned = true;
  }
  return prepared::go;
}

// The largest piece one copy inside the system moves: the calls cost nothing next to the bytes, and
// the watch sees one call end now and then.
constexpr std::int64_t kernel_chunk = 1 << 24;
// What kernel_step answers when the system cannot copy between the two handles.
constexpr std::int32_t kernel_refused = -3;

bool cannot_copy(int number) { return number == ENOSYS || number == EINVAL || number == EXDEV || number == EOPNOTSUPP; }

// Up to want bytes from the file s to d inside the system. Both handles may block; the call is watched
// as a write of d, the stream the bytes go to. The count, 0 at the end of s, -1 with errno set,
// stream_read_aborted when the watch aborted either stream, or kernel_refused.
std::int32_t kernel_step(brol_stream& d, brol_stream& s, std::int64_t want) {
  const auto n = static_cast<std::int32_t>(want < kernel_chunk ? want : kernel_chunk);
  brol_stream::arm(&d, static_cast<std::uint16_t>(brol_stream_op_write));
  const std::int32_t moved =
      d.is_socket != 0 ? brol_os.file_send(s.file, d.socket, n) : brol_os.file_copy(s.file, d.file, n);
  brol_stream::disarm();
  if (brol::detail::stream_aborted(d) || brol::detail::stream_aborted(s)) {
    return brol::detail::stream_read_aborted;
  }
  return moved < 0 && cannot_copy(errno) ? kernel_refused : moved;
}

// One pass of the buffered loop: a read from s into the area and its write to d. The count moved, 0
// at the end of s, or a negative result after recording the failure in d (*failed set).
std::int32_t buffered_step(transfer& t, brol_stream& d, brol_stream& s, std::int64_t want, bool* failed) {
  t.overwritten = true;
  const std::int32_t got = brol::detail::stream_read(s, t.area, want < t.size ? want : t.size);
  if (got < 0) {
    // A failed read is not the end of the data: the copy is incomplete.
    *failed = true;
    copy_failed(d, s, got == brol::detail::stream_read_aborted ? stream_io::aborted : stream_io::failed);
    return got;
  }
  if (got > 0) {
    const stream_io result = brol::detail::stream_write_all(d, t.area, got);
    if (result != stream_io::ok) {
      *failed = true;
      copy_failed(d, d, result);
      return -1;
    }
  }
  return got;
}

// The main loop of copy_all (count null) and copy_count. A file source is copied inside the system
// (to a file or a socket) while the system can; where it refuses the two handles, and from a socket,
// through the area. Every call that moves bytes counts as one read for read_limit.
bool pump(transfer& t, brol_stream& d, brol_stream& s, std::int64_t* count, std::int16_t read_limit) {
  bool in_system = s.is_socket == 0;
  for (std::int64_t reads = 0; count == nullptr || *count > 0; ++reads) {
    if (read_limit >= 0 && reads >= read_limit) {
      break;
    }
    const std::int64_t want = count != nullptr ? *count : kernel_chunk;
    bool failed = false;
    std::int32_t got = 0;
    if (in_system) {
      got = kernel_step(d, s, want);
      if (got == kernel_refused) {
        in_system = false;
        --reads;
        continue;
      }
      if (got < 0) {
        return copy_failed(d, brol::detail::stream_aborted(s) ? s : d,
                           got == brol::detail::stream_read_aborted ? stream_io::aborted : stream_io::failed);
      }
      d.written += static_cast<std::uint64_t>(got);
    } else {
      got = buffered_step(t, d, s, want, &failed);
      if (failed) {
        return false;
      }
    }
    if (got == 0) {
      break;
    }
    s.position += got;
    if (count != nullptr) {
      *count -= got;
    }
  }
  d.status = brol_stream_ok;
  return true;
}

bool copy(brol_stream& d, brol_stream& s, std::int64_t* count, std::int16_t read_limit) {
  if (!d.is_open() || !s.is_open()) {
    return brol::detail::stream_refused(d);
  }
  transfer t;
  const prepared state = prepare(t, d, s, count);
  const bool result = state == prepared::done || (state == prepared::go && pump(t, d, s, count, read_limit));
  finish(t, d, s);
  return result;
}

}  // namespace

bool brol_stream::copy_all(brol_stream& source) noexcept { return copy(*this, source, nullptr, -1); }

bool brol_stream::copy_count(brol_stream& source, std::int64_t count, std::int16_t read_limit) noexcept {
  std::int64_t left = count > 0 ? count : 0;
  return copy(*this, source, &left, read_limit);
}

bool brol_stream::copy_until(char delimiter, brol_stream& destination) noexcept {
  brol_stream& d = destination;
  if (!is_open() || !d.is_open()) {
    return brol::detail::stream_refused(*this);
  }
  if (at_end != 0) {
    status = brol_stream_end_of_data;
    return false;
  }
  if (d.write_buffered != 0 && d.cursor != 0) {
    const std::int64_t pending = d.cursor;
    d.cursor = 0;
    if (const stream_io result = brol::detail::stream_write_all(d, d.buffer, pending); result != stream_io::ok) {
      return copy_failed(*this, d, result);
    }
  }
  if (!brol::detail::stream_leave_write_mode(*this)) {
    return false;
  }
  if (buffer != nullptr && buffer_size != wanted_size && cursor >= fill) {
    brol_free(buffer);
    buffer = nullptr;
    buffer_size = wanted_size;
  }
  for (;;) {
    if (cursor >= fill) {
      const std::uint16_t code = brol::detail::stream_refill(*this, buffer_size);
      if (code == brol_stream_end_of_data) {
        status = brol_stream_ok;
        return true;  // the end of the data without a delimiter
      }
      if (code != 0) {
        return false;
      }
    }
    const unsigned char* from = buffer + cursor;
    const void* hit = std::memchr(from, static_cast<unsigned char>(delimiter), static_cast<std::size_t>(fill - cursor));
    const std::int64_t n = hit != nullptr ? static_cast<const unsigned char*>(hit) - from : fill - cursor;
    if (const stream_io result = pass_buffered(*this, d, n); result != stream_io::ok) {
      return copy_failed(*this, d, result);
    }
    if (hit != nullptr) {
      ++cursor;
      ++position;
      status = brol_stream_ok;
      return true;
    }
  }
}
