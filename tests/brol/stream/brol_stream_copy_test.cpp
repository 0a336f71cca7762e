// Copying between streams: the transfer area, bytes the source has read ahead, counts, delimiters,
// and failures of either side.
#include <gtest/gtest.h>

#include <cerrno>
#include <string>

#include "brol/stream/brol_stream.h"
#include "brol_test_stream_files.h"
#include "stream_test_fakes.h"

namespace {

using stream_test::read_file;
using stream_test::stream;

using files = brol_test::stream_files;

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
      ASSERT_TRUE(f.dest.enable_write_buffer());
    }
    if (r.dest_pending) {
      ASSERT_TRUE(f.dest.write_text("head:"));
      expected = "head:" + data;
    }
    if (r.source_buffer) {
      char first[5];
      ASSERT_TRUE(f.source.get_bytes(first, 5));  // 995 bytes stay read ahead
      expected.erase(expected.size() - data.size(), 5);
    }
    stream_test::fake_os fake;
    stream_test::reads.random = true;
    stream_test::writes.random = true;
    ASSERT_TRUE(f.dest.copy_all(f.source));
    EXPECT_EQ(f.dest.status, 0);
    EXPECT_EQ(f.source.position, 50000);
    EXPECT_EQ(f.dest.write_buffered, r.dest_buffer ? 1u : 0u);
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
  EXPECT_TRUE(f.dest.copy_all(f.source));
  EXPECT_EQ(f.dest.written, 0u);
  stream closed;
  EXPECT_FALSE(closed->copy_all(f.source));
  EXPECT_EQ(closed->status, brol_stream_not_open);
  EXPECT_FALSE(f.dest.copy_count(closed.s, 5, -1));
  EXPECT_EQ(f.dest.status, brol_stream_not_open);
  EXPECT_FALSE(f.source.copy_until(';', closed.s));
  EXPECT_EQ(f.source.status, brol_stream_not_open);
  EXPECT_EQ(closed->status, brol_stream_not_open);
}

TEST(BrolStreamCopy, CountFromTheBufferNeedsNoRead) {
  const std::string data = stream_test::sample_text(200, 5);
  files f(data, 64, 0);
  char first[14];
  ASSERT_TRUE(f.source.get_bytes(first, 14));  // 50 bytes stay buffered
  stream_test::fake_os fake;
  ASSERT_TRUE(f.dest.copy_count(f.source, 10, -1));
  EXPECT_EQ(stream_test::reads.calls, 0);
  EXPECT_EQ(f.source.position, 24);
  EXPECT_EQ(f.source.get_byte(), static_cast<unsigned char>(data[24]));
  // A count beyond the buffer reads the rest in pieces of the area, never past the count.
  ASSERT_TRUE(f.dest.copy_count(f.source, 100, -1));
  for (std::int32_t asked : stream_test::reads.asked) {
    EXPECT_LE(asked, 64);
  }
  EXPECT_EQ(f.source.position, 125);
  // A limit on the reads ends the copy early, normally.
  stream_test::reads = stream_test::io_plan{};
  stream_test::reads.most = 10;
  ASSERT_TRUE(f.dest.copy_count(f.source, 1000, 2));
  EXPECT_EQ(stream_test::reads.calls, 2);
  EXPECT_EQ(f.source.position, 145);
  EXPECT_EQ(f.copied(), data.substr(14, 10) + data.substr(25, 100) + data.substr(125, 20));
}

TEST(BrolStreamCopy, UntilADelimiter) {
  files f("abc;def", 4, 0);
  ASSERT_TRUE(f.source.copy_until(';', f.dest));
  EXPECT_EQ(f.source.position, 4);
  EXPECT_EQ(f.source.get_byte(), 'd');
  ASSERT_TRUE(f.source.copy_until(';', f.dest));  // none left: everything, then the end
  EXPECT_EQ(f.source.at_end, 1u);
  EXPECT_EQ(f.source.status, 0);
  EXPECT_FALSE(f.source.copy_until(';', f.dest));
  EXPECT_EQ(f.source.status, brol_stream_end_of_data);
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
    EXPECT_FALSE(f.dest.copy_all(f.source));
    EXPECT_EQ(f.dest.status, brol_stream_io_failed);
    EXPECT_EQ(f.dest.error_number, ECONNRESET);
  }
  {
    files f(data, 0, 100);
    ASSERT_TRUE(f.dest.enable_write_buffer());
    stream_test::fake_os fake;
    stream_test::writes.fail_at = 3;
    stream_test::writes.fail_errno = ENOSPC;
    EXPECT_FALSE(f.dest.copy_all(f.source));
    EXPECT_EQ(f.dest.status, brol_stream_io_failed);
    EXPECT_EQ(f.dest.error_number, ENOSPC);
    EXPECT_EQ(f.dest.written, 200u);
    EXPECT_EQ(f.dest.write_buffered, 1u);  // restored on every path
  }
  {
    files f("abcdef;", 16, 0);
    stream_test::fake_os fake;
    stream_test::writes.most = 2;
    stream_test::writes.fail_at = 2;
    stream_test::writes.fail_errno = EPIPE;
    EXPECT_FALSE(f.source.copy_until(';', f.dest));
    EXPECT_EQ(f.source.status, brol_stream_io_failed);
    EXPECT_EQ(f.source.error_number, EPIPE);
    EXPECT_EQ(f.source.position, 2);  // the two bytes that went out
  }
}

TEST(BrolStreamCopy, AreaFallsBackWhenMemoryIsShort) {
  const std::string data = stream_test::sample_text(5000, 2);
  {
    files f(data, 0, 0);
    stream_test::fake_os fake;
    brol_test::alloc_failure failing(1);
    ASSERT_TRUE(f.dest.copy_all(f.source));
    EXPECT_LE(stream_test::reads.asked.at(0), 1024);
    EXPECT_EQ(f.copied(), data);
  }
  files f(data, 0, 0);
  brol_test::alloc_failure failing(1, true);
  EXPECT_FALSE(f.dest.copy_all(f.source));
  EXPECT_EQ(f.dest.status, brol_stream_no_memory);
}

// Copied inside the system, every documented effect stays: read-ahead and pending output go first,
// the source's position and the destination's written count grow by every byte, counts and read
// limits hold, the watch holds the destination during each call, and buffered writing comes back.
TEST(BrolStreamCopy, InsideTheSystemEveryEffectStays) {
  const std::string data = stream_test::sample_text(40000, 21);
  struct row {
    bool to_socket;
    bool read_ahead;     // the source has read 5 bytes, 995 wait in its buffer
    bool dest_pending;   // the destination holds "head:" in buffered-write mode
    std::int64_t count;  // -1: copy_all
    std::int16_t read_limit;
    std::int64_t expected_bytes;  // taken from the source by the copy
  };
  for (const row& r : {row{false, false, false, -1, -1, 40000}, row{false, true, true, -1, -1, 39995},
                       row{true, true, false, -1, -1, 39995}, row{true, false, true, 25000, -1, 25000},
                       row{false, true, false, 30000, -1, 30000}, row{false, false, false, 40000, 2, 2000}}) {
    SCOPED_TRACE(std::to_string(r.to_socket) + std::to_string(r.read_ahead) + std::to_string(r.dest_pending) + " " +
                 std::to_string(r.count) + " " + std::to_string(r.read_limit));
    files f(data, 1000, 300);
    stream_test::socket_pair pair;
    if (r.to_socket) {
      pair.attach(f.dest);
    }
    std::string head;
    if (r.dest_pending) {
      ASSERT_TRUE(f.dest.enable_write_buffer());
      ASSERT_TRUE(f.dest.write_text("head:"));
      head = "head:";
    }
    const std::int64_t skipped = r.read_ahead ? 5 : 0;
    char first[5];
    if (r.read_ahead) {
      ASSERT_TRUE(f.source.get_bytes(first, 5));
    }
    stream_test::fake_os fake;
    stream_test::copies_refused = false;
    stream_test::copies.most = 1000;
    const std::uint64_t written_before = f.dest.written;
    ASSERT_TRUE(r.count < 0 ? f.dest.copy_all(f.source) : f.dest.copy_count(f.source, r.count, r.read_limit));
    EXPECT_EQ(f.dest.status, 0);
    EXPECT_EQ(f.source.position, skipped + r.expected_bytes);
    EXPECT_EQ(f.dest.written - written_before, static_cast<std::uint64_t>(r.expected_bytes) + head.size());
    EXPECT_EQ(f.dest.write_buffered, r.dest_pending ? 1u : 0u);
    EXPECT_GE(stream_test::copies.calls, 1);
    EXPECT_EQ(stream_test::armed_during_copy, &f.dest);
    EXPECT_EQ(stream_test::reads.calls, 0) << "the bytes went through the area";
    const std::string expected =
        head + data.substr(static_cast<std::size_t>(skipped), static_cast<std::size_t>(r.expected_bytes));
    if (r.to_socket) {
      EXPECT_TRUE(f.dest.close(false));
      EXPECT_EQ(pair.receive_all(), expected);
    } else {
      EXPECT_EQ(f.copied(), expected);
    }
  }
}

// Where the system refuses the two handles, at the first call or after some bytes, the buffered loop
// goes on from where the copy stood; a failed call is a failed copy with what moved counted.
TEST(BrolStreamCopy, InsideTheSystemRefusedOrFailing) {
  const std::string data = stream_test::sample_text(30000, 22);
  for (const int refuse_at : {1, 3}) {
    files f(data, 0, 0);
    stream_test::fake_os fake;
    stream_test::copies_refused = false;
    stream_test::copies.most = 1000;
    stream_test::copies.fail_at = refuse_at;
    stream_test::copies.fail_errno = refuse_at == 1 ? EXDEV : EINVAL;
    ASSERT_TRUE(f.dest.copy_all(f.source));
    EXPECT_EQ(stream_test::copies.calls, refuse_at);
    EXPECT_GT(stream_test::reads.calls, 0);
    EXPECT_EQ(f.source.position, 30000);
    EXPECT_EQ(f.dest.written, 30000u);
    EXPECT_EQ(f.copied(), data);
  }
  files f(data, 0, 0);
  stream_test::fake_os fake;
  stream_test::copies_refused = false;
  stream_test::copies.most = 1000;
  stream_test::copies.fail_at = 3;
  stream_test::copies.fail_errno = ENOSPC;
  EXPECT_FALSE(f.dest.copy_all(f.source));
  EXPECT_EQ(f.dest.status, brol_stream_io_failed);
  EXPECT_EQ(f.dest.error_number, ENOSPC);
  EXPECT_EQ(f.dest.written, 2000u);
  EXPECT_EQ(f.source.position, 2000);
  EXPECT_EQ(stream_test::reads.calls, 0);
}

// The platform's own calls (on Linux copies inside the system): an append-only destination, which
// the system will not copy into in place, still receives the bytes at its end; a socket whose peer
// has gone fails the copy with an error instead of a signal that would end the program.
TEST(BrolStreamCopy, SystemCopiesIntoAppendOnlyFilesAndVanishedPeers) {
  const std::string data = stream_test::sample_text(20000, 23);
  files f(data, 0, 0);
  stream_test::write_file(f.out + ".log", "head:");
  stream log(0);
  ASSERT_TRUE(log->attach_file(brol_os.file_open_append((f.out + ".log").c_str()), "log"));
  ASSERT_TRUE(log->copy_all(f.source));
  EXPECT_EQ(log->written, 20000u);
  EXPECT_TRUE(log->close(false));
  EXPECT_EQ(read_file(f.out + ".log"), "head:" + data);

  const std::string big = stream_test::sample_text(1 << 20, 24);
  stream_test::write_file(f.in + ".big", big);
  stream source(0);
  stream sink(0);
  ASSERT_TRUE(source->open((f.in + ".big").c_str(), 0));
  stream_test::socket_pair pair;
  pair.attach(sink.s);
  pair.close_peer();
  EXPECT_FALSE(sink->copy_all(source.s));
  EXPECT_EQ(sink->status, brol_stream_io_failed);
  EXPECT_TRUE(sink->error_number == EPIPE || sink->error_number == ECONNRESET) << sink->error_number;
}

}  // namespace
