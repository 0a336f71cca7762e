// Writing to streams: unbuffered and buffered bytes, partial and failing writes, printf-style and
// item-list texts.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <string>
#include <vector>

#include "brol/stream/brol_stream.h"
#include "stream_test_fakes.h"

namespace {

using stream_test::read_file;
using stream_test::stream;

struct file_stream {
  brol_test::temp_dir dir;
  std::string path = dir.file("out");
  stream t;
  explicit file_stream(std::int64_t size = 8) : t(size) { EXPECT_TRUE(t->open(path.c_str(), 0x301)); }
  std::string content() {
    EXPECT_TRUE(t->close(false));
    return read_file(path);
  }
};

// Writes of every size around the buffer's, buffered and not, with the system taking a random
// part of each write: the file holds every byte in order, and buffered writes reach the system in
// calls no larger than the buffer, except when more than a buffer remains.
TEST(BrolStreamWrite, EverySizeAroundTheBufferArrivesInOrder) {
  const std::string data = stream_test::sample_text(64, 3);
  for (bool buffered : {false, true}) {
    for (std::int64_t n = 0; n <= 20; ++n) {
      SCOPED_TRACE(std::to_string(buffered) + " " + std::to_string(n));
      file_stream f(8);
      stream_test::fake_os fake;
      stream_test::writes.random = true;
      if (buffered) {
        ASSERT_TRUE(f.t->enable_write_buffer());
      }
      std::string expected;
      for (std::int64_t at = 0; at + n <= 64; at += n + 1) {
        ASSERT_TRUE(f.t->write_bytes(data.data() + at, n));
        expected.append(data, static_cast<std::size_t>(at), static_cast<std::size_t>(n));
      }
      EXPECT_TRUE(f.t->write_char('!'));
      expected += '!';
      EXPECT_EQ(f.content(), expected);
      EXPECT_EQ(f.t->written, expected.size());
      if (buffered && n < 8) {
        for (std::int32_t asked : stream_test::writes.asked) {
          EXPECT_LE(asked, 8);
        }
      }
    }
  }
}

TEST(BrolStreamWrite, RefusedArguments) {
  file_stream f;
  EXPECT_FALSE(f.t->write_bytes("abc", -1));
  EXPECT_FALSE(f.t->write_bytes(nullptr, 2));
  EXPECT_TRUE(f.t->write_bytes(nullptr, 0));
  EXPECT_TRUE(f.t->write_text(nullptr));
  EXPECT_EQ(f.content(), "");
  EXPECT_FALSE(f.t->write_bytes("abc", 3));
  EXPECT_EQ(f.t->status, brol_stream_not_open);
  EXPECT_FALSE(f.t->write_printf("%d", 1));
  EXPECT_EQ(f.t->status, brol_stream_not_open);
}

TEST(BrolStreamWrite, FailuresReportTheErrorNumber) {
  struct row {
    bool buffered;
    int fail_errno;
    bool stays_open;
  };
  for (const row& r :
       {row{false, ENOSPC, true}, row{true, ENOSPC, true}, row{false, EBADF, false}, row{true, EBADF, false}}) {
    SCOPED_TRACE(std::to_string(r.buffered) + " " + std::to_string(r.fail_errno));
    file_stream f(4);
    if (r.buffered) {
      ASSERT_TRUE(f.t->enable_write_buffer());
    }
    stream_test::fake_os fake;
    stream_test::writes.most = 2;
    stream_test::writes.fail_at = 2;
    stream_test::writes.fail_errno = r.fail_errno;
    EXPECT_FALSE(f.t->write_text("abcdefgh"));
    EXPECT_EQ(f.t->status, brol_stream_io_failed);
    EXPECT_EQ(f.t->error_number, r.fail_errno);
    EXPECT_EQ(f.t->is_open(), r.stays_open);
    EXPECT_EQ(f.t->written, 2u);  // the first call's two bytes
    EXPECT_EQ(f.t->cursor, 0);    // nothing stays pending after a failed write-out
  }
  file_stream f;
  stream_test::fake_os fake;
  stream_test::writes.zero_at = 1;  // a write of nothing would repeat for ever
  EXPECT_FALSE(f.t->write_text("abc"));
  EXPECT_EQ(f.t->error_number, EIO);
}

TEST(BrolStreamWrite, SocketWritesReachThePeer) {
  stream t(5);
  stream_test::socket_pair pair;
  pair.attach(t.s);
  ASSERT_TRUE(t->enable_write_buffer());
  EXPECT_TRUE(t->write_printf("GET /%s HTTP/1.0\r\n\r\n", "index.html"));
  EXPECT_TRUE(t->close(false));
  EXPECT_EQ(pair.receive_all(), "GET /index.html HTTP/1.0\r\n\r\n");
}

TEST(BrolStreamWrite, PrintfUsesTheHeapOnlyForLongTexts) {
  for (int length : {0, 1, 511, 512, 513, 5000}) {
    SCOPED_TRACE(length);
    file_stream f;
    const std::int64_t allocations =
        brol_test::count_allocations([&] { EXPECT_TRUE(f.t->write_printf("%*s", length, "")); });
    EXPECT_EQ(allocations, length < 512 ? 0 : 1);
    EXPECT_EQ(f.content(), std::string(static_cast<std::size_t>(length), ' '));
  }
  file_stream f;
  EXPECT_TRUE(f.t->write_printf("a%cb%s", 0, "c"));  // the NUL and what follows it are written
  {
    brol_test::alloc_failure failing(1);
    EXPECT_FALSE(f.t->write_printf("%600d", 1));
    EXPECT_EQ(f.t->status, brol_stream_no_memory);
  }
  EXPECT_EQ(f.content(), std::string("a\0bc", 4));
}

TEST(BrolStreamWrite, ItemListsThroughTheEngine) {
  file_stream f;
  EXPECT_TRUE(f.t->write_format("id ", brol_fmt_int, 4, 301));
  const std::string long_text(700, 'x');
  EXPECT_TRUE(f.t->write_format(long_text.c_str()));
  {
    brol_test::alloc_failure failing(1);
    EXPECT_FALSE(f.t->write_format(long_text.c_str()));
    EXPECT_EQ(f.t->status, brol_stream_no_memory);
  }
  EXPECT_EQ(f.content(), "id 301" + long_text);
  EXPECT_FALSE(f.t->write_format("closed"));
  EXPECT_EQ(f.t->status, brol_stream_not_open);
}

TEST(BrolStreamWrite, BufferSizeChangesWhileWriting) {
  file_stream f(4);
  EXPECT_TRUE(f.t->enable_write_buffer());
  EXPECT_FALSE(f.t->enable_write_buffer());  // a buffer exists already
  EXPECT_TRUE(f.t->write_text("abc"));
  EXPECT_TRUE(f.t->set_buffer_size(16));  // pending bytes go out first
  EXPECT_EQ(f.t->written, 3u);
  EXPECT_TRUE(f.t->write_text("defghijkl"));
  EXPECT_EQ(f.t->written, 3u);
  {
    brol_test::alloc_failure failing(1);
    EXPECT_FALSE(f.t->set_buffer_size(32));
  }
  EXPECT_EQ(f.t->status, brol_stream_no_memory);
  EXPECT_EQ(f.t->buffer, nullptr);
  EXPECT_EQ(f.t->write_buffered, 0u);
  EXPECT_TRUE(f.t->write_text("m"));
  EXPECT_EQ(f.content(), "abcdefghijklm");
}

}  // namespace

// After topping up the buffer, a remainder of at most a buffer stays pending (cursor = remainder),
// also one of exactly buffer_size bytes; only a larger remainder goes out directly.
TEST(BrolStreamWrite, BufferedRemainderUpToABufferStaysPending) {
  const std::string data = stream_test::sample_text(40, 5);
  struct row {
    std::int64_t first, second;  // two writes into a buffer of 8
    std::int64_t cursor;         // pending afterwards
    std::vector<std::int32_t> asked;
  };
  for (const row& r : {row{3, 5, 8, {}}, row{3, 6, 1, {8}}, row{3, 13, 8, {8}}, row{3, 14, 0, {8, 9}}, row{0, 8, 8, {}},
                       row{0, 16, 8, {8}}, row{0, 17, 0, {8, 9}}}) {
    SCOPED_TRACE(std::to_string(r.first) + "+" + std::to_string(r.second));
    file_stream f(8);
    stream_test::fake_os fake;
    ASSERT_TRUE(f.t->enable_write_buffer());
    ASSERT_TRUE(f.t->write_bytes(data.data(), r.first));
    ASSERT_TRUE(f.t->write_bytes(data.data() + r.first, r.second));
    EXPECT_EQ(f.t->cursor, r.cursor);
    EXPECT_EQ(stream_test::writes.asked, r.asked);
    EXPECT_EQ(f.content(), data.substr(0, static_cast<std::size_t>(r.first + r.second)));
  }
}
