// brol_string character sets: UTF-8 and ISO 8859-15 against a literal reference of the rules and
// against iconv, round trips, own-text sources, allocation failures; utf8_length and check_chars.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "brol/string/brol_string.h"
#include "brol_test_support.h"

// The C library's iconv is the outside reference where the system has one; the MinGW runtime has
// none, so there the tests compare with the literal reference below only.
#if __has_include(<iconv.h>)
#include <iconv.h>
#define BROL_TEST_HAVE_ICONV 1
#endif

namespace {

using str = brol_test::owned_string;

// --- A literal reference: the rules as written, one byte position at a time -------------------

const unsigned k_places[8][2] = {{0xA4, 0x20AC}, {0xA6, 0x0160}, {0xA8, 0x0161}, {0xB4, 0x017D},
                                 {0xB8, 0x017E}, {0xBC, 0x0152}, {0xBD, 0x0153}, {0xBE, 0x0178}};

unsigned code_point_of_byte(unsigned b) {
  for (const auto& p : k_places) {
    if (p[0] == b) return p[1];
  }
  return b;
}

// The ISO 8859-15 byte of a code point, or -1.
int byte_of_code_point(unsigned cp) {
  for (const auto& p : k_places) {
    if (p[1] == cp) return static_cast<int>(p[0]);
    if (p[0] == cp) return -1;
  }
  return cp <= 0xFF ? static_cast<int>(cp) : -1;
}

std::string encode_utf8(unsigned cp) {
  std::string out;
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | cp >> 6);
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | cp >> 12);
    out += static_cast<char>(0x80 | (cp >> 6 & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | cp >> 18);
    out += static_cast<char>(0x80 | (cp >> 12 & 0x3F));
    out += static_cast<char>(0x80 | (cp >> 6 & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
  return out;
}

std::string reference_from_utf8(const std::string& in) {
  std::string out;
  for (std::size_t i = 0; i < in.size(); ++i) {
    const auto lead = static_cast<unsigned char>(in[i]);
    const int extra = lead < 0x80                   ? 0
                      : lead >= 0xC0 && lead < 0xE0 ? 1
                      : lead >= 0xE0 && lead < 0xF0 ? 2
                      : lead >= 0xF0 && lead < 0xF8 ? 3
                                                    : -1;
    if (extra < 0) continue;
    unsigned cp = extra == 0 ? lead : lead & (0x3Fu >> extra);
    bool whole = true;
    for (int k = 1; k <= extra; ++k) {
      const std::size_t at = i + static_cast<std::size_t>(k);
      whole = whole && at < in.size() && (static_cast<unsigned char>(in[at]) & 0xC0) == 0x80;
      if (whole) cp = cp << 6 | (static_cast<unsigned char>(in[at]) & 0x3Fu);
    }
    const unsigned least[4] = {0, 0x80, 0x800, 0x10000};
    if (!whole || cp < least[extra] || (cp >= 0xD800 && cp <= 0xDFFF)) continue;
    const int b = byte_of_code_point(cp);
    if (b >= 0) out += static_cast<char>(b);
  }
  return out;
}

std::string reference_to_utf8(const std::string& in) {
  std::string out;
  for (const char c : in) out += encode_utf8(code_point_of_byte(static_cast<unsigned char>(c)));
  return out;
}

#ifdef BROL_TEST_HAVE_ICONV
// One conversion with iconv; false when iconv refuses any part of the text.
bool iconv_convert(const char* to, const char* from, const std::string& in, std::string* out) {
  iconv_t cd = iconv_open(to, from);
  EXPECT_NE(cd, reinterpret_cast<iconv_t>(-1));
  std::string src = in;
  out->assign(in.size() * 4 + 4, '\0');
  char* ip = src.data();
  char* op = out->data();
  std::size_t il = src.size();
  std::size_t ol = out->size();
  const bool ok = iconv(cd, &ip, &il, &op, &ol) != static_cast<std::size_t>(-1);
  iconv_close(cd);
  out->resize(out->size() - ol);
  return ok;
}
#endif

std::string from_utf8(const std::string& in) {
  str s;
  EXPECT_TRUE(s.from_utf8(in.c_str()));
  return s.s();
}

std::string to_utf8(const std::string& in) {
  str s;
  EXPECT_TRUE(s.to_utf8(in.c_str()));
  return s.s();
}

TEST(BrolStringCharset, FromUtf8Cases) {
  const struct {
    const char* in;
    const char* out;
  } cases[] = {
      {"\xE2\x82\xAC", "\xA4"},  // euro sign
      {"\xC3\xA4", "\xE4"},      // a with diaeresis
      {"\xC2\xA4", ""},          // U+00A4 has no place
      {"\xC2\xA6\xC2\xA8\xC2\xB4\xC2\xB8\xC2\xBC\xC2\xBD\xC2\xBE", ""},
      {"\xC5\xA0\xC5\xA1\xC5\xBD\xC5\xBE\xC5\x92\xC5\x93\xC5\xB8", "\xA6\xA8\xB4\xB8\xBC\xBD\xBE"},
      {"a\x80"
       "b",
       "ab"},  // a lone continuation byte
      {"\xC3"
       "A",
       "A"},                       // a lead byte before a plain letter
      {"\xF0\x9F\x98\x80x", "x"},  // four bytes, dropped whole
      {"\xE2\x82", ""},            // cut euro sign
      {"\xE2\x82"
       "A\xAC",
       "A"},
      {"\xC0\x80x", "x"},  // overlong NUL
      {"\xC0\xAF", ""},    // overlong '/'
      {"\xC1\xBF", ""},
      {"\xE0\x80\xAF", ""},              // overlong three-byte '/'
      {"\xE0\x83\xA4", ""},              // overlong three-byte a with diaeresis
      {"\xF0\x80\x80\xAF", ""},          // overlong four-byte '/'
      {"\xF0\x82\x82\xAC", ""},          // overlong four-byte euro sign
      {"\xED\xA0\x80\xED\xBF\xBF", ""},  // surrogates
      {"\xF8\x88\x80\x80\x80z\xFF\xFE", "z"},
      {"\xC2\x80\xC3\xBF", "\x80\xFF"},
      {"plain 7-bit text, longer than a word \x7F", "plain 7-bit text, longer than a word \x7F"},
      {"0123456\xC3\xA9"
       "89abcdef\xC3\x9F",
       "0123456\xE9"
       "89abcdef\xDF"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(from_utf8(c.in), c.out) << c.in;
    EXPECT_EQ(reference_from_utf8(c.in), c.out) << c.in;
  }
}

TEST(BrolStringCharset, ToUtf8Cases) {
  EXPECT_EQ(to_utf8("\xA4"), "\xE2\x82\xAC");
  EXPECT_EQ(to_utf8("\xE4"), "\xC3\xA4");
  EXPECT_EQ(to_utf8("\x80\xFF\xBE"), "\xC2\x80\xC3\xBF\xC5\xB8");
  EXPECT_EQ(to_utf8("12345678abc"), "12345678abc");
  // Room for three bytes per byte above 0x7F and the NUL, in 64-byte blocks.
  str s;
  ASSERT_TRUE(s.to_utf8(std::string(21, '\xE4').c_str()));
  EXPECT_EQ(s.capacity, 128);
  EXPECT_EQ(s.length(), 42);
  // Long enough for the counting to sum several rounds of lanes.
  std::string latin(5003, 'a');
  std::int64_t high = 0;
  for (std::size_t i = 0; i < latin.size(); i += 3) latin[i] = '\xA4', ++high;
  ASSERT_TRUE(s.to_utf8(latin.c_str()));
  EXPECT_EQ(s.capacity, brol_string::block_size(5003 + 2 * high + 1));
  EXPECT_EQ(s.s(), reference_to_utf8(latin));
}

TEST(BrolStringCharset, NullAndEmptySourcesEmptyTheText) {
  for (const char* src : {static_cast<const char*>(nullptr), ""}) {
    str s("old");
    const std::int64_t capacity = s.capacity;
    EXPECT_TRUE(s.from_utf8(src));
    EXPECT_EQ(s.s(), "");
    s.assign("old");
    EXPECT_TRUE(s.to_utf8(src));
    EXPECT_EQ(s.s(), "");
    EXPECT_EQ(s.capacity, capacity);
    str fresh;
    EXPECT_TRUE(fresh.from_utf8(src));
    EXPECT_TRUE(fresh.to_utf8(src));
    EXPECT_EQ(fresh.text, nullptr);
  }
}

// Every byte: to UTF-8 as the table says, and back again.
TEST(BrolStringCharset, EveryByteRoundTrips) {
  std::string all;
  for (unsigned b = 1; b < 256; ++b) {
    const std::string one(1, static_cast<char>(b));
    const std::string utf8 = to_utf8(one);
    EXPECT_EQ(utf8, reference_to_utf8(one)) << b;
    EXPECT_EQ(from_utf8(utf8), one) << b;
#ifdef BROL_TEST_HAVE_ICONV
    std::string theirs;
    EXPECT_TRUE(iconv_convert("UTF-8", "ISO-8859-15", one, &theirs)) << b;
    EXPECT_EQ(utf8, theirs) << b;
#endif
    all += one;
  }
  EXPECT_EQ(from_utf8(to_utf8(all)), all);
}

// Every code point: a byte exactly for the 256 with a place (iconv agrees on which and on the byte;
// where iconv refuses a code point, the conversion drops it), and nothing for surrogates.
TEST(BrolStringCharset, EveryCodePoint) {
  int converted = 0;
  for (unsigned cp = 1; cp <= 0x10FFFF; ++cp) {
    const std::string in = encode_utf8(cp);
    const std::string ours = from_utf8(in);
    const int b = cp >= 0xD800 && cp <= 0xDFFF ? -1 : byte_of_code_point(cp);
    ASSERT_EQ(ours, b < 0 ? std::string() : std::string(1, static_cast<char>(b))) << cp;
    converted += !ours.empty();
#ifdef BROL_TEST_HAVE_ICONV
    if (cp < 0x2100 || (cp >= 0xD7F0 && cp < 0xE010) || cp % 4099 == 0) {
      std::string theirs;
      const bool ok = iconv_convert("ISO-8859-15", "UTF-8", in, &theirs);
      ASSERT_EQ(ok, !ours.empty()) << cp;
      if (ok) {
        ASSERT_EQ(theirs, ours) << cp;
      }
    }
#endif
  }
  EXPECT_EQ(converted, 255);
}

// Random byte soup (every kind of broken sequence) against the reference, and random texts of
// characters that have a place, against iconv both ways.
TEST(BrolStringCharset, RandomTexts) {
  std::mt19937 rng(7);
  const unsigned char pieces[] = {'a',  'Z',  ' ',  0x80, 0xA4, 0xAC, 0x82, 0xBF, 0xC0, 0xC2, 0xC3,
                                  0xC5, 0xDF, 0xE0, 0xE2, 0xED, 0xEF, 0xF0, 0xF4, 0xF8, 0xFF};
  for (int round = 0; round < 3000; ++round) {
    std::string soup(rng() % (round % 10 == 0 ? 700 : 40), ' ');
    for (char& c : soup) c = static_cast<char>(pieces[rng() % sizeof pieces]);
    ASSERT_EQ(from_utf8(soup), reference_from_utf8(soup)) << ::testing::PrintToString(soup);
    const std::string own = "0123456789" + to_utf8(soup) + soup;  // valid and broken sequences
    const std::size_t skip = rng() % 11;
    str t(own);
    ASSERT_TRUE(t.from_utf8(t.text + skip));
    ASSERT_EQ(t.s(), reference_from_utf8(own.substr(skip))) << ::testing::PrintToString(own) << skip;

    std::string latin(rng() % (round % 10 == 0 ? 900 : 100), ' ');
    for (char& c : latin) c = static_cast<char>(rng() % 3 == 0 ? 0x80 + rng() % 128 : 0x20 + rng() % 95);
    const std::string utf8 = to_utf8(latin);
    ASSERT_EQ(utf8, reference_to_utf8(latin));
    str u(latin);  // a source in the own text
    ASSERT_TRUE(u.to_utf8(u.text + std::min(skip, latin.size())));
    ASSERT_EQ(u.s(), reference_to_utf8(latin.substr(std::min(skip, latin.size()))));
    ASSERT_EQ(from_utf8(utf8), latin);
#ifdef BROL_TEST_HAVE_ICONV
    std::string theirs;
    ASSERT_TRUE(iconv_convert("UTF-8", "ISO-8859-15", latin, &theirs));
    ASSERT_EQ(utf8, theirs);
    ASSERT_TRUE(iconv_convert("ISO-8859-15", "UTF-8", utf8, &theirs));
    ASSERT_EQ(latin, theirs);
#endif
  }
}

// A failed allocation: false, error 1; a text from elsewhere is lost (the buffer was given up
// first), the own text stays.
TEST(BrolStringCharset, AllocationFailures) {
  const std::string latin = "\xE4" + std::string(70, 'x');
  const std::string utf8 = to_utf8(latin);
  for (const bool to : {false, true}) {
    str s("old");
    bool result = true;
    const std::int64_t points = brol_test::for_each_allocation_failure(
        [&] { s.destroy(), s.init_from("old"); },
        [&] { result = to ? s.to_utf8(latin.c_str()) : s.from_utf8(utf8.c_str()); },
        [&](std::int64_t) {
          EXPECT_FALSE(result);
          EXPECT_EQ(s.error, 1);
          EXPECT_EQ(s.text, nullptr);
          EXPECT_EQ(s.capacity, 0);
        });
    EXPECT_EQ(points, 1);
  }
  str own(latin);
  {
    brol_test::alloc_failure failing(1);
    EXPECT_FALSE(own.to_utf8(own.text + 1));
  }
  EXPECT_EQ(own.s(), latin);
  EXPECT_EQ(own.error, 1);
}

TEST(BrolStringCharset, Utf8LengthAndCheckChars) {
  str none;
  EXPECT_EQ(none.utf8_length(), 0);
  EXPECT_TRUE(none.check_chars(0x40, 0xFF));
  const struct {
    const char* text;
    std::int64_t length;
  } lengths[] = {{"", 0},
                 {"a\xC3\xA4"
                  "b",
                  3},
                 {"\xE2\x82\xAC", 1},
                 {"\x80\x80", 0},
                 {"\xF0\x9F\x98\x80!", 2}};
  for (const auto& c : lengths) EXPECT_EQ(str(c.text).utf8_length(), c.length) << c.text;
  const struct {
    const char* text;
    std::uint8_t required, forbidden;
    bool passes;
  } checks[] = {{"plain", 0, 0x80, true},   {"pl\xE4in", 0, 0x80, false}, {"", 0x01, 0xFF, true},
                {"ACE", 0x01, 0, true},     {"ABC", 0x01, 0, false},      {"abc", 0x40, 0x80, true},
                {"ab1", 0x40, 0x80, false}, {"\xFF", 0x80, 0x7F, false},  {"\x80\x81", 0x80, 0x02, true}};
  for (const auto& c : checks) {
    EXPECT_EQ(str(c.text).check_chars(c.required, c.forbidden), c.passes) << c.text << int{c.required};
  }
}

}  // namespace
