// brol_string from streams and the clock: read_until and read_line against the byte-at-a-time rule
// under every chunking of the system reads, what stays in the stream, read_bytes, append_date, and
// allocation failures.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "../stream/stream_test_fakes.h"
#include "brol/stream/brol_stream.h"
#include "brol/string/brol_string.h"
#include "brol/text/brol_gentext.h"
#include "brol_test_support.h"

namespace {

using stream_test::stream;

using str = brol_test::owned_string;

// One call of read_until: its result and what it appended.
struct step {
  std::int64_t result;
  std::string text;
  bool operator==(const step&) const = default;
};

// The rule read one byte at a time from data at *p: a terminator gives 1, a NUL or the end the
// number of bytes appended.
step reference_until(const std::string& data, std::size_t* p, const std::string& terminators) {
  step out{0, ""};
  while (*p < data.size()) {
    const char c = data[(*p)++];
    if (c == '\0') break;
    if (terminators.find(c) != std::string::npos) return {1, out.text};
    out.text += c;
  }
  out.result = static_cast<std::int64_t>(out.text.size());
  return out;
}

// A file in a temporary folder, opened on a stream.
struct file_source {
  brol_test::temp_dir dir;
  void open(brol_stream& s, const std::string& bytes) {
    stream_test::write_file(dir.file("in"), bytes);
    ASSERT_TRUE(s.open(dir.file("in").c_str(), 0));
  }
};

// Every call of read_until until the data is used up, each on a string that starts as "pre", with
// the stream's position checked against the reference after every call.
std::vector<step> read_all(brol_stream& s, const std::string& data, const char* terminators) {
  std::vector<step> steps;
  std::size_t p = 0;
  do {
    reference_until(data, &p, terminators != nullptr ? terminators : "");
    str t("pre");
    const std::int64_t result = t.read_until(s, terminators);
    EXPECT_EQ(t.s().substr(0, 3), "pre");
    steps.push_back({result, t.s().substr(3)});
    EXPECT_EQ(s.position, static_cast<std::int64_t>(p));
  } while (steps.back().result != 0 || s.at_end == 0);
  return steps;
}

std::vector<step> reference_all(const std::string& data, const char* terminators) {
  std::vector<step> steps;
  std::size_t p = 0;
  do {
    steps.push_back(reference_until(data, &p, terminators != nullptr ? terminators : ""));
  } while (steps.back().result != 0 || p < data.size());
  return steps;
}

std::string sample(std::size_t size, unsigned seed) {
  std::string text = stream_test::sample_text(size, seed);
  for (std::size_t i = 5; i < text.size(); i += 97) text[i] = '\0';
  text[0] = '\0';
  return text + "no line end";
}

TEST(BrolStringStream, LinesFromTheEdgeCaseList) {
  stream t(8);
  file_source src;
  src.open(t.s, "abc\r\nde\n\nlast");
  str s("x:");
  EXPECT_EQ(s.read_line(t.s), 1);
  EXPECT_EQ(s.s(), "x:abc\r");  // the CR stays, the LF goes
  s.assign("");
  EXPECT_EQ(s.read_line(t.s), 1);
  EXPECT_EQ(s.s(), "de");
  EXPECT_EQ(s.read_line(t.s), 1);  // an empty line still gives 1
  EXPECT_EQ(s.s(), "de");
  s.assign("");
  EXPECT_EQ(s.read_line(t.s), 4);  // no final line end: the count of the bytes
  EXPECT_EQ(s.s(), "last");
  EXPECT_EQ(s.read_line(t.s), 0);  // at the end nothing changes
  EXPECT_EQ(s.s(), "last");
  str none;
  EXPECT_EQ(none.read_line(t.s), 0);
  EXPECT_EQ(none.text, nullptr);
}

TEST(BrolStringStream, NulBytesAndTerminatorSets) {
  stream t(64);
  file_source src;
  src.open(t.s, std::string("ab\0cd;ef\rgh", 11));
  str s;
  EXPECT_EQ(s.read_until(t.s, ";\r"), 2);  // a NUL ends with the count; it is consumed
  EXPECT_EQ(s.s(), "ab");
  EXPECT_EQ(s.read_until(t.s, ";\r"), 1);
  EXPECT_EQ(s.s(), "abcd");
  EXPECT_EQ(s.read_until(t.s, "\r;"), 1);
  EXPECT_EQ(s.s(), "abcdef");
  EXPECT_EQ(s.read_until(t.s, nullptr), 2);  // no terminator: up to the end
  EXPECT_EQ(s.s(), "abcdefgh");
}

TEST(BrolStringStream, ClosedAndFailingStreams) {
  stream closed(8);
  str s("keep");
  EXPECT_EQ(s.read_line(closed.s), 0);
  EXPECT_EQ(s.s(), "keep");
  EXPECT_EQ(closed->status, brol_stream_ok);  // a closed stream answers 516 without storing it

  stream t(4);
  file_source src;
  src.open(t.s, "abcdefgh\n");
  stream_test::fake_os fake;
  stream_test::reads.fail_at = 2;
  stream_test::reads.fail_errno = EIO;
  EXPECT_EQ(s.read_line(t.s), 4);  // the failed read ends the text with what was appended
  EXPECT_EQ(s.s(), "keepabcd");
  EXPECT_EQ(t->status, brol_stream_io_failed);
  EXPECT_EQ(s.read_line(t.s), 1);  // the stream may go on
  EXPECT_EQ(s.s(), "keepabcdefgh");
}

// The same steps as one byte at a time, whatever the buffer size and the system reads deliver.
TEST(BrolStringStream, RunsMatchTheByteRuleUnderShortReads) {
  const std::string data = sample(3000, 11);
  for (const char* terminators : {"\n", ";\r", "\n\n", "", static_cast<const char*>(nullptr)}) {
    const std::vector<step> expected = reference_all(data, terminators);
    for (std::int64_t size : {1, 2, 7, 64, 8192}) {
      for (bool random : {false, true}) {
        SCOPED_TRACE(std::to_string(size) + (random ? " random " : " plain ") + (terminators ? terminators : "null"));
        stream_test::fake_os fake;
        stream_test::reads.random = random;
        stream t(size);
        file_source src;
        src.open(t.s, data);
        EXPECT_EQ(read_all(t.s, data, terminators), expected);
      }
    }
  }
}

TEST(BrolStringStream, LongLinesSpanManyRefills) {
  std::string line(200000, 'x');
  for (std::size_t i = 0; i < line.size(); i += 7) line[i] = static_cast<char>('a' + i % 26);
  stream t(64);
  file_source src;
  src.open(t.s, line + "\n" + line);
  str s;
  EXPECT_EQ(s.read_line(t.s), 1);
  EXPECT_EQ(s.s(), line);
  s.assign("");
  EXPECT_EQ(s.read_line(t.s), static_cast<std::int64_t>(line.size()));
  EXPECT_EQ(s.s(), line);
  EXPECT_EQ(s.error, 0);
}

// A failed allocation at any point loses no byte: what was appended plus what the stream still
// holds is the whole text.
TEST(BrolStringStream, AllocationFailuresLoseNothing) {
  const std::string line(300, 'q');
  const std::string data = line + "\nrest";
  stream t(32);
  file_source src;
  str s;
  std::int64_t result = -1;
  const std::int64_t points = brol_test::for_each_allocation_failure(
      [&] {
        t->destroy();
        t->init(32);
        src.open(t.s, data);
        s.destroy();
        s.init_from("pre");
      },
      [&] { result = s.read_line(t.s); },
      [&](std::int64_t) {
        const std::string got = s.s();
        ASSERT_EQ(got.substr(0, 3), "pre");
        // A failed first try of a generous growth may still leave room enough: then the line is
        // whole and the string shows no error.
        const std::string consumed = got.substr(3) + (result == 1 ? "\n" : "");
        EXPECT_EQ(s.error, result == 1 || t->status == brol_stream_no_memory ? 0 : 1);
        EXPECT_TRUE(result == 0 || result == 1) << result;
        std::vector<char> rest(data.size() + 2, '\0');
        t->get_bytes(rest.data(), static_cast<std::int64_t>(data.size() - consumed.size()));
        EXPECT_EQ(consumed + rest.data(), data);
      });
  EXPECT_GE(points, 3);  // the stream's buffer and at least two growths of the string
}

TEST(BrolStringStream, ReadBytes) {
  stream t(4);
  file_source src;
  src.open(t.s, std::string("0123456789\0ab", 13));
  str s("a longer old text");
  EXPECT_TRUE(s.read_bytes(t.s, 6));
  EXPECT_EQ(s.s(), "012345");
  EXPECT_TRUE(s.read_bytes(t.s, 0));
  EXPECT_EQ(s.s(), "");
  EXPECT_FALSE(s.read_bytes(t.s, -1));
  // A short read: the text holds exactly what was read.
  s.assign("zzzzzzzzzzzzzzzzzzzzzzz");
  EXPECT_FALSE(s.read_bytes(t.s, 20));
  EXPECT_EQ(s.s(), "6789");
  EXPECT_EQ(std::memcmp(s.text, "6789\0ab\0\0\0", 10), 0);
  EXPECT_FALSE(s.read_bytes(t.s, 1));  // at the end

  stream u(4);
  file_source src2;
  src2.open(u.s, "abc");
  str fresh;
  {
    brol_test::alloc_failure failing(1);
    EXPECT_FALSE(fresh.read_bytes(u.s, 3));
  }
  EXPECT_EQ(fresh.error, 1);
  EXPECT_EQ(fresh.text, nullptr);
  EXPECT_TRUE(fresh.read_bytes(u.s, 3));  // nothing was consumed
  EXPECT_EQ(fresh.s(), "abc");
}

TEST(BrolStringStream, AppendDate) {
  for (int kind = 1; kind <= 5; ++kind) {
    char expected[40];
    const std::int64_t n = brol_date_text(expected, sizeof expected, kind);
    str s("at ");
    ASSERT_TRUE(s.append_date(kind)) << kind;
    EXPECT_EQ(s.length(), 3 + n) << kind;
    // The clock may tick between the two calls; the forms keep their shape.
    for (std::int64_t i = 0; i < n; ++i) {
      const char a = expected[i];
      const char b = s.text[3 + i];
      EXPECT_TRUE(a == b || (a >= '0' && a <= '9' && b >= '0' && b <= '9')) << kind << " " << s.s();
    }
  }
  for (int kind : {0, 6, -1}) {
    str s("at ");
    EXPECT_FALSE(s.append_date(kind));
    EXPECT_EQ(s.s(), "at ");
  }
  str s(std::string(60, 'x').c_str());
  {
    brol_test::alloc_failure failing(1);
    EXPECT_FALSE(s.append_date(1));
  }
  EXPECT_EQ(s.s(), std::string(60, 'x'));
  EXPECT_EQ(s.error, 1);
}

}  // namespace
