// Generated texts against the C library (inet_ntop, strftime, snprintf) and hand-picked cases.
#include "brol/text/brol_gentext.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <ctime>
#include <deque>
#include <random>
#include <string>
#include <vector>

#if __has_include(<arpa/inet.h>)
#include <arpa/inet.h>
#endif

#include "brol_test_support.h"

namespace {

// --- Address text -------------------------------------------------------------------------------

sockaddr_in6 ipv6(const unsigned (&groups)[8]) {
  sockaddr_in6 a{};
  a.sin6_family = AF_INET6;
  a.sin6_port = 0x5b01;  // the port is no part of the text
  auto* bytes = reinterpret_cast<unsigned char*>(&a.sin6_addr);
  for (int i = 0; i < 8; ++i) {
    bytes[2 * i] = static_cast<unsigned char>(groups[i] >> 8);
    bytes[2 * i + 1] = static_cast<unsigned char>(groups[i]);
  }
  return a;
}

std::string addr_text(const sockaddr_in6& a, int expected_result = 6) {
  char buffer[brol_addr_text_size];
  EXPECT_EQ(brol_addr_text(buffer, reinterpret_cast<const sockaddr*>(&a)), expected_result);
  return buffer;
}

TEST(GenText, Ipv4Address) {
  std::mt19937 rng(4);
  for (int i = 0; i < 2000; ++i) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = 0x5000;
    const std::uint32_t raw = i == 0 ? 0x0100007fU : i == 1 ? 0xffffffffU : i == 2 ? 0 : static_cast<std::uint32_t>(rng());
    std::memcpy(&a.sin_addr, &raw, 4);
    char buffer[brol_addr_text_size];
    char reference[64];
    ASSERT_EQ(brol_addr_text(buffer, reinterpret_cast<const sockaddr*>(&a)), 4);
    ASSERT_NE(inet_ntop(AF_INET, &a.sin_addr, reference, sizeof reference), nullptr);
    ASSERT_STREQ(buffer, reference);
    if (i == 0) {
      EXPECT_STREQ(buffer, "127.0.0.1");
    }
  }
}

TEST(GenText, Ipv6AddressCases) {
  struct ipv6_case {
    unsigned groups[8];
    const char* text;
  };
  const ipv6_case cases[] = {
      {{0, 0, 0, 0, 0, 0, 0, 1}, "::1"},
      {{0, 0, 0, 0, 0, 0, 0, 0}, "::"},
      {{0x2001, 0xdb8, 0, 0, 1, 0, 0, 1}, "2001:db8::1:0:0:1"},
      {{0xfe80, 0, 0, 0, 0, 0, 0, 1}, "fe80::1"},
      {{1, 2, 3, 4, 5, 6, 7, 0}, "1:2:3:4:5:6:7:0"},
      {{1, 0, 2, 3, 4, 5, 6, 7}, "1:0:2:3:4:5:6:7"},
      {{1, 0, 0, 0, 0, 0, 0, 0}, "1::"},
      {{1, 0, 0, 2, 0, 0, 0, 3}, "1:0:0:2::3"},
      {{0, 0, 1, 0, 0, 0, 0, 0}, "0:0:1::"},
      {{0, 1, 0, 0, 0, 0, 0, 0}, "0:1::"},
      {{0xffff, 0xffff, 0xffff, 0xffff, 0xffff, 0xffff, 0xffff, 0xffff}, "ffff:ffff:ffff:ffff:ffff:ffff:ffff:ffff"},
      {{0x10, 0x100, 0, 0, 0x1000, 0xa0, 0, 0xabcd}, "10:100::1000:a0:0:abcd"},
      // Written in groups where inet_ntop writes the embedded IPv4 address in dotted form.
      {{0, 0, 0, 0, 0, 0xffff, 0xc000, 0x201}, "::ffff:c000:201"},
      {{0, 0, 0, 0, 0, 0, 0xc000, 0x201}, "::c000:201"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(addr_text(ipv6(c.groups)), c.text);
  }
}

// Zero groups are frequent, so that runs of every length and position occur.
TEST(GenText, Ipv6AgreesWithInetNtop) {
  std::mt19937 rng(6);
  int compared = 0;
  for (int i = 0; i < 20000; ++i) {
    unsigned groups[8];
    for (unsigned& g : groups) {
      const unsigned kind = rng() % 4;
      g = kind < 2 ? 0 : kind == 2 ? rng() % 16 : rng() % 65536;
    }
    const sockaddr_in6 a = ipv6(groups);
    char reference[64];
    ASSERT_NE(inet_ntop(AF_INET6, &a.sin6_addr, reference, sizeof reference), nullptr);
    if (std::strchr(reference, '.') != nullptr) {
      continue;  // inet_ntop's dotted tail for embedded IPv4 addresses; groups here, see above
    }
    ASSERT_EQ(addr_text(a), reference);
    ++compared;
  }
  EXPECT_GT(compared, 19000);
}

TEST(GenText, AddressRefusals) {
  char buffer[brol_addr_text_size] = "untouched";
  sockaddr_in6 a = ipv6({0, 0, 0, 0, 0, 0, 0, 1});
  a.sin6_family = 1;
  EXPECT_EQ(brol_addr_text(buffer, reinterpret_cast<const sockaddr*>(&a)), 0);
  EXPECT_EQ(brol_addr_text(buffer, nullptr), 0);
  EXPECT_STREQ(buffer, "untouched");
  a.sin6_family = AF_INET6;
  EXPECT_EQ(brol_addr_text(nullptr, reinterpret_cast<const sockaddr*>(&a)), 0);
}

// --- Date texts -----------------------------------------------------------------------------------

std::int64_t g_now = 0;
std::int64_t fixed_now() { return g_now; }

// While alive, the library's clock stands at a chosen time.
struct fixed_clock {
  explicit fixed_clock(std::int64_t t) {
    g_now = t;
    brol_os.time_now = fixed_now;
  }
  ~fixed_clock() { brol_os.time_now = brol_platform_defaults().time_now; }
  fixed_clock(const fixed_clock&) = delete;
  fixed_clock& operator=(const fixed_clock&) = delete;
};

// Sets the runtime's time zone (putenv keeps the text, hence the lasting store).
void set_zone(const std::string& zone) {
  static std::deque<std::string> texts;
  texts.push_back("TZ=" + zone);
  putenv(texts.back().data());
  tzset();
}

// While alive, TZ is zone; afterwards the earlier value (or UTC when there was none).
struct scoped_zone {
  explicit scoped_zone(const char* zone) {
    const char* old = std::getenv("TZ");
    old_ = old == nullptr ? "UTC0" : old;
    set_zone(zone);
  }
  ~scoped_zone() { set_zone(old_); }
  scoped_zone(const scoped_zone&) = delete;
  scoped_zone& operator=(const scoped_zone&) = delete;

 private:
  std::string old_;
};

std::string date_text(int kind) {
  char buffer[40];
  const std::int64_t n = brol_date_text(buffer, sizeof buffer, kind);
  EXPECT_EQ(n, n < 0 ? -1 : static_cast<std::int64_t>(std::strlen(buffer)));
  return n < 0 ? "(failed)" : buffer;
}

std::string reference_text(const char* format, std::int64_t t) {
  const std::time_t time = static_cast<std::time_t>(t);
  char buffer[100];
  const std::size_t n = std::strftime(buffer, sizeof buffer, format, std::localtime(&time));
  return std::string(buffer, n);
}

// strftime's %z where the runtime writes it as a number; some runtimes write the zone name instead.
std::string reference_offset(std::int64_t t) {
  const std::string z = reference_text("%z", t);
  const bool numeric = z.size() == 5 && (z[0] == '+' || z[0] == '-') &&
                       z.find_first_not_of("0123456789", 1) == std::string::npos;
  return numeric ? z : std::string();
}

// Compares the five forms of the moment t with strftime in the current zone.
void expect_forms_match_strftime(std::int64_t t) {
  SCOPED_TRACE(testing::Message() << "time " << t);
  fixed_clock clock(t);
  EXPECT_EQ(date_text(1), reference_text("%Y-%m-%d %H:%M:%S", t));
  EXPECT_EQ(date_text(3), reference_text("%Y-%m-%d-%H%M%S", t));
  EXPECT_EQ(date_text(4), reference_text("%Y-%m-%d", t));
  EXPECT_EQ(date_text(5), reference_text("-%Y-%m-%d-%H%M%S.log", t));
  const std::string zoned = date_text(2);
  EXPECT_EQ(zoned.substr(0, 26), reference_text("%a, %d %b %Y %H:%M:%S ", t));
  const std::string offset = reference_offset(t);
  if (!offset.empty()) {
    EXPECT_EQ(zoned.substr(26), offset);
  }
}

// The moments around which daylight saving starts or ends in the current zone during year.
std::vector<std::int64_t> dst_changes(int year) {
  std::vector<std::int64_t> changes;
  const std::int64_t start = (static_cast<std::int64_t>(year) - 1970) * 31556952;
  auto is_dst = [](std::int64_t t) {
    const std::time_t time = static_cast<std::time_t>(t);
    return std::localtime(&time)->tm_isdst > 0;
  };
  // Changes lie months apart, so a daily step misses none.
  for (std::int64_t t = start; t < start + 31556952; t += 86400) {
    if (is_dst(t) == is_dst(t + 86400)) {
      continue;
    }
    std::int64_t low = t;
    std::int64_t high = t + 86400;  // the change lies in (low, high]
    while (high - low > 1) {
      const std::int64_t mid = low + (high - low) / 2;
      (is_dst(mid) == is_dst(low) ? low : high) = mid;
    }
    changes.push_back(high);
  }
  return changes;
}

// changes_per_year: how many daylight saving changes the zone has in a year (0 or 2).
void expect_zone_matches_strftime(const char* zone, std::size_t changes_per_year) {
  SCOPED_TRACE(zone);
  scoped_zone z(zone);
  std::mt19937_64 rng(2);
  for (int i = 0; i < 200; ++i) {
    expect_forms_match_strftime(static_cast<std::int64_t>(rng() % 4000000000ULL) + 40000000);
  }
  for (int year : {1999, 2026, 2038, 2071}) {
    const std::vector<std::int64_t> changes = dst_changes(year);
    EXPECT_EQ(changes.size(), changes_per_year) << year;
    for (std::int64_t change : changes) {
      for (std::int64_t d : {-3601, -1, 0, 1, 3600}) {
        expect_forms_match_strftime(change + d);
      }
    }
  }
}

// Zones in the short POSIX form, which both platforms' runtimes understand.
TEST(GenText, DateFormsMatchStrftime) {
  expect_zone_matches_strftime("UTC0", 0);
  expect_zone_matches_strftime("CET-1CEST", 2);
  expect_zone_matches_strftime("EST5EDT", 2);
  expect_zone_matches_strftime("IST-5:30", 0);
  expect_zone_matches_strftime("NST3:30NDT", 2);
}

TEST(GenText, DateFormsMatchStrftimeInNamedZones) {
#ifdef _WIN32
  GTEST_SKIP() << "the Windows runtime reads TZ only in the short form \"CET-1CEST\"; zone names and rules are "
                  "zoneinfo features";
#else
  expect_zone_matches_strftime("Europe/Berlin", 2);
  expect_zone_matches_strftime("America/New_York", 2);
  expect_zone_matches_strftime("Asia/Kolkata", 0);
  expect_zone_matches_strftime("America/St_Johns", 2);
  expect_zone_matches_strftime("Australia/Lord_Howe", 2);  // daylight saving of half an hour
  expect_zone_matches_strftime("CET-1CEST,M3.5.0,M10.5.0/3", 2);
#endif
}

// The offset of form 2 is the real one; the cases lie in January and July, where every runtime's
// daylight saving rules agree.
TEST(GenText, DateOffsetIsTheZones) {
  struct offset_case {
    const char* zone;
    std::int64_t time;
    const char* offset;
  };
  const std::int64_t january = 1768478400;  // 2026-01-15 12:00:00 UTC
  const std::int64_t july = 1784116800;     // 2026-07-15 12:00:00 UTC
  const offset_case cases[] = {
      {"UTC0", january, "+0000"},       {"CET-1CEST", january, "+0100"}, {"CET-1CEST", july, "+0200"},
      {"EST5EDT", january, "-0500"},    {"EST5EDT", july, "-0400"},      {"IST-5:30", july, "+0530"},
      {"NST3:30NDT", january, "-0330"}, {"NST3:30NDT", july, "-0230"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.zone);
    scoped_zone z(c.zone);
    fixed_clock clock(c.time);
    EXPECT_EQ(date_text(2).substr(26), c.offset);
  }
  scoped_zone z("CET-1CEST");
  fixed_clock clock(july);
  EXPECT_EQ(date_text(1), "2026-07-15 14:00:00");
  EXPECT_EQ(date_text(2), "Wed, 15 Jul 2026 14:00:00 +0200");
  EXPECT_EQ(date_text(3), "2026-07-15-140000");
  EXPECT_EQ(date_text(4), "2026-07-15");
  EXPECT_EQ(date_text(5), "-2026-07-15-140000.log");
}

TEST(GenText, DateRefusals) {
  scoped_zone z("UTC0");
  fixed_clock clock(1768478400);
  char buffer[40] = "untouched";
  for (int kind : {0, 6, -1}) {
    EXPECT_EQ(brol_date_text(buffer, sizeof buffer, kind), -1);
  }
  EXPECT_STREQ(buffer, "untouched");
  EXPECT_EQ(brol_date_text(nullptr, 40, 1), -1);
  // Every size from 0 to one past the need: too small gives -1 and leaves an empty text.
  for (int kind = 1; kind <= 5; ++kind) {
    const std::string full = date_text(kind);
    const auto length = static_cast<std::int64_t>(full.size());
    for (std::int64_t size = 0; size <= length + 1; ++size) {
      SCOPED_TRACE(testing::Message() << "kind " << kind << " size " << size);
      std::strcpy(buffer, "untouched");
      const std::int64_t n = brol_date_text(buffer, size, kind);
      EXPECT_EQ(n, size > length ? length : -1);
      EXPECT_STREQ(buffer, size > length ? full.c_str() : size == 0 ? "untouched" : "");
    }
  }
  // A moment the runtime cannot break down.
  fixed_clock distant(INT64_MAX / 2);
  EXPECT_EQ(brol_date_text(buffer, sizeof buffer, 1), -1);
}

// --- Fill pattern and number packing --------------------------------------------------------------

TEST(GenText, FillPattern) {
  struct fill_case {
    std::uint64_t n;
    const char* pattern;
    const char* written;
  };
  const fill_case cases[] = {
      {5, "ab", "ababa"}, {0, "ab", ""},        {3, "", ""},   {3, nullptr, ""},  {1, "xyz", "x"},
      {3, "xyz", "xyz"},  {7, "abc", "abcabca"}, {4, "a", "aaaa"}, {13, "abcd", "abcdabcdabcda"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.n);
    char buffer[32];
    std::memset(buffer, '#', sizeof buffer);
    brol_fill_pattern(buffer, c.n, c.pattern);
    const std::size_t length = std::strlen(c.written);
    EXPECT_EQ(std::string(buffer, length), c.written);
    EXPECT_EQ(buffer[length], '#');
  }
  std::string long_fill(1001, '#');
  brol_fill_pattern(long_fill.data(), 1000, "0123456");
  for (std::size_t i = 0; i < 1000; ++i) {
    ASSERT_EQ(long_fill[i], static_cast<char>('0' + i % 7)) << i;
  }
  EXPECT_EQ(long_fill[1000], '#');
  brol_fill_pattern(nullptr, 3, "ab");
}

// Reads back the value packed in 11 bytes, checking the range and the sign copies of the last byte.
std::int64_t unpack(const char* bytes) {
  std::uint64_t value = 0;
  for (int i = 0; i < 11; ++i) {
    const unsigned six = static_cast<unsigned>(static_cast<unsigned char>(bytes[i])) - 32U;
    EXPECT_LT(six, 64U) << "byte " << i;
    if (i < 10) {
      value |= std::uint64_t{six} << (6 * i);
    } else {
      value |= std::uint64_t{six & 15U} << 60;
      EXPECT_EQ(six >> 4, (six & 8U) != 0 ? 3U : 0U);
    }
  }
  return static_cast<std::int64_t>(value);
}

TEST(GenText, EncodeNumbers) {
  char buffer[11 * 4 + 2];
  brol_encode_numbers(buffer, 1, 0);
  EXPECT_STREQ(buffer, "           ");
  brol_encode_numbers(buffer, 1, 1);
  EXPECT_STREQ(buffer, "!          ");
  brol_encode_numbers(buffer, 1, -1);
  EXPECT_STREQ(buffer, "___________");
  brol_encode_numbers(buffer, 1, INT64_MIN);
  EXPECT_STREQ(buffer, "          X");
  brol_encode_numbers(buffer, 3, 63U, std::int16_t{64}, 0x7fffffffffffffffLL);
  EXPECT_EQ(std::string(buffer), "_" + std::string(10, ' ') + " !" + std::string(9, ' ') + "__________'");
  // The count limits what is packed, and so do the values given.
  std::memset(buffer, '#', sizeof buffer);
  brol_encode_numbers(buffer, 1, 1, 2);
  EXPECT_STREQ(buffer, "!          ");
  brol_encode_numbers(buffer, 4, 1);
  EXPECT_STREQ(buffer, "!          ");
  brol_encode_numbers(buffer, -1, 1);
  EXPECT_STREQ(buffer, "");

  std::mt19937_64 rng(11);
  for (int i = 0; i < 1000; ++i) {
    const auto value = static_cast<std::int64_t>(rng() >> (rng() % 64));
    const std::int64_t values[2] = {value, -value};
    brol_encode_number_array(buffer, 2, values);
    ASSERT_EQ(std::strlen(buffer), 22U);
    ASSERT_EQ(unpack(buffer), value);
    ASSERT_EQ(unpack(buffer + 11), -value);
  }
}

// --- printf into a heap buffer --------------------------------------------------------------------

// A heap pair as callers keep it.
struct heap_text {
  char* buffer = nullptr;
  std::int64_t size = 0;
  ~heap_text() { brol_free(buffer); }
};

TEST(GenText, PrintfAllocGrowsAndReuses) {
  heap_text h;
  // From nothing: an attempt with 0 bytes learns the length, the second fits exactly.
  EXPECT_EQ(brol_test::count_allocations([&] { EXPECT_EQ(brol_printf_alloc(&h.buffer, &h.size, "%s=%d", "id", 301), 1); }), 2);
  EXPECT_STREQ(h.buffer, "id=301");
  EXPECT_EQ(h.size, 7);
  // A shorter text reuses the block.
  EXPECT_EQ(brol_test::count_allocations([&] { EXPECT_EQ(brol_printf_alloc(&h.buffer, &h.size, "%d", 7), 1); }), 0);
  EXPECT_STREQ(h.buffer, "7");
  EXPECT_EQ(h.size, 7);
  // A longer one replaces it once; the retry formats the arguments afresh.
  const std::string word(300, 'w');
  char reference[400];
  std::snprintf(reference, sizeof reference, "%s|%d|%s|%.3f|%c", word.c_str(), -42, "tail", 2.5, 'z');
  EXPECT_EQ(brol_test::count_allocations([&] {
              EXPECT_EQ(brol_printf_alloc(&h.buffer, &h.size, "%s|%d|%s|%.3f|%c", word.c_str(), -42, "tail", 2.5, 'z'), 1);
            }),
            1);
  EXPECT_STREQ(h.buffer, reference);
  EXPECT_EQ(h.size, static_cast<std::int64_t>(std::strlen(reference)) + 1);
  EXPECT_EQ(brol_printf_alloc(&h.buffer, &h.size, "100%%"), 1);
  EXPECT_STREQ(h.buffer, "100%");
}

TEST(GenText, PrintfAllocCopiesPlainFormats) {
  heap_text h;
  EXPECT_EQ(brol_test::count_allocations([&] { EXPECT_EQ(brol_printf_alloc(&h.buffer, &h.size, "plain"), 1); }), 1);
  EXPECT_STREQ(h.buffer, "plain");
  EXPECT_EQ(h.size, 6);
  EXPECT_EQ(brol_test::count_allocations([&] { EXPECT_EQ(brol_printf_alloc(&h.buffer, &h.size, nullptr), 1); }), 0);
  EXPECT_STREQ(h.buffer, "");
  EXPECT_EQ(brol_printf_alloc(&h.buffer, &h.size, "longer plain text"), 1);
  EXPECT_STREQ(h.buffer, "longer plain text");
  EXPECT_EQ(h.size, 18);
  heap_text negative;
  negative.size = -5;
  EXPECT_EQ(brol_printf_alloc(&negative.buffer, &negative.size, "%d", 12), 1);
  EXPECT_STREQ(negative.buffer, "12");
  EXPECT_EQ(brol_printf_alloc(nullptr, &negative.size, "x"), 0);
  EXPECT_EQ(brol_printf_alloc(&negative.buffer, nullptr, "x"), 0);
}

// Every failing allocation gives 0 and the pair (null, 0), from which a later call starts afresh.
TEST(GenText, PrintfAllocFailures) {
  const std::string word(100, 'v');
  for (const char* format : {"%s:%d", "no conversion"}) {
    heap_text h;
    int result = -1;
    const std::int64_t tried = brol_test::for_each_allocation_failure(
        [&] {
          brol_free(h.buffer);
          h.buffer = static_cast<char*>(brol_alloc(8));
          h.size = 8;
        },
        [&] { result = brol_printf_alloc(&h.buffer, &h.size, format, word.c_str(), 5); },
        [&](std::int64_t) {
          EXPECT_EQ(result, 0);
          EXPECT_EQ(h.buffer, nullptr);
          EXPECT_EQ(h.size, 0);
          EXPECT_EQ(brol_printf_alloc(&h.buffer, &h.size, "%s", "again"), 1);
          EXPECT_STREQ(h.buffer, "again");
        });
    EXPECT_EQ(tried, 1);
  }
}

// A text the C library cannot produce ends the retries at once: 0 and the pair (null, 0), where the
// runtime reports the error; elsewhere its text, as snprintf makes it.
TEST(GenText, PrintfAllocEncodingError) {
  const wchar_t wide[] = {0x100, 0xd800, 0};
  heap_text h;
  const int reference = std::snprintf(nullptr, 0, "%ls", wide);
  int result = -1;
  EXPECT_LE(brol_test::count_allocations([&] { result = brol_printf_alloc(&h.buffer, &h.size, "%ls", wide); }), 2);
  if (reference < 0) {
    EXPECT_EQ(result, 0);
    EXPECT_EQ(h.buffer, nullptr);
    EXPECT_EQ(h.size, 0);
  } else {
    EXPECT_EQ(result, 1);
    EXPECT_EQ(static_cast<int>(std::strlen(h.buffer)), reference);
  }
}

}  // namespace
