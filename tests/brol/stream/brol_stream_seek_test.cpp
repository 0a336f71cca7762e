// Positioning file streams: moves inside and outside the buffer, end, rewind, mark, writers,
// refused moves and sockets.
#include <gtest/gtest.h>

#include <string>

#include "brol/stream/brol_stream.h"
#include "stream_test_fakes.h"

namespace {

using stream_test::stream;

std::string hundred() {
  std::string s;
  for (int i = 0; i < 100; ++i) {
    s += static_cast<char>(' ' + i % 90);
  }
  return s;
}

// A 100-byte file read through a 64-byte buffer, 10 bytes consumed.
struct reader {
  brol_test::temp_dir dir;
  std::string data = hundred();
  stream t{64};
  reader() {
    stream_test::write_file(dir.file("in"), data);
    EXPECT_TRUE(t->open(dir.file("in").c_str(), 0));
    char first[10];
    EXPECT_TRUE(t->get_bytes(first, 10));
  }
  std::uint16_t byte_at(std::int64_t offset) const {
    return static_cast<unsigned char>(data[static_cast<std::size_t>(offset)]);
  }
};

TEST(BrolStreamSeek, MovesInsideTheBufferNeedNoSystemCall) {
  reader r;
  stream_test::fake_os fake;
  r.t->seek(20, 1);
  EXPECT_EQ(r.t->position, 30);
  EXPECT_EQ(stream_test::seek_calls, 0);
  EXPECT_EQ(r.t->get_byte(), r.byte_at(30));
  r.t->seek(-31, 1);  // back to the start, still buffered
  EXPECT_EQ(r.t->get_byte(), r.byte_at(0));
  EXPECT_EQ(stream_test::seek_calls, 0);
  r.t->seek(69, 1);  // to 70: beyond the 64 buffered bytes
  EXPECT_EQ(r.t->position, 70);
  EXPECT_EQ(r.t->fill, 0);
  EXPECT_EQ(r.t->get_byte(), r.byte_at(70));
}

TEST(BrolStreamSeek, AbsoluteMoveIntoTheBufferKeepsIt) {
  reader r;
  stream_test::fake_os fake;
  r.t->seek(5, 0);
  EXPECT_EQ(r.t->cursor, 5);
  EXPECT_EQ(r.t->position, 5);
  EXPECT_EQ(r.t->fill, 64);
  // The file pointer went back to where the buffered bytes end.
  EXPECT_EQ(brol_os.file_seek(r.t->file, 0, 1), 64);
  std::string rest;
  for (std::uint16_t c; (c = r.t->get_byte()) <= 255;) {
    rest += static_cast<char>(c);
  }
  EXPECT_EQ(rest, r.data.substr(5));
  r.t->seek(0, 0);  // after the end the data is readable again
  EXPECT_EQ(r.t->at_end, 0u);
  EXPECT_EQ(r.t->get_byte(), r.byte_at(0));
  r.t->seek(-10, 2);
  EXPECT_EQ(r.t->position, 90);
  EXPECT_EQ(r.t->get_byte(), r.byte_at(90));
}

TEST(BrolStreamSeek, EndRewindMarkAndSkip) {
  reader r;
  r.t->seek_end();
  EXPECT_EQ(r.t->position, 100);
  stream_test::fake_os fake;
  EXPECT_EQ(r.t->get_byte(), brol_stream_end_of_data);
  EXPECT_EQ(stream_test::reads.calls, 0);
  r.t->rewind();
  EXPECT_EQ(r.t->position, 0);
  char seven[7];
  EXPECT_TRUE(r.t->get_bytes(seven, 7));
  r.t->set_mark();
  EXPECT_TRUE(r.t->get_bytes(nullptr, 50));
  EXPECT_EQ(r.t->get_byte(), r.byte_at(57));
  r.t->reset_to_mark();
  EXPECT_EQ(r.t->get_byte(), r.byte_at(7));
}

TEST(BrolStreamSeek, RefusedMovesChangeNothing) {
  reader r;
  stream_test::fake_os fake;
  stream_test::seek_fail_at = 1;
  r.t->seek(80, 0);
  stream_test::seek_fail_at = 2;
  r.t->seek_end();
  stream_test::seek_fail_at = 3;
  r.t->rewind();
  r.t->seek(5, 7);  // no such origin
  EXPECT_EQ(r.t->position, 10);
  EXPECT_EQ(r.t->cursor, 10);
  EXPECT_EQ(r.t->fill, 64);
  EXPECT_EQ(r.t->at_end, 0u);
  EXPECT_EQ(r.t->get_byte(), r.byte_at(10));
  // When the pointer cannot go back behind the buffer, the buffer goes instead.
  stream_test::seek_fail_at = 5;
  r.t->seek(3, 0);
  EXPECT_EQ(r.t->fill, 0);
  EXPECT_EQ(r.t->get_byte(), r.byte_at(3));
}

TEST(BrolStreamSeek, WritersMoveFromTheirOwnPointer) {
  for (bool buffered : {false, true}) {
    SCOPED_TRACE(buffered);
    brol_test::temp_dir dir;
    const std::string path = dir.file("w");
    stream t(8);
    ASSERT_TRUE(t->open(path.c_str(), 0x301));
    if (buffered) {
      ASSERT_TRUE(t->enable_write_buffer());
    }
    EXPECT_TRUE(t->write_text("hello"));
    t->seek(0, 1);  // stays at the end
    EXPECT_TRUE(t->write_text(" world"));
    t->seek(-5, 1);
    EXPECT_TRUE(t->write_text("W"));
    t->rewind();
    EXPECT_TRUE(t->write_text("H"));
    t->seek_end();
    EXPECT_EQ(t->position, 11);
    // Beyond 32 bits: the offset reaches the system whole.
    const std::int64_t beyond_4gib = (std::int64_t{1} << 32) + 7;
    t->seek(beyond_4gib, 0);
    EXPECT_EQ(t->position, beyond_4gib);
    t->seek(0, 0);
    EXPECT_TRUE(t->close(false));
    EXPECT_EQ(stream_test::read_file(path), "Hello World");
  }
}

TEST(BrolStreamSeek, SocketsAndClosedStreamsDoNotMove) {
  stream t;
  stream_test::socket_pair pair;
  pair.attach(t.s);
  pair.send("abc");
  EXPECT_EQ(t->get_byte(), 'a');
  t->seek(0, 0);
  t->rewind();
  t->seek_end();
  t->reset_to_mark();
  t->set_mark();
  EXPECT_EQ(t->mark, 1);
  EXPECT_EQ(t->position, 1);
  EXPECT_EQ(t->at_end, 0u);
  EXPECT_EQ(t->get_byte(), 'b');
  stream closed;
  closed->position = 3;
  closed->seek(10, 0);
  EXPECT_EQ(closed->position, 3);
}

}  // namespace
