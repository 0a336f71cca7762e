// Reading from streams: bytes, lines, terminated texts, blocks and counted bytes, over files and
// sockets, under every chunking of the system reads, and with failing reads and allocations.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "brol/stream/brol_stream.h"
#include "stream_test_fakes.h"

namespace {

using stream_test::stream;

// One result of a read operation, as text, so that whole runs can be compared.
using transcript = std::vector<std::string>;

// A source of bytes: a file in a temporary folder or the peer of a loopback pair.
struct source {
  brol_test::temp_dir dir;
  stream_test::socket_pair* pair = nullptr;
  void open(brol_stream& s, const std::string& bytes, bool socket) {
    if (socket) {
      pair = new stream_test::socket_pair;
      pair->attach(s);
      pair->send(bytes);
      pair->close_peer();
    } else {
      stream_test::write_file(dir.file("in"), bytes);
      ASSERT_TRUE(s.open(dir.file("in").c_str(), 0));
    }
  }
  ~source() { delete pair; }
};

transcript by_lines(brol_stream& s, std::int64_t capacity) {
  transcript out;
  std::vector<char> line(static_cast<std::size_t>(capacity) + 8, '#');
  while (s.get_line(line.data(), capacity)) {
    out.push_back(line.data());
  }
  return out;
}

transcript by_terminators(brol_stream& s, std::int64_t capacity) {
  transcript out;
  std::vector<char> text(static_cast<std::size_t>(capacity) + 8, '#');
  while (s.get_until(text.data(), capacity, ";\r")) {
    out.push_back(text.data());
  }
  return out;
}

transcript by_blocks(brol_stream& s, std::int32_t asked) {
  transcript out;
  std::string all;
  for (;;) {
    std::int32_t count = asked;
    const unsigned char* p = s.get_block(&count);
    if (p == nullptr) {
      out.push_back("code " + std::to_string(count));
      break;
    }
    all.append(reinterpret_cast<const char*>(p), static_cast<std::size_t>(count));
  }
  out.push_back(all);
  return out;
}

transcript by_counts(brol_stream& s, std::int64_t n) {
  transcript out;
  std::string piece(static_cast<std::size_t>(n), '\0');
  while (s.get_bytes(piece.data(), n)) {
    out.push_back(piece);
  }
  out.push_back("at " + std::to_string(s.position));
  return out;
}

// The lines a reader of get_line must see: LF ends a line, CR vanishes, capacity - 2 bytes are
// consumed at most per call, and a final piece without LF counts when it stored something.
transcript expected_lines(const std::string& bytes, std::int64_t capacity) {
  transcript out;
  std::string line;
  std::int64_t consumed = 0;
  for (char c : bytes) {
    ++consumed;
    if (c == '\n') {
      out.push_back(line);
      line.clear();
      consumed = 0;
      continue;
    }
    if (c != '\r') {
      line += c;
    }
    if (consumed == capacity - 2) {
      out.push_back(line);
      line.clear();
      consumed = 0;
    }
  }
  if (!line.empty()) {
    out.push_back(line);
  }
  return out;
}

TEST(BrolStreamRead, LinesFromTheEdgeCaseList) {
  struct row {
    std::string input;
    std::int64_t capacity;
    transcript lines;
  };
  const std::string thirty = "abcdefghijklmnopqrstuvwxyz0123";
  const row rows[] = {
      {"abc\r\ndef", 100, {"abc", "def"}}, {"a\rb\n", 100, {"ab"}},
      {"\n\nx", 100, {"", "", "x"}},       {"\r", 100, {}},  // only a dropped CR: nothing stored, so no line
      {"abc", 3, {"a", "b", "c"}},         {thirty + "\n", 20, {thirty.substr(0, 18), thirty.substr(18)}},
      {"ab\r\r\rcd\n", 6, {"ab", "cd"}},  // CRs count against the limit
  };
  for (const row& r : rows) {
    SCOPED_TRACE(r.input + " / " + std::to_string(r.capacity));
    stream t(4);
    source src;
    src.open(t.s, r.input, false);
    EXPECT_EQ(by_lines(t.s, r.capacity), r.lines);
    EXPECT_EQ(t->at_end, 1u);
    char untouched[4] = "zz";
    EXPECT_FALSE(t->get_line(untouched, 4));
    EXPECT_STREQ(untouched, "zz");
  }
}

TEST(BrolStreamRead, SmallCapacitiesAndClosedStreams) {
  stream t;
  char line[4] = "zzz";
  EXPECT_TRUE(t->get_line(line, 2));  // empty text, nothing read
  EXPECT_STREQ(line, "");
  line[0] = 'z';
  EXPECT_TRUE(t->get_line(line, 1));  // no room at all: nothing stored
  EXPECT_EQ(line[0], 'z');
  EXPECT_EQ(t->at_end, 0u);
  EXPECT_FALSE(t->get_line(line, 4));  // closed: at_end set
  EXPECT_EQ(t->at_end, 1u);
  std::int32_t count = 5;
  EXPECT_EQ(t->get_block(&count), nullptr);
  EXPECT_EQ(count, brol_stream_not_open);
  EXPECT_EQ(t->get_block(nullptr), nullptr);
}

TEST(BrolStreamRead, UntilTerminators) {
  stream t(8);
  source src;
  src.open(t.s, "ab\n;c\rd;;e\r\nf", false);
  char text[16];
  // LF has no meaning of its own here; CR ends the text when it is a terminator.
  EXPECT_EQ(by_terminators(t.s, 16), (transcript{"ab\n", "c", "d", "", "e", "\nf"}));
  stream u(8);
  source src2;
  src2.open(u.s, "a\rb;c", false);
  ASSERT_TRUE(u->get_until(text, 16, ";"));
  EXPECT_STREQ(text, "ab");  // CR dropped when not a terminator
}

TEST(BrolStreamRead, BlocksGrowTheBufferToTheRequest) {
  stream t(4);
  source src;
  src.open(t.s, "0123456789", false);
  std::int32_t count = 0;
  EXPECT_EQ(t->get_block(&count), nullptr);
  EXPECT_EQ(count, brol_stream_not_open);
  count = 3;
  const unsigned char* p = t->get_block(&count);
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(p), 3), "012");
  EXPECT_EQ(t->fill, 3);  // one read asks for the count wanted, not for the buffer's size
  count = 8;
  p = t->get_block(&count);
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(t->buffer_size, 8);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(p), static_cast<std::size_t>(count)), "3456789");
  EXPECT_EQ(t->position, 10);
  EXPECT_EQ(t->get_block(&count), nullptr);
  EXPECT_EQ(count, brol_stream_end_of_data);
}

TEST(BrolStreamRead, CountedBytesAndSkipping) {
  stream t(4);
  source src;
  src.open(t.s, "0123456789", false);
  char piece[8] = {};
  EXPECT_TRUE(t->get_bytes(piece, 3));
  EXPECT_STREQ(piece, "012");
  EXPECT_TRUE(t->get_bytes(nullptr, 4));  // skips 3456
  EXPECT_EQ(t->get_byte(), '7');
  std::memset(piece, 0, sizeof piece);
  EXPECT_FALSE(t->get_bytes(piece, 5));  // only two left: stored, then false
  EXPECT_STREQ(piece, "89");
  EXPECT_FALSE(t->get_bytes(piece, 1));

  stream s(4);
  source peer;
  peer.open(s.s, "abc", true);
  EXPECT_FALSE(s->get_bytes(nullptr, 1));  // a socket cannot skip
  EXPECT_TRUE(s->get_bytes(nullptr, 0));
  EXPECT_EQ(s->get_byte(), 'a');
}

// Every read operation gives the same results whatever counts the system reads return, on files
// and on sockets, for buffers smaller and larger than the lines.
TEST(BrolStreamRead, ResultsDoNotDependOnChunking) {
  const std::string text = stream_test::sample_text(3000, 7);
  const std::function<transcript(brol_stream&)> readers[] = {
      [](brol_stream& s) { return by_lines(s, 40); },
      [](brol_stream& s) { return by_lines(s, 3); },
      [](brol_stream& s) { return by_terminators(s, 25); },
      [](brol_stream& s) { return by_blocks(s, 7); },
      [](brol_stream& s) { return by_blocks(s, 100); },
      [](brol_stream& s) { return by_counts(s, 13); },
      [](brol_stream& s) {
        transcript out{std::string()};
        for (std::uint16_t c; (c = s.get_byte()) <= 255;) {
          out[0] += static_cast<char>(c);
        }
        return out;
      },
  };
  for (bool socket : {false, true}) {
    for (std::int64_t size : {1, 16, 4096}) {
      for (std::size_t r = 0; r < std::size(readers); ++r) {
        SCOPED_TRACE(std::to_string(socket) + " " + std::to_string(size) + " reader " + std::to_string(r));
        transcript plain, chunked;
        {
          stream t(size);
          source src;
          src.open(t.s, text, socket);
          plain = readers[r](t.s);
        }
        {
          stream_test::fake_os fake;
          stream_test::reads.random = true;
          stream t(size);
          source src;
          src.open(t.s, text, socket);
          chunked = readers[r](t.s);
        }
        EXPECT_EQ(plain, chunked);
        if (r == 0) {
          EXPECT_EQ(plain, expected_lines(text, 40));
        }
        if (r == 6) {
          EXPECT_EQ(plain[0], text);
        }
      }
    }
  }
}

TEST(BrolStreamRead, FailingReadsAndZeroReads) {
  source src;
  stream t(4);
  src.open(t.s, "abcdefgh", false);
  stream_test::fake_os fake;
  stream_test::reads.fail_at = 2;
  stream_test::reads.fail_errno = EIO;
  char line[16];
  // The first read fills abcd; the second fails: the text so far is kept, at_end is set.
  EXPECT_TRUE(t->get_line(line, 16));
  EXPECT_STREQ(line, "abcd");
  EXPECT_EQ(t->status, brol_stream_io_failed);
  EXPECT_EQ(t->error_number, EIO);
  EXPECT_EQ(t->at_end, 1u);

  stream u(4);
  source src2;
  src2.open(u.s, "abcdefgh", false);
  stream_test::reads = stream_test::io_plan{};
  stream_test::reads.fail_at = 1;
  stream_test::reads.fail_errno = EACCES;
  EXPECT_EQ(u->get_byte(), brol_stream_io_failed);
  EXPECT_EQ(u->error_number, EACCES);
  EXPECT_EQ(u->fill, 0);
  EXPECT_EQ(u->get_byte(), 'a');  // not sticky: the next read may succeed
  stream_test::reads.zero_at = 3;
  EXPECT_EQ(u->get_byte(), 'b');
  EXPECT_EQ(u->get_byte(), 'c');
  EXPECT_EQ(u->get_byte(), 'd');
  EXPECT_EQ(u->get_byte(), brol_stream_end_of_data);  // a read of 0 is the end, sticky
  EXPECT_EQ(u->status, brol_stream_io_failed);        // untouched by the end
  EXPECT_EQ(u->get_byte(), brol_stream_end_of_data);
  EXPECT_EQ(stream_test::reads.calls, 3);
}

TEST(BrolStreamRead, NoMemoryForTheBuffer) {
  source src;
  stream t(4);
  src.open(t.s, "abc", false);
  {
    brol_test::alloc_failure failing(1);
    EXPECT_EQ(t->get_byte(), brol_stream_no_memory);
  }
  EXPECT_EQ(t->status, brol_stream_no_memory);
  EXPECT_EQ(t->buffer, nullptr);
  EXPECT_EQ(t->position, 0);
  EXPECT_EQ(t->get_byte(), 'a');
  // A wanted size takes effect when the buffer is next empty.
  ASSERT_TRUE(t->set_buffer_size(2));
  EXPECT_EQ(t->buffer_size, 4);
  EXPECT_EQ(t->get_byte(), 'b');
  EXPECT_EQ(t->get_byte(), 'c');
  EXPECT_EQ(t->get_byte(), brol_stream_end_of_data);
  EXPECT_EQ(t->buffer_size, 2);
}

TEST(BrolStreamRead, ReadingEndsBufferedWriting) {
  brol_test::temp_dir dir;
  stream t(8);
  ASSERT_TRUE(t->open(dir.file("rw").c_str(), 0x302));
  ASSERT_TRUE(t->enable_write_buffer());
  ASSERT_TRUE(t->write_text("abcdef"));
  EXPECT_EQ(t->get_byte(), brol_stream_end_of_data);  // pending bytes went out first
  EXPECT_EQ(t->write_buffered, 0u);
  EXPECT_EQ(t->written, 6u);
  t->rewind();
  EXPECT_EQ(t->get_byte(), 'a');
}

}  // namespace
