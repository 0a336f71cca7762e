// Positioning a file stream: relative and absolute moves, rewind, end and mark.
#include "brol/stream/brol_stream.h"
#include "brol/stream/brol_stream_detail.h"

namespace {

// A file stream whose pending buffered bytes have gone out (failures ignored), ready to move.
bool ready_to_move(brol_stream& s) {
  if (s.is_socket != 0 || !s.is_open()) {
    return false;
  }
  if (s.write_buffered != 0 && s.cursor != 0) {
    brol::detail::stream_flush_pending(s);
  }
  // A write failing with EBADF has closed the stream.
  return s.is_open();
}

// Moves the file pointer; -1 when the system refuses, and then nothing has changed.
std::int64_t move_file(const brol_stream& s, std::int64_t offset, int whence) {
  return brol_os.file_seek(s.file, offset, whence);
}

void drop_buffer(brol_stream& s, std::int64_t at) {
  s.position = at;
  s.cursor = s.fill = 0;
}

}  // namespace

void brol_stream::set_mark() noexcept { mark = position; }

void brol_stream::reset_to_mark() noexcept {
  if (!ready_to_move(*this) || move_file(*this, mark, brol_seek_begin) < 0) {
    return;
  }
  drop_buffer(*this, mark);
  at_end = 0;
}

void brol_stream::rewind() noexcept {
  if (!ready_to_move(*this) || move_file(*this, 0, brol_seek_begin) < 0) {
    return;
  }
  drop_buffer(*this, 0);
  at_end = 0;
}

void brol_stream::seek_end() noexcept {
  if (!ready_to_move(*this)) {
    return;
  }
  const std::int64_t at = move_file(*this, 0, brol_seek_end);
  if (at < 0) {
    return;
  }
  drop_buffer(*this, at);
  at_end = 1;
}

void brol_stream::seek(std::int64_t offset, int whence) noexcept {
  if (whence < brol_seek_begin || whence > brol_seek_end || !ready_to_move(*this)) {
    return;
  }
  const bool unread = write_buffered == 0 && cursor < fill;
  // A target among the buffered bytes needs no system call.
  if (whence == brol_seek_current && unread && cursor + offset >= 0 && cursor + offset < fill) {
    cursor += offset;
    position += offset;
    at_end = 0;
    return;
  }
  // The file pointer stands after the buffered bytes; a relative move counts from the reading
  // position then, and from the pointer itself when nothing is buffered.
  const std::int64_t at = whence == brol_seek_current && unread ? move_file(*this, position + offset, brol_seek_begin)
                                                                : move_file(*this, offset, whence);
  if (at < 0) {
    return;
  }
  at_end = 0;
  const std::int64_t base = position - cursor;
  if (unread && at >= base && at < base + fill && move_file(*this, base + fill, brol_seek_begin) >= 0) {
    cursor = at - base;
    position = at;
    return;
  }
  drop_buffer(*this, at);
}
