// Helpers shared by the stream's source files: watched system reads and writes, the abort check and
// the buffer moves that several operations make.
#pragma once

#include <atomic>
#include <cstdint>

#include "brol/stream/brol_stream.h"

namespace brol::detail {

// The largest count one system read or write takes.
inline constexpr std::int64_t stream_io_max = 0x7FFFFFFF;

// True once the watch has aborted the stream. The watch writes status from another thread while the
// stream's thread is blocked, hence the atomic access.
inline bool stream_aborted(const brol_stream& s) noexcept {
  return std::atomic_ref<std::int64_t>(const_cast<std::int64_t&>(s.status)).load() == brol_stream_aborted;
}

// Refuses an operation on a stream that is not open: status 516, except that an aborted stream
// keeps 520 until it is closed. Always false.
inline bool stream_refused(brol_stream& s) noexcept {
  if (!stream_aborted(s)) {
    s.status = brol_stream_not_open;
  }
  return false;
}

// Before a socket call of s: bounds the call to the time left before s.deadline (none when 0). False
// with errno ETIMEDOUT when none is left, or the system's reason when the bound cannot be set.
bool stream_bound_call(const brol_stream& s, brol_socket_handle socket) noexcept;

// Result of a watched read when the watch aborted the stream during the call.
inline constexpr std::int32_t stream_read_aborted = -2;

// One system read of up to size bytes from s's handle, watched as a read of s: the count, 0 at the
// end, -1 on failure (errno set) or stream_read_aborted.
std::int32_t stream_read(brol_stream& s, void* data, std::int64_t size) noexcept;

enum class stream_io { ok, failed, aborted };

// Writes all n bytes to s's handle, repeating partial writes, each call watched as a write of s;
// s.written grows by every call's count and *done (when given) by the bytes written. A failed call
// leaves errno set (EIO for a call that wrote nothing).
stream_io stream_write_all(brol_stream& s, const void* data, std::int64_t n, std::int64_t* done = nullptr) noexcept;

// Records a failed stream_write_all in s as write_bytes reports it: 514 with error_number, and the
// stream closed on EBADF; an aborted stream keeps 520. Always false.
bool stream_write_failed(brol_stream& s, stream_io result) noexcept;

// Writes out the pending bytes of buffered-write mode (the mode stays as it is); cursor becomes 0
// before the write, so nothing stays pending after a failure. True when nothing failed.
bool stream_flush_pending(brol_stream& s) noexcept;

// Ends buffered-write mode, writing the pending bytes out; the buffer then serves reading. False when
// that write failed (recorded as write_bytes records it).
bool stream_leave_write_mode(brol_stream& s) noexcept;

// Makes the buffer hold at least one unread byte: 0 when it does, otherwise the code of get_byte
// (516, 513, or 514 and 515 stored in status). Leaves buffered-write mode first.
std::uint16_t stream_ensure_data(brol_stream& s) noexcept;

// Fills the empty buffer (allocated when missing) with one read of up to want bytes: 0 on success,
// 513 at the end (at_end set), 514 or 515 (stored in status), 516 when aborted.
std::uint16_t stream_refill(brol_stream& s, std::int64_t want) noexcept;

// open of s with the flags of open; exclusive makes a create fail with EEXIST (status 521) when the
// name is taken instead of emptying that file.
bool stream_open(brol_stream& s, const char* path, int flags, bool exclusive) noexcept;

// close of s as the operations use it when they end or replace a connection: the time limit stays,
// since it was set for the connection that follows.
bool stream_close(brol_stream& s, bool detach) noexcept;

// Closes the system handle of s, a socket shut down in both directions first.
void stream_close_handle(const brol_stream& s) noexcept;

}  // namespace brol::detail
