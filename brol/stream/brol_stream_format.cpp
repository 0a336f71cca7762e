// Writing to a stream through the formatting engine.
#include "brol/platform/brol_alloc.h"
#include "brol/stream/brol_stream.h"

bool brol_stream::write_vformat(brol_item first, brol_fmt_cursor items) noexcept {
  char area[512];
  const std::int64_t n = brol_vformat(area, sizeof area, first, items);
  if (n < static_cast<std::int64_t>(sizeof area)) {
    return write_bytes(area, n > 0 ? n : 0);
  }
  char* heap = static_cast<char*>(brol_alloc(n + 1));
  if (heap == nullptr) {
    status = brol_stream_no_memory;
    return false;
  }
  const std::int64_t again = brol_vformat(heap, n + 1, first, items);
  const bool result = write_bytes(heap, again < n ? again : n);
  brol_free(heap);
  return result;
}
