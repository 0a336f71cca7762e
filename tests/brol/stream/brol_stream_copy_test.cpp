// Copying between streams: the transfer area, bytes the source has read ahead, counts, delimiters,
// and failures of either side.
#include <gtest/gtest.h>

#include <cerrno>
#include <string>

#include "brol/stream/brol_stream.h"
#include "stream_test_fakes.h"

namespace {

using stream_test::read_file;
using stream_test::stream;

// A source file and a destination file in one temporary folder.
struct files {
  brol_test::temp_dir dir;
  std::string in = dir.file("in");
  std::string out = dir.file("out");
  stream source;
  stream dest;
  files(const std::string& data, std::int64_t source_size, std::int64_t dest_size)
      : source(source_size), dest(dest_size) {
    stream_test::write_file(in, data);
    EXPECT_TRUE(source->open(in.c_str(), 0));
    EXPECT_TRUE(dest->open(out.c_str(), 0x301));
  }
  std::string copied() {
    EXPECT_TRUE(dest->close(false));
    return read_file(out);
  }
};

// Whichever stream lends its buffer, and whatever counts the system reads and writes move, the
// destination receives every byte once and in order, read-ahead bytes and pending output first.
TEST(BrolStreamCopy, AllBytesArriveWhateverTheArea) {
  const std::string data = stream_test::sample_text(50000, 11);
  struct row {
    bool source_buffer, dest_buffer, dest_pending;
  };
  for (const row& r : {row{false, false, false}, row{true, false, false}, row{false, true, false},
                       row{true, true, true}, row{false, true, true}}) {
    SCOPED_TRACE(std::to_string(r.source_buffer) + std::to_string(r.dest_buffer) + std::to_string(r.dest_pending));
    files f(data, 1000, 300);
    std::string expected = data;
    if (r.dest_buffer) {
      ASSERT_TRUE(f.dest->enable_write_buffer());
    }
    if (r.dest_pending) {
      ASSERT_TRUE(f.dest->write_text("head:"));
      expected = "head:" + data;
    }
    if (r.source_buffer) {
      char first[5];
      ASSERT_TRUE(f.source->get_bytes(first, 5));  // 995 bytes stay read ahead
      expected.erase(expected.size() - data.size(), 5);
    }
    stream_test::fake_os fake;
    stream_test::reads.random = true;
    stream_test::writes.random = true;
    ASSERT_TRUE(f.dest->copy_all(f.source.s));
    EXPECT_EQ(f.dest->status, 0);
    EXPECT_EQ(f.source->position, 50000);
    EXPECT_EQ(f.dest->write_buffered, r.dest_buffer ? 1u : 0u);
    const std::int32_t area = r.dest_buffer ? 300 : (r.source_buffer ? 1000 : 16384);
    for (std::int32_t asked : stream_test::reads.asked) {
      EXPECT_LE(asked, area);
    }
    EXPECT_EQ(f.copied(), expected);
  }
}

TEST(BrolStreamCopy, SocketReadAheadGoesFirst) {
  brol_test::temp_dir dir;
  stream body(64);
  stream file(8192);
  stream_test::socket_pair pair;
  pair.attach(body.s);
  pair.send("HTTP/1.0 200 OK\r\n\r\nbody bytes");
  char line[20];
  ASSERT_TRUE(body->get_line(line, 20));
  ASSERT_TRUE(body->get_line(line, 20));
  pair.send(" and the rest");
  pair.close_peer();
  ASSERT_TRUE(file->open_format("%s", 0x101, dir.file("doc").c_str()));
  ASSERT_TRUE(file->copy_all(body.s));
  EXPECT_TRUE(file->close(false));
  EXPECT_EQ(read_file(dir.file("doc")), "body bytes and the rest");
}

TEST(BrolStreamCopy, SourceAtItsEndAndClosedStreams) {
  files f("", 16, 16);
  EXPECT_TRUE(f.dest->copy_all(f.source.s));
  EXPECT_EQ(f.dest->written, 0u);
  stream closed;
  EXPECT_FALSE(closed->copy_all(f.source.s));
  EXPECT_EQ(closed->status, brol_stream_not_open);
  EXPECT_FALSE(f.dest->copy_count(closed.s, 5, -1));
  EXPECT_EQ(f.dest->status, brol_stream_not_open);
  EXPECT_FALSE(f.source->copy_until(';', closed.s));
  EXPECT_EQ(f.source->status, brol_stream_not_open);
  EXPECT_EQ(closed->status, brol_stream_not_open);
}

TEST(BrolStreamCopy, CountFromTheBufferNeedsNoRead) {
  const std::string data = stream_test::sample_text(200, 5);
  files f(data, 64, 0);
  char first[14];
  ASSERT_TRUE(f.source->get_bytes(first, 14));  // 50 bytes stay buffered
  stream_test::fake_os fake;
  ASSERT_TRUE(f.dest->copy_count(f.source.s, 10, -1));
  EXPECT_EQ(stream_test::reads.calls, 0);
  EXPECT_EQ(f.source->position, 24);
  EXPECT_EQ(f.source->get_byte(), static_cast<unsigned char>(data[24]));
  // A count beyond the buffer reads the rest in pieces of the area, never past the count.
  ASSERT_TRUE(f.dest->copy_count(f.source.s, 100, -1));
  for (std::int32_t asked : stream_test::reads.asked) {
    EXPECT_LE(asked, 64);
  }
  EXPECT_EQ(f.source->position, 125);
  // A limit on the reads ends the copy early, normally.
  stream_test::reads = stream_test::io_plan{};
  stream_test::reads.most = 10;
  ASSERT_TRUE(f.dest->copy_count(f.source.s, 1000, 2));
  EXPECT_EQ(stream_test::reads.calls, 2);
  EXPECT_EQ(f.source->position, 145);
  EXPECT_EQ(f.copied(), data.substr(14, 10) + data.substr(25, 100) + data.substr(125, 20));
}

TEST(BrolStreamCopy, UntilADelimiter) {
  files f("abc;def", 4, 0);
  ASSERT_TRUE(f.source->copy_until(';', f.dest.s));
  EXPECT_EQ(f.source->position, 4);
  EXPECT_EQ(f.source->get_byte(), 'd');
  ASSERT_TRUE(f.source->copy_until(';', f.dest.s));  // none left: everything, then the end
  EXPECT_EQ(f.source->at_end, 1u);
  EXPECT_EQ(f.source->status, 0);
  EXPECT_FALSE(f.source->copy_until(';', f.dest.s));
  EXPECT_EQ(f.source->status, brol_stream_end_of_data);
  EXPECT_EQ(f.copied(), "abcef");
}

TEST(BrolStreamCopy, FailuresOfEitherSide) {
  const std::string data = stream_test::sample_text(3000, 9);
  {
    // A failing read is no end of the data: the copy fails.
    files f(data, 0, 0);
    stream_test::fake_os fake;
    stream_test::reads.fail_at = 2;
    stream_test::reads.fail_errno = ECONNRESET;
    EXPECT_FALSE(f.dest->copy_all(f.source.s));
    EXPECT_EQ(f.dest->status, brol_stream_io_failed);
    EXPECT_EQ(f.dest->error_number, ECONNRESET);
  }
  {
    files f(data, 0, 100);
    ASSERT_TRUE(f.dest->enable_write_buffer());
    stream_test::fake_os fake;
    stream_test::writes.fail_at = 3;
    stream_test::writes.fail_errno = ENOSPC;
    EXPECT_FALSE(f.dest->copy_all(f.source.s));
    EXPECT_EQ(f.dest->status, brol_stream_io_failed);
    EXPECT_EQ(f.dest->error_number, ENOSPC);
    EXPECT_EQ(f.dest->written, 200u);
    EXPECT_EQ(f.dest->write_buffered, 1u);  // restored on every path
  }
  {
    files f("abcdef;", 16, 0);
    stream_test::fake_os fake;
    stream_test::writes.most = 2;
    stream_test::writes.fail_at = 2;
    stream_test::writes.fail_errno = EPIPE;
    EXPECT_FALSE(f.source->copy_until(';', f.dest.s));
    EXPECT_EQ(f.source->status, brol_stream_io_failed);
    EXPECT_EQ(f.source->error_number, EPIPE);
    EXPECT_EQ(f.source->position, 2);  // the two bytes that went out
  }
}

TEST(BrolStreamCopy, AreaFallsBackWhenMemoryIsShort) {
  const std::string data = stream_test::sample_text(5000, 2);
  {
    files f(data, 0, 0);
    stream_test::fake_os fake;
    brol_test::alloc_failure failing(1);
    ASSERT_TRUE(f.dest->copy_all(f.source.s));
    EXPECT_LE(stream_test::reads.asked.at(0), 1024);
    EXPECT_EQ(f.copied(), data);
  }
  files f(data, 0, 0);
  brol_test::alloc_failure failing(1, true);
  EXPECT_FALSE(f.dest->copy_all(f.source.s));
  EXPECT_EQ(f.dest->status, brol_stream_no_memory);
}

}  // namespace
