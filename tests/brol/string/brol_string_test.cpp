// brol_string: memory rules, every operation's texts and bounds, own-text arguments, allocation
// failure at every point.
#include "brol/string/brol_string.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <limits>
#include <string>

#include "brol_test_support.h"

namespace {

using str = brol_test::owned_string;

constexpr std::int64_t k_max = std::numeric_limits<std::int64_t>::max();

TEST(BrolString, FreshStringIsEmpty) {
  str s;
  EXPECT_EQ(s.length(), 0);
  EXPECT_TRUE(s.is_empty());
  EXPECT_STREQ(s.c_str(), "");
  EXPECT_STREQ(brol_string::c_str(nullptr), "");
  EXPECT_TRUE(s.equals(static_cast<const char*>(nullptr)));
  EXPECT_TRUE(s.equals(""));
  EXPECT_FALSE(s.equals("a"));
  EXPECT_EQ(s.count_char('a'), 0);
  EXPECT_EQ(s.error, 0);
}

TEST(BrolString, BlockSizesAndReservations) {
  EXPECT_EQ(brol_string::block_size(0), 64);
  EXPECT_EQ(brol_string::block_size(63), 64);
  EXPECT_EQ(brol_string::block_size(64), 128);
  EXPECT_EQ(brol_string::block_size(-1), 0);
  EXPECT_EQ(brol_string::block_size(k_max - 10), 0);
  str a;
  ASSERT_TRUE(a.reserve(62));
  EXPECT_EQ(a.capacity, 64);
  str b;
  ASSERT_TRUE(b.reserve(63));
  EXPECT_EQ(b.capacity, 128);
  b.assign("keep");
  ASSERT_TRUE(b.reserve(200));
  EXPECT_STREQ(b.c_str(), "keep");
  EXPECT_GE(b.capacity, 202);
  // Sizes that cannot be had fail like a failed allocation and keep the text.
  EXPECT_FALSE(b.reserve(-1));
  EXPECT_FALSE(b.reserve(k_max));
  EXPECT_FALSE(b.reserve(k_max - 1));
  EXPECT_STREQ(b.c_str(), "keep");
  EXPECT_EQ(b.error, 1);
  str c("x");
  EXPECT_FALSE(c.reserve_discard(-5));
  EXPECT_EQ(c.text, nullptr);
  EXPECT_EQ(c.capacity, 0);
  // Capacity never shrinks.
  str d;
  d.assign(std::string(300, 'a').c_str());
  const std::int64_t cap = d.capacity;
  d.assign("short");
  d.erase(0, 2);
  d.trim();
  EXPECT_EQ(d.capacity, cap);
}

TEST(BrolString, BufferAccess) {
  EXPECT_STREQ(brol_string::buffer(nullptr, 10), "");
  str s;
  EXPECT_STREQ(brol_string::buffer(&s, 0), "");
  EXPECT_EQ(s.text, nullptr);
  char* p = brol_string::buffer(&s, 10);
  ASSERT_NE(p, nullptr);
  std::snprintf(p, 11, "%s", "0123456789");
  EXPECT_STREQ(s.c_str(), "0123456789");
  EXPECT_EQ(brol_string::buffer(&s, -1), nullptr);
  {
    str t;
    brol_test::alloc_failure failing(1);
    EXPECT_EQ(brol_string::buffer(&t, 5), nullptr);
    EXPECT_EQ(t.error, 1);
  }
  char* at = s.buffer_at(40);
  ASSERT_NE(at, nullptr);
  EXPECT_EQ(at, s.text + 40);
  EXPECT_GE(s.capacity, 43);
  EXPECT_EQ(s.buffer_at(-1), nullptr);
  EXPECT_EQ(s.buffer_at(k_max), nullptr);
}

TEST(BrolString, AssigningAndCopying) {
  str s("hello world");
  s.assign(s.c_str() + 6);
  EXPECT_STREQ(s.c_str(), "world");
  s.assign(s.c_str());
  EXPECT_STREQ(s.c_str(), "world");
  s.assign(nullptr);
  EXPECT_STREQ(s.c_str(), "");
  EXPECT_NE(s.text, nullptr);  // the buffer is kept

  str big;
  big.reserve(500);
  big.assign("abc");
  str copy;
  copy.assign_copy(big);
  EXPECT_EQ(copy.capacity, big.capacity);  // exactly the other's size
  EXPECT_STREQ(copy.c_str(), "abc");
  copy.assign_copy(copy);
  EXPECT_STREQ(copy.c_str(), "abc");
  str none;
  copy.assign_copy(none);
  EXPECT_STREQ(copy.c_str(), "");

  s.assign_char('x');
  EXPECT_STREQ(s.c_str(), "x");
  s.assign_char('\0');
  EXPECT_STREQ(s.c_str(), "");
}

TEST(BrolString, AssignSub) {
  str s;
  ASSERT_TRUE(s.assign_sub("abcdef", 2, 3));
  EXPECT_STREQ(s.c_str(), "cde");
  ASSERT_TRUE(s.assign_sub("abc", 1, 10));  // stops at the source's NUL, zero-filled
  EXPECT_STREQ(s.c_str(), "bc");
  for (int i = 2; i <= 10; ++i) EXPECT_EQ(s.text[i], '\0');
  ASSERT_TRUE(s.assign_sub(nullptr, 0, 4));
  EXPECT_STREQ(s.c_str(), "");
  char bounded[4] = {'a', 'b', '\0', 'Z'};  // nothing after the NUL may be read
  ASSERT_TRUE(s.assign_sub(bounded, 3, 2));
  EXPECT_STREQ(s.c_str(), "");
  EXPECT_FALSE(s.assign_sub("abc", -1, 2));
  EXPECT_FALSE(s.assign_sub("abc", 0, -2));
  s.assign("0123456789");
  ASSERT_TRUE(s.assign_sub(s.c_str(), 3, 4));
  EXPECT_STREQ(s.c_str(), "3456");
  s.assign("abc");
  ASSERT_TRUE(s.assign_sub(s.c_str(), 1, 200));  // grows while reading its own text
  EXPECT_STREQ(s.c_str(), "bc");
}

TEST(BrolString, MovingAndReleasing) {
  str a("moved");
  a.error = 1;
  str b;
  b.init_move(a);
  EXPECT_STREQ(b.c_str(), "moved");
  EXPECT_EQ(b.error, 1);
  EXPECT_EQ(a.text, nullptr);
  EXPECT_EQ(a.capacity, 0);
  b.move_from(b);
  EXPECT_STREQ(b.c_str(), "moved");
  str c("old");
  c.move_from(b);
  EXPECT_STREQ(c.c_str(), "moved");
  c.destroy();
  c.destroy();
  EXPECT_EQ(c.text, nullptr);
  EXPECT_EQ(c.capacity, 0);
  EXPECT_EQ(c.error, 0);
}

TEST(BrolString, Appending) {
  str s;
  s.append("ab").append(nullptr).append("").append_char('c').append_char('\0');
  EXPECT_STREQ(s.c_str(), "abc");
  EXPECT_TRUE(s.append_bytes("defgh", 2));
  EXPECT_TRUE(s.append_bytes("x\0yz", 4));
  EXPECT_TRUE(s.append_bytes("ignored", 0));
  EXPECT_TRUE(s.append_bytes("ignored", -3));
  EXPECT_TRUE(s.append_bytes(nullptr, 3));
  EXPECT_STREQ(s.c_str(), "abcdex");
  s.append(s.c_str());
  EXPECT_STREQ(s.c_str(), "abcdexabcdex");
  s.append_string(s);
  EXPECT_STREQ(s.c_str(), "abcdexabcdexabcdexabcdex");
  s.assign(std::string(63, 'q').c_str());  // appending itself across a block boundary
  s.append(s.c_str() + 60);
  EXPECT_EQ(std::string(s.c_str()), std::string(63, 'q') + "qqq");
  EXPECT_TRUE(s.append_bytes(s.c_str(), 2));
  EXPECT_EQ(s.length(), 68);

  str chars;  // character by character, reallocating only at block boundaries
  std::int64_t grows = 0;
  std::int64_t last = 0;
  for (int i = 0; i < 200; ++i) {
    chars.append_char('z');
    grows += chars.capacity != last;
    last = chars.capacity;
  }
  EXPECT_EQ(chars.length(), 200);
  EXPECT_EQ(grows, 4);
}

TEST(BrolString, InsertAndErase) {
  str s("abc");
  EXPECT_TRUE(s.insert(3, "XY"));
  EXPECT_STREQ(s.c_str(), "abcXY");
  EXPECT_FALSE(s.insert(6, "Z"));
  EXPECT_FALSE(s.insert(-1, "Z"));
  EXPECT_FALSE(s.insert(0, ""));
  EXPECT_FALSE(s.insert(0, nullptr));
  EXPECT_TRUE(s.insert(0, ">"));
  EXPECT_STREQ(s.c_str(), ">abcXY");
  EXPECT_TRUE(s.insert_bytes(99, "12345", 2));
  EXPECT_STREQ(s.c_str(), ">abcXY12");
  EXPECT_FALSE(s.insert_bytes(-1, "1", 1));
  EXPECT_FALSE(s.insert_bytes(0, "1", -1));

  const struct {
    std::int64_t pos, n;
    bool result;
    const char* text;
  } erases[] = {{2, 100, true, "ab"}, {6, 1, false, "abcdef"}, {1, -1, true, "a"}, {0, 6, true, ""},
                {1, 2, true, "adef"}, {-1, 1, false, "abcdef"}, {5, 1, true, "abcde"}, {0, 0, true, "abcdef"}};
  for (const auto& e : erases) {
    str t("abcdef");
    EXPECT_EQ(t.erase(e.pos, e.n), e.result) << e.pos << "," << e.n;
    EXPECT_STREQ(t.c_str(), e.text) << e.pos << "," << e.n;
  }
  str empty;
  EXPECT_FALSE(empty.erase(0, 1));
}

// Inserting a piece of the own text inserts what the piece was before the call, wherever the piece
// lies relative to the insertion point.
TEST(BrolString, InsertPiecesOfItself) {
  const std::string base = "0123456789";
  for (std::size_t at = 0; at < base.size(); ++at) {
    for (std::size_t len = 1; at + len <= base.size(); ++len) {
      for (std::size_t pos = 0; pos <= base.size(); ++pos) {
        str s(base.c_str());
        ASSERT_TRUE(s.insert_bytes(static_cast<std::int64_t>(pos), s.c_str() + at, static_cast<std::int64_t>(len)));
        std::string expected = base;
        expected.insert(pos, base.substr(at, len));
        ASSERT_EQ(std::string(s.c_str()), expected) << at << " " << len << " " << pos;
      }
    }
  }
  str grow(std::string(60, 'a').c_str());
  grow.append("bcd");
  ASSERT_TRUE(grow.insert(1, grow.c_str() + 58));  // needs a larger buffer
  EXPECT_EQ(std::string(grow.c_str()), "a" + std::string("aabcd") + std::string(59, 'a') + "bcd");
}

TEST(BrolString, Trim) {
  const struct {
    const char* in;
    const char* out;
  } cases[] = {{"  a b \t\r\n", "a b"}, {"   ", ""}, {"x", "x"}, {"\n\nx", "x"}, {"x\t", "x"}, {"\xA0x\xA0", "\xA0x\xA0"}};
  for (const auto& c : cases) {
    str s(c.in);
    EXPECT_TRUE(s.trim());
    EXPECT_STREQ(s.c_str(), c.out) << c.in;
  }
  str empty;
  EXPECT_FALSE(empty.trim());
}

TEST(BrolString, Comparisons) {
  str s("Hello");
  str same("Hello");
  str none;
  str blank("");
  EXPECT_TRUE(s.equals(same));
  EXPECT_FALSE(s.equals(none));
  EXPECT_TRUE(none.equals(blank));
  EXPECT_TRUE(blank.equals(static_cast<const char*>(nullptr)));
  EXPECT_TRUE(s.equals_n("Help", 3));
  EXPECT_FALSE(s.equals_n("Help", 4));
  EXPECT_TRUE(s.equals_nocase("hELLO"));
  EXPECT_FALSE(s.equals_nocase("hELL"));
  EXPECT_TRUE(s.equals_n_nocase("HEL!", 3));
  EXPECT_FALSE(s.equals_nocase("H\xC9LLO"));  // only A to Z fold
  str umlaut("\xFC");
  EXPECT_FALSE(umlaut.equals_nocase("\xDC"));
  EXPECT_EQ(str("a:b:c").count_char(':'), 2);
}

TEST(BrolString, Fields) {
  const struct {
    const char* text;
    std::int16_t n;
    bool result;
    const char* field;
  } cases[] = {
      {"a:b:c", 0, true, "a"},  {"a:b:c", 1, true, "b"},  {"a:b:c", 2, true, "c"},   {"a:b:c", 3, false, "old"},
      {"a:b:c", -1, true, "c"}, {"a:b:c", -3, true, "a"}, {"a:b:c", -4, false, "old"}, {"a:b:", 2, true, ""},
      {"a:b:", -1, true, ""},   {"a::c", 1, true, ""},    {":a", -2, true, ""},       {":a", -1, true, "a"},
      {"abc", 0, true, "abc"},  {"abc", -1, true, "abc"}, {"abc", -2, false, "old"},  {"", 0, false, "old"},
  };
  for (const auto& c : cases) {
    str s("old");
    EXPECT_EQ(s.field(c.text, c.n, ':'), c.result) << c.text << " " << c.n;
    EXPECT_STREQ(s.c_str(), c.field) << c.text << " " << c.n;
  }
  str own("key=value=more");
  EXPECT_TRUE(own.field(own.c_str(), 1, '='));
  EXPECT_STREQ(own.c_str(), "value");
}

TEST(BrolString, FormattedText) {
  str s;
  ASSERT_TRUE(s.append_format(brol_fmt_int, 4, 302, brol_fmt_end));
  EXPECT_STREQ(s.c_str(), "302");
  ASSERT_TRUE(s.append_format(" ", brol_fmt_right, 100, "x", brol_fmt_end));
  EXPECT_EQ(s.length(), 3 + 1 + 100);
  EXPECT_EQ(s.c_str()[103], 'x');
  // A literal taken from the own text stays readable while the buffer grows.
  str own("abcdefghijklmnopqrstuvwxyz");
  ASSERT_TRUE(own.append_format(own.c_str(), own.c_str(), own.c_str(), brol_fmt_end));
  std::string four;
  for (int i = 0; i < 4; ++i) four += "abcdefghijklmnopqrstuvwxyz";
  EXPECT_EQ(std::string(own.c_str()), four);

  str p;
  ASSERT_TRUE(p.append_printf("%s-%05d", "id", 42));
  EXPECT_STREQ(p.c_str(), "id-00042");
  const std::string long_text(1000, 'L');
  ASSERT_TRUE(p.append_printf("[%s]", long_text.c_str()));
  EXPECT_EQ(p.length(), 8 + 1002);
  EXPECT_FALSE(p.append_printf(nullptr));

  str ptr;
  int object = 0;
  ptr.assign_pointer(&object);
  EXPECT_EQ(std::string(ptr.c_str()), std::to_string(reinterpret_cast<std::intptr_t>(&object)));
  ptr.append_pointer(nullptr);
  EXPECT_EQ(std::string(ptr.c_str()), std::to_string(reinterpret_cast<std::intptr_t>(&object)) + "0");
}

// Every allocation point of the growing operations: the result reports the failure, error is 1,
// and the text is as the operation promises (kept, or cleared for the discarding ones).
TEST(BrolString, AllocationFailureAtEveryPoint) {
  struct op {
    const char* name;
    bool keeps;  // the text survives the failure
    std::function<bool(brol_string&)> run;
  };
  const std::string long_text(150, 'y');
  const op ops[] = {
      {"reserve", true, [](brol_string& s) { return s.reserve(500); }},
      {"append", true, [&](brol_string& s) { return s.append(long_text.c_str()).error == 0; }},
      {"append_char", true, [](brol_string& s) {
         for (int i = 0; i < 100; ++i) s.append_char('c');
         return s.error == 0;
       }},
      {"append_bytes", true, [&](brol_string& s) { return s.append_bytes(long_text.c_str(), 120); }},
      {"insert", true, [&](brol_string& s) { return s.insert(1, long_text.c_str()); }},
      {"append_format", true, [](brol_string& s) { return s.append_format(brol_fmt_right, 300, "x", brol_fmt_end); }},
      {"append_printf", true, [](brol_string& s) { return s.append_printf("%300d", 7); }},
      {"append_pointer", true, [](brol_string& s) { s.append(std::string(50, 'p').c_str()); return s.append_pointer(&s).error == 0; }},
      {"assign", false, [&](brol_string& s) { return s.assign(long_text.c_str()).error == 0; }},
      {"assign_sub", false, [&](brol_string& s) { return s.assign_sub(long_text.c_str(), 0, 100); }},
      {"field", false, [&](brol_string& s) { return s.field((long_text + ":b").c_str(), 0, ':'); }},
      {"allocate", false, [](brol_string& s) { return s.allocate(4096); }},
  };
  for (const op& o : ops) {
    SCOPED_TRACE(o.name);
    str s;
    bool result = true;
    const std::int64_t points = brol_test::for_each_allocation_failure(
        [&] {
          s.destroy();
          s.init_from("start");
        },
        [&] { result = o.run(s); },
        [&](std::int64_t n) {
          SCOPED_TRACE(n);
          EXPECT_FALSE(result);
          EXPECT_EQ(s.error, 1);
          if (o.keeps) {
            EXPECT_EQ(std::string(s.c_str()).substr(0, 5), "start");
          } else {
            EXPECT_EQ(s.text, nullptr);
            EXPECT_EQ(s.capacity, 0);
          }
        });
    EXPECT_GE(points, 1);
  }
  // A string without a buffer that cannot get one stays without one.
  str fresh;
  {
    brol_test::alloc_failure failing(1);
    EXPECT_FALSE(fresh.append_format(brol_fmt_int, 4, 1, brol_fmt_end));
  }
  EXPECT_EQ(fresh.text, nullptr);
  EXPECT_EQ(fresh.error, 1);
}

}  // namespace
