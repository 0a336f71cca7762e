// Streams at the edges: printf-style texts of 16 MiB and more, as long as the C library reports them,
// and copies into a stream that holds input it has read ahead but not handed out.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <thread>

#include "brol/stream/brol_stream.h"
#include "stream_test_fakes.h"

namespace {

using stream_test::read_file;
using stream_test::stream;

// Texts around and beyond 16 MiB, formatted by the C library into a file and compared with its
// snprintf of the same arguments.
TEST(BrolStreamEdges, PrintfWritesEveryLengthTheCLibraryReports) {
  brol_test::temp_dir dir;
  const std::string path = dir.file("out");
  for (const int width : {(1 << 24) - 2, (1 << 24) - 1, 1 << 24, (1 << 24) + 1, 20 << 20}) {
    SCOPED_TRACE(width);
    std::string expected(static_cast<std::size_t>(width) + 16, '\0');
    expected.resize(static_cast<std::size_t>(std::snprintf(expected.data(), expected.size(), "<%*d>", width, 7)));
    stream t(8);
    ASSERT_TRUE(t->open(path.c_str(), brol_open_write | brol_open_create | brol_open_truncate));
    EXPECT_TRUE(t->write_printf("<%*d>", width, 7));
    EXPECT_EQ(t->status, brol_stream_ok);
    EXPECT_EQ(t->written, expected.size());
    ASSERT_TRUE(t->close(false));
    EXPECT_TRUE(read_file(path) == expected) << "the file differs from snprintf's text";
  }
}

// Receives exactly n bytes at the peer's end of pair.
std::string receive(stream_test::socket_pair& pair, std::size_t n) {
  std::string got;
  char chunk[4096];
  while (got.size() < n) {
    const std::size_t want = n - got.size() < sizeof chunk ? n - got.size() : sizeof chunk;
    const std::int32_t k = brol_platform_defaults().socket_recv(pair.peer, chunk, static_cast<std::int32_t>(want));
    if (k <= 0) {
      break;
    }
    got.append(chunk, static_cast<std::size_t>(k));
  }
  return got;
}

// A socket stream that received "A\nB\n" and gave out "A" still gives out "B" (and what follows)
// after a copy into it, whatever the source and the copy's kind: the copy takes another area.
TEST(BrolStreamEdges, ACopyKeepsTheDestinationsUnreadInput) {
  const std::string payload = stream_test::sample_text(30000, 5);
  const struct {
    const char* name;
    bool socket_source;
    bool counted;
    std::int64_t dest_buffer;
  } rows[] = {
      {"file, all", false, false, 64},        {"file, counted", false, true, 64},
      {"socket, all", true, false, 64},       {"socket, counted", true, true, 64},
      {"file, tiny buffer", false, false, 4}, {"socket, large buffer", true, false, 65536},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.name);
    brol_test::temp_dir dir;
    stream dest(r.dest_buffer);
    stream_test::socket_pair dest_pair;
    dest_pair.attach(dest.s);
    dest->set_time_limit(10000);  // a lost line fails the read instead of waiting for ever
    dest_pair.send("A\nB\n");
    char line[8];
    ASSERT_TRUE(dest->get_line(line, sizeof line));
    ASSERT_STREQ(line, "A");
    stream source(128);
    stream_test::socket_pair source_pair;
    if (r.socket_source) {
      source_pair.attach(source.s);
      source_pair.send(payload);
      source_pair.close_peer();
    } else {
      stream_test::write_file(dir.file("in"), payload);
      ASSERT_TRUE(source->open(dir.file("in").c_str(), brol_open_read));
    }
    const bool copied = r.counted ? dest->copy_count(source.s, static_cast<std::int64_t>(payload.size()), -1)
                                  : dest->copy_all(source.s);
    EXPECT_TRUE(copied);
    EXPECT_TRUE(receive(dest_pair, payload.size()) == payload) << "the peer got other bytes";
    ASSERT_TRUE(dest->get_line(line, sizeof line));
    EXPECT_STREQ(line, "B");
    dest_pair.send("C\n");
    ASSERT_TRUE(dest->get_line(line, sizeof line));
    EXPECT_STREQ(line, "C");
  }
}

// A time limit ends a socket read that waits (ETIMEDOUT, 514), fails later calls at once, leaves file
// calls alone, and can be lifted again.
TEST(BrolStreamEdges, ATimeLimitBoundsTheSocketCallsOfAStream) {
  using clock = std::chrono::steady_clock;
  stream s(64);
  stream_test::socket_pair pair;
  pair.attach(s.s);
  ASSERT_TRUE(s->set_time_limit(300));
  auto start = clock::now();
  EXPECT_GT(s->get_byte(), 255);
  EXPECT_EQ(s->status, brol_stream_io_failed);
  EXPECT_EQ(s->error_number, ETIMEDOUT);
  EXPECT_GE(clock::now() - start, std::chrono::milliseconds(250));
  EXPECT_LT(clock::now() - start, std::chrono::milliseconds(2500));
  // Past the deadline every socket call fails before it starts, reads and writes alike.
  pair.send("late");
  start = clock::now();
  EXPECT_FALSE(s->write_text("x"));
  EXPECT_EQ(s->error_number, ETIMEDOUT);
  EXPECT_GT(s->get_byte(), 255);
  EXPECT_EQ(s->error_number, ETIMEDOUT);
  EXPECT_LT(clock::now() - start, std::chrono::milliseconds(200));
  // Lifted, the stream reads what waited.
  EXPECT_TRUE(s->set_time_limit(0));
  EXPECT_EQ(s->get_byte(), 'l');
  // close ends a limit, also one that has run out: the record's next connection runs without it,
  // while a connection that replaces another without a close keeps it.
  for (const bool closed : {true, false}) {
    ASSERT_TRUE(s->set_time_limit(1));
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    if (closed) {
      ASSERT_TRUE(s->close(false));
    }
    stream_test::socket_pair next;
    next.attach(s.s);
    next.send("n");
    EXPECT_EQ(s->get_byte(), closed ? std::int64_t{'n'} : brol_stream_io_failed) << closed;
    EXPECT_EQ(s->status, closed ? brol_stream_ok : brol_stream_io_failed) << closed;
  }
  ASSERT_TRUE(s->close(false));
  // Files are never limited.
  brol_test::temp_dir dir;
  stream_test::write_file(dir.file("f"), "file");
  stream f(8);
  ASSERT_TRUE(f->set_time_limit(1));
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  ASSERT_TRUE(f->open(dir.file("f").c_str(), brol_open_read));
  EXPECT_EQ(f->get_byte(), 'f');
}

}  // namespace
