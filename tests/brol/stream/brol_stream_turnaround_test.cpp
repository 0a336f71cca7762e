// Reading from a stream in buffered-write mode writes the pending bytes out first; when that write-out
// fails, every kind of read reports the failure and the stream stays usable.
#include <gtest/gtest.h>

#include <cerrno>
#include <functional>
#include <string>

#include "brol/stream/brol_stream.h"
#include "stream_test_fakes.h"

namespace {

using stream_test::read_file;
using stream_test::stream;

struct read_kind {
  const char* name;
  std::function<bool(brol_stream&)> failed;  // the read, true when it reported the failure
};

TEST(BrolStreamTurnaround, AFailedWriteOutFailsEveryRead) {
  const read_kind kinds[] = {
      {"get_byte", [](brol_stream& s) { return s.get_byte() == brol_stream_io_failed; }},
      {"get_line",
       [](brol_stream& s) {
         char line[16];
         return !s.get_line(line, sizeof line);
       }},
      {"get_block",
       [](brol_stream& s) {
         std::int32_t count = 4;
         return s.get_block(&count) == nullptr;
       }},
      {"get_bytes",
       [](brol_stream& s) {
         char bytes[2];
         return !s.get_bytes(bytes, sizeof bytes);
       }},
  };
  for (const read_kind& k : kinds) {
    SCOPED_TRACE(k.name);
    brol_test::temp_dir dir;
    const std::string path = dir.file("f");
    stream t(8);
    ASSERT_TRUE(t->open(path.c_str(), brol_open_read_write | brol_open_create | brol_open_truncate));
    ASSERT_TRUE(t->enable_write_buffer());
    ASSERT_TRUE(t->write_text("abc"));
    {
      stream_test::fake_os fake;
      stream_test::writes.fail_at = 1;
      stream_test::writes.fail_errno = ENOSPC;
      EXPECT_TRUE(k.failed(t.s));
      EXPECT_EQ(t->status, brol_stream_io_failed);
      EXPECT_EQ(t->error_number, ENOSPC);
    }
    // The failed bytes are gone; the stream writes and reads on.
    t->status = brol_stream_ok;
    EXPECT_TRUE(t->write_text("xyz"));
    t->rewind();
    EXPECT_EQ(t->get_byte(), 'x');
    EXPECT_TRUE(t->close(false));
    EXPECT_EQ(read_file(path), "xyz");
  }
}

}  // namespace
