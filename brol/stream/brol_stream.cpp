// The stream's life cycle (init, open, attach, close, destroy), buffer control and the watch.
#include "brol/stream/brol_stream.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "brol/platform/brol_alloc.h"
#include "brol/stream/brol_stream_detail.h"

brol_stream_watch brol_watch{};

namespace {

std::int64_t limited_size(std::int64_t n) {
  return n < 1 ? 1 : (n > brol::detail::stream_io_max ? brol::detail::stream_io_max : n);
}

bool has_handle(const brol_stream& s) {
  return s.is_socket != 0 ? s.socket != brol_invalid_socket : s.file != brol_invalid_file;
}

}  // namespace

void brol_stream::init(std::int64_t size) noexcept {
  address = nullptr;
  name = nullptr;
  timeout_ticks = 4;
  status = brol_stream_ok;
  file = brol_invalid_file;
  socket = brol_invalid_socket;
  buffer = nullptr;
  fill = 0;
  cursor = 0;
  buffer_size = wanted_size = limited_size(size);
  at_end = 0;
  mark = 0;
  position = 0;
  written = 0;
  file_size = 0;
  write_buffered = 0;
  is_socket = 0;
  error_number = 0;
  deadline = 0;
}

void brol_stream::destroy() noexcept {
  close(false);
  brol_free(buffer);
  brol_free(name);
  brol_free(address);
  init(wanted_size);
}

bool brol_stream::is_open() const noexcept { return has_handle(*this) && !brol::detail::stream_aborted(*this); }

bool brol::detail::stream_close(brol_stream& s, bool detach) noexcept {
  const bool aborted = stream_aborted(s);
  bool failed = false;
  if (s.write_buffered != 0 && s.cursor != 0 && !aborted) {
    s.write_buffered = 0;
    failed = !s.write_bytes(s.buffer, s.cursor);
  }
  // The watch has closed an aborted stream's handle already; its value may belong to someone else by
  // now.
  if (!detach && !aborted && has_handle(s)) {
    stream_close_handle(s);
  }
  s.cursor = s.fill = 0;
  s.at_end = 0;
  s.mark = 0;
  s.is_socket = 0;
  s.file = brol_invalid_file;
  s.socket = brol_invalid_socket;
  s.status = failed ? brol_stream_io_failed : brol_stream_ok;
  return !failed;
}

bool brol_stream::close(bool detach) noexcept {
  // The caller is done with this use of the record: a later connection starts without the old limit.
  deadline = 0;
  return brol::detail::stream_close(*this, detach);
}

namespace {

std::uint32_t access_for(int flags) {
  if ((flags & brol_open_write) != 0) {
    return brol_access_write;
  }
  if ((flags & brol_open_read_write) != 0) {
    return brol_access_read | brol_access_write;
  }
  return brol_access_read;
}

std::uint32_t disposition_for(int flags, bool exclusive) {
  if ((flags & (brol_open_create | brol_open_truncate)) == 0) {
    return brol_open_existing;
  }
  return exclusive ? brol_create_new : brol_create_always;
}

// Records the size of the file at path; a directory closes the stream with 522 instead.
bool measure(brol_stream& s, const char* path) {
  brol_file_status info{};
  if (!brol_os.file_stat(path, &info)) {
    s.file_size = 0;
    return true;
  }
  if ((info.mode & brol_mode_type_mask) == brol_mode_directory) {
    s.error_number = EISDIR;
    brol::detail::stream_close(s, false);
    s.status = brol_stream_is_directory;
    return false;
  }
  s.file_size = static_cast<std::uint64_t>(info.size);
  return true;
}

}  // namespace

bool brol_stream::open(const char* path, int flags) noexcept {
  return brol::detail::stream_open(*this, path, flags, false);
}

bool brol::detail::stream_open(brol_stream& s, const char* path, int flags, bool exclusive) noexcept {
  const bool reopen = path == nullptr || path == s.name;
  if (path == nullptr && (path = s.name) == nullptr) {
    s.status = brol_stream_open_failed;
    return false;
  }
  if (has_handle(s)) {
    brol::detail::stream_close(s, false);
  }
  if (!measure(s, path)) {
    return false;
  }
  s.position = 0;
  s.written = 0;
  const brol_file_handle handle = brol_os.file_open(path, access_for(flags), disposition_for(flags, exclusive));
  if (handle == brol_invalid_file) {
    s.error_number = errno;
    brol::detail::stream_close(s, false);
    s.status = brol_stream_open_failed;
    return false;
  }
  s.file = handle;
  s.is_socket = 0;
  s.cursor = s.fill = 0;
  s.at_end = 0;
  s.mark = 0;
  if (!reopen && !s.set_name(path)) {
    return false;
  }
  s.status = brol_stream_ok;
  s.error_number = 0;
  return true;
}

bool brol_stream::open_format(const char* format, int flags, ...) noexcept {
  brol::detail::stream_close(*this, false);
  brol_free(address);
  address = nullptr;
  char path[512];
  std::va_list arguments;
  va_start(arguments, flags);
  path[0] = '\0';
  const int n = format != nullptr ? std::vsnprintf(path, sizeof path, format, arguments) : 0;
  va_end(arguments);
  if (n < 0 || n >= static_cast<int>(sizeof path)) {
    // A cut path names a different file: never open it.
    error_number = n < 0 ? EINVAL : ENAMETOOLONG;
    status = brol_stream_open_failed;
    return false;
  }
  return open(path, flags);
}

bool brol_stream::attach_file(brol_file_handle handle, const char* text) noexcept {
  brol::detail::stream_close(*this, false);
  brol_free(address);
  address = nullptr;
  if (!set_name(text)) {
    return false;
  }
  position = 0;
  written = 0;
  file_size = 0;
  file = handle;
  is_socket = 0;
  return true;
}

bool brol_stream::attach_socket(std::int64_t descriptor, const char* text) noexcept {
  if (!attach_file(brol_invalid_file, text)) {
    return false;
  }
  if (descriptor >= 0) {
    socket = static_cast<brol_socket_handle>(descriptor);
    is_socket = 1;
  }
  return true;
}

bool brol_stream::set_name(const char* text) noexcept {
  if (text == nullptr) {
    text = "";
  }
  const std::size_t n = std::strlen(text) + 1;
  if (name != nullptr && std::strlen(name) + 1 >= n) {
    std::memmove(name, text, n);
    return true;
  }
  // Allocated before the old name goes, as text may point into it.
  char* fresh = static_cast<char*>(brol_alloc(static_cast<std::int64_t>(n)));
  if (fresh == nullptr) {
    brol::detail::stream_close(*this, false);
    status = brol_stream_no_memory;
    return false;
  }
  std::memcpy(fresh, text, n);
  brol_free(name);
  name = fresh;
  return true;
}

bool brol_stream::enable_write_buffer() noexcept {
  if (buffer != nullptr) {
    return false;
  }
  buffer = static_cast<unsigned char*>(brol_alloc(buffer_size));
  if (buffer == nullptr) {
    return false;
  }
  write_buffered = 1;
  cursor = fill = 0;
  return true;
}

bool brol_stream::set_buffer_size(std::int64_t n) noexcept {
  n = limited_size(n);
  if (buffer == nullptr) {
    buffer_size = wanted_size = n;
    return true;
  }
  if (write_buffered == 0) {
    wanted_size = n;
    return true;
  }
  write_buffered = 0;
  const bool flushed = brol::detail::stream_flush_pending(*this);
  buffer_size = wanted_size = n;
  brol_free(buffer);
  buffer = static_cast<unsigned char*>(brol_alloc(n));
  if (buffer == nullptr) {
    status = brol_stream_no_memory;
    return false;
  }
  write_buffered = 1;
  return flushed;
}

const char* brol_stream::error_text() noexcept { return std::strerror(errno); }

// --- The watch --------------------------------------------------------------------------------------

void brol_stream::arm(brol_stream* stream, std::uint16_t operation) noexcept {
  if (stream == nullptr) {
    return;
  }
  brol_watch.operation.store(operation);
  brol_watch.ticks_left.store(static_cast<std::uint16_t>(stream->timeout_ticks));
  brol_watch.stream.store(stream);
}

void brol_stream::disarm() noexcept { brol_watch.stream.store(nullptr); }

std::uint16_t brol_stream::tick() noexcept {
  brol_stream* s = brol_watch.stream.load();
  if (s == nullptr) {
    return 0;
  }
  const auto left = static_cast<std::uint16_t>(brol_watch.ticks_left.load() - 1);
  brol_watch.ticks_left.store(left);
  // Disarming here makes sure one blocked call is aborted once: a second abort would close a handle
  // value that may have been reused.
  if (left != 0 || !brol_watch.stream.compare_exchange_strong(s, nullptr)) {
    return 0;
  }
  brol_watch.ticks_left.store(static_cast<std::uint16_t>(s->timeout_ticks));
  // The status goes first: the call woken by the close below must already see it.
  std::atomic_ref<std::int64_t>(s->status).store(brol_stream_aborted);
  brol::detail::stream_close_handle(*s);
  return brol_watch.operation.load();
}

void brol::detail::stream_close_handle(const brol_stream& s) noexcept {
  if (s.is_socket != 0) {
    brol_os.socket_shutdown(s.socket, brol_shutdown_both);
    brol_os.socket_close(s.socket);
  } else {
    brol_os.file_close(s.file);
  }
}
