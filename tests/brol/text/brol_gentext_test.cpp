// Generated texts against the C library (inet_ntop, strftime, snprintf) and hand-picked cases.
#include "brol/text/brol_gentext.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <ctime>
#include <deque>
#include <random>
#include <string>

#if __has_include(<arpa/inet.h>)
#include <arpa/inet.h>
#endif

#include "brol_test_support.h"

namespace {

std::string ipv6_text(const unsigned (&groups)[8], char* reference = nullptr) {
  sockaddr_in6 a{};
  a.sin6_family = AF_INET6;
  a.sin6_port = 0x5b01;  // the port is no part of the text
  auto* bytes = reinterpret_cast<unsigned char*>(&a.sin6_addr);
  for (int i = 0; i < 16; ++i) bytes[i] = static_cast<unsigned char>(groups[i / 2] >> (i % 2 ? 0 : 8));
  if (reference != nullptr) {
    EXPECT_NE(inet_ntop(AF_INET6, &a.sin6_addr, reference, 64), nullptr);
  }
  char buffer[brol_addr_text_size];
  EXPECT_EQ(brol_addr_text(buffer, reinterpret_cast<const sockaddr*>(&a)), 6);
  return buffer;
}

TEST(GenText, AddressCases) {
  const struct {
    unsigned groups[8];
    const char* text;
  } cases[] = {
      {{0, 0, 0, 0, 0, 0, 0, 1}, "::1"},
      {{0, 0, 0, 0, 0, 0, 0, 0}, "::"},
      {{0x2001, 0xdb8, 0, 0, 1, 0, 0, 1}, "2001:db8::1:0:0:1"},
      {{0xfe80, 0, 0, 0, 0, 0, 0, 1}, "fe80::1"},
      {{1, 2, 3, 4, 5, 6, 7, 0}, "1:2:3:4:5:6:7:0"},
      {{1, 0, 2, 3, 4, 5, 6, 7}, "1:0:2:3:4:5:6:7"},
      {{1, 0, 0, 0, 0, 0, 0, 0}, "1::"},
      {{0, 0, 1, 0, 0, 0, 0xffff, 0xabcd}, "0:0:1::ffff:abcd"},
      {{0, 0, 0, 0, 0, 0xffff, 0xc000, 0x201}, "::ffff:c000:201"},  // inet_ntop: ::ffff:192.0.2.1
  };
  for (const auto& c : cases) EXPECT_EQ(ipv6_text(c.groups), c.text);

  std::mt19937 rng(4);
  for (int i = 0; i < 1000; ++i) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    const std::uint32_t raw = i == 0 ? 0x0100007fU : static_cast<std::uint32_t>(rng());  // 127.0.0.1 first
    std::memcpy(&a.sin_addr, &raw, 4);
    char buffer[brol_addr_text_size];
    char reference[64];
    ASSERT_EQ(brol_addr_text(buffer, reinterpret_cast<const sockaddr*>(&a)), 4);
    ASSERT_STREQ(buffer, inet_ntop(AF_INET, &a.sin_addr, reference, sizeof reference));
  }

  char buffer[brol_addr_text_size] = "untouched";
  sockaddr_in6 other{};
  other.sin6_family = 1;
  EXPECT_EQ(brol_addr_text(buffer, reinterpret_cast<const sockaddr*>(&other)), 0);
  EXPECT_EQ(brol_addr_text(buffer, nullptr), 0);
  EXPECT_STREQ(buffer, "untouched");
  EXPECT_EQ(brol_addr_text(nullptr, reinterpret_cast<const sockaddr*>(&other)), 0);
}

// Zero groups are frequent, so that runs of every length and place occur. inet_ntop writes the
// embedded IPv4 address of some forms in dotted notation; those are the only ones not compared.
TEST(GenText, Ipv6AgreesWithInetNtop) {
  std::mt19937 rng(6);
  int compared = 0;
  for (int i = 0; i < 20000; ++i) {
    unsigned groups[8];
    for (unsigned& g : groups) g = rng() % 2 ? 0 : rng() % 2 ? rng() % 16 : rng() % 65536;
    char reference[64];
    const std::string text = ipv6_text(groups, reference);
    if (std::strchr(reference, '.') == nullptr) {
      ASSERT_EQ(text, reference);
      ++compared;
    }
  }
  EXPECT_GT(compared, 19000);
}

// --- Date texts -----------------------------------------------------------------------------------

std::int64_t g_now = 0;
std::int64_t fixed_now() { return g_now; }

// While alive, the library's clock stands at t and the runtime's time zone is zone.
struct fixed_time {
  fixed_time(std::int64_t t, const char* zone) {
    g_now = t;
    brol_os.time_now = fixed_now;
    static std::deque<std::string> texts;  // putenv keeps the text itself
    texts.push_back(std::string("TZ=") + zone);
    putenv(texts.back().data());
    tzset();
  }
  ~fixed_time() { brol_os.time_now = brol_platform_defaults().time_now; }
};

std::string date_text(int kind) {
  char buffer[40];
  const std::int64_t n = brol_date_text(buffer, sizeof buffer, kind);
  EXPECT_EQ(n, n < 0 ? -1 : static_cast<std::int64_t>(std::strlen(buffer)));
  return n < 0 ? "(failed)" : buffer;
}

std::string strftime_text(const char* format) {
  const auto t = static_cast<std::time_t>(g_now);
  char buffer[100];
  return std::string(buffer, std::strftime(buffer, sizeof buffer, format, std::localtime(&t)));
}

// The five forms compared with strftime. Its %z is compared only where the runtime writes the
// offset as a number; the Windows runtime writes the zone's name there.
void expect_forms_match_strftime() {
  SCOPED_TRACE(testing::Message() << "time " << g_now);
  EXPECT_EQ(date_text(1), strftime_text("%Y-%m-%d %H:%M:%S"));
  EXPECT_EQ(date_text(3), strftime_text("%Y-%m-%d-%H%M%S"));
  EXPECT_EQ(date_text(4), strftime_text("%Y-%m-%d"));
  EXPECT_EQ(date_text(5), strftime_text("-%Y-%m-%d-%H%M%S.log"));
  const std::string zoned = date_text(2);
  EXPECT_EQ(zoned.substr(0, 26), strftime_text("%a, %d %b %Y %H:%M:%S "));
  const std::string z = strftime_text("%z");
  if (z.size() == 5 && z.find_first_not_of("+-0123456789") == std::string::npos) {
    EXPECT_EQ(zoned.substr(26), z);
  }
}

bool is_dst(std::int64_t t) {
  const auto time = static_cast<std::time_t>(t);
  return std::localtime(&time)->tm_isdst > 0;
}

// Random moments of 1971 to 2097, and the moments around each daylight saving change of four years
// (found by a daily step and bisection); changes_per_year is 0 or 2.
void expect_zone_matches_strftime(const char* zone, std::size_t changes_per_year) {
  SCOPED_TRACE(zone);
  fixed_time fixed(0, zone);
  std::mt19937_64 rng(2);
  for (int i = 0; i < 200; ++i) {
    g_now = static_cast<std::int64_t>(rng() % 4000000000ULL) + 40000000;
    expect_forms_match_strftime();
  }
  for (std::int64_t year : {1999, 2026, 2038, 2071}) {
    std::size_t changes = 0;
    for (std::int64_t t = (year - 1970) * 31556952, stop = t + 31556952; t < stop; t += 86400) {
      std::int64_t low = t, high = t + 86400;  // a change lies in (low, high] when the flags differ
      if (is_dst(low) == is_dst(high)) continue;
      while (high - low > 1) {
        const std::int64_t mid = low + (high - low) / 2;
        (is_dst(mid) == is_dst(low) ? low : high) = mid;
      }
      ++changes;
      for (std::int64_t d : {-3601, -1, 0, 1, 3600}) {
        g_now = high + d;
        expect_forms_match_strftime();
      }
    }
    EXPECT_EQ(changes, changes_per_year) << year;
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
  GTEST_SKIP() << "the Windows runtime reads TZ only in the short form \"CET-1CEST\"; zone names and "
                  "transition rules are zoneinfo features";
#else
  expect_zone_matches_strftime("Europe/Berlin", 2);
  expect_zone_matches_strftime("America/St_Johns", 2);
  expect_zone_matches_strftime("Asia/Kolkata", 0);
  expect_zone_matches_strftime("Australia/Lord_Howe", 2);  // daylight saving of half an hour
  expect_zone_matches_strftime("CET-1CEST,M3.5.0,M10.5.0/3", 2);
#endif
}

// The real offset in form 2, in January and July, where every runtime's daylight saving rules agree.
TEST(GenText, DateOffsetAndForms) {
  const std::int64_t january = 1768478400;  // 2026-01-15 12:00:00 UTC
  const std::int64_t july = 1784116800;     // 2026-07-15 12:00:00 UTC
  const struct {
    const char* zone;
    std::int64_t time;
    const char* offset;
  } cases[] = {{"UTC0", january, "+0000"}, {"CET-1CEST", january, "+0100"}, {"CET-1CEST", july, "+0200"},
               {"EST5EDT", july, "-0400"}, {"IST-5:30", july, "+0530"},     {"NST3:30NDT", january, "-0330"}};
  for (const auto& c : cases) {
    fixed_time fixed(c.time, c.zone);
    EXPECT_EQ(date_text(2).substr(26), c.offset) << c.zone;
  }
  fixed_time fixed(july, "CET-1CEST");
  EXPECT_EQ(date_text(2), "Wed, 15 Jul 2026 14:00:00 +0200");
  EXPECT_EQ(date_text(5), "-2026-07-15-140000.log");
}

TEST(GenText, DateRefusals) {
  fixed_time fixed(1768478400, "UTC0");
  char buffer[40] = "untouched";
  EXPECT_EQ(brol_date_text(buffer, sizeof buffer, 0), -1);
  EXPECT_EQ(brol_date_text(buffer, sizeof buffer, 6), -1);
  EXPECT_STREQ(buffer, "untouched");
  EXPECT_EQ(brol_date_text(nullptr, 40, 1), -1);
  for (int kind = 1; kind <= 5; ++kind) {  // every size up to one past the need
    const std::string full = date_text(kind);
    const auto length = static_cast<std::int64_t>(full.size());
    for (std::int64_t size = 0; size <= length + 1; ++size) {
      std::strcpy(buffer, "untouched");
      EXPECT_EQ(brol_date_text(buffer, size, kind), size > length ? length : -1) << kind << " " << size;
      EXPECT_STREQ(buffer, size > length ? full.c_str() : size == 0 ? "untouched" : "");
    }
  }
  g_now = INT64_MAX / 2;  // beyond what the runtime can break down
  EXPECT_EQ(brol_date_text(buffer, sizeof buffer, 1), -1);
}

// --- Fill pattern, number packing, printf into a heap buffer ----------------------------------------

TEST(GenText, FillPattern) {
  const struct {
    std::uint64_t n;
    const char* pattern;
    const char* written;
  } cases[] = {{5, "ab", "ababa"}, {0, "ab", ""},     {3, "", ""},           {3, nullptr, ""},
               {2, "xyz", "xy"},   {3, "xyz", "xyz"}, {7, "abc", "abcabca"}, {13, "abcd", "abcdabcdabcda"}};
  for (const auto& c : cases) {
    char buffer[16];
    std::memset(buffer, '#', sizeof buffer);
    brol_fill_pattern(buffer, c.n, c.pattern);
    EXPECT_EQ(std::string(buffer, std::strlen(c.written) + 1), c.written + std::string("#")) << c.n;
  }
  std::string long_fill(1001, '#');
  brol_fill_pattern(long_fill.data(), 1000, "0123456");
  for (std::size_t i = 0; i < 1001; ++i) ASSERT_EQ(long_fill[i], i < 1000 ? static_cast<char>('0' + i % 7) : '#');
}

TEST(GenText, EncodeNumbers) {
  char buffer[11 * 3 + 1];
  const struct {
    std::int64_t value;
    std::string text;
  } cases[] = {{0, std::string(11, ' ')},
               {1, std::string("!").append(10, ' ')},
               {-1, std::string(11, '_')},
               {64, std::string(" !").append(9, ' ')},
               {INT64_MIN, std::string(10, ' ').append("X")},  // bits 60-63 1000, two sign copies
               {INT64_MAX, std::string(10, '_').append("'")}};
  for (const auto& c : cases) {
    brol_encode_numbers(buffer, 1, c.value);
    EXPECT_EQ(buffer, c.text) << c.value;
  }
  brol_encode_numbers(buffer, 3, 1U, std::int16_t{-1}, 0);  // any integer type, as 64-bit
  EXPECT_EQ(std::string(buffer), cases[1].text + cases[2].text + cases[0].text);
  brol_encode_numbers(buffer, 1, 1, 2);  // the count limits, and so do the values given
  EXPECT_EQ(buffer, cases[1].text);
  brol_encode_numbers(buffer, 4, -1);
  EXPECT_EQ(buffer, cases[2].text);
  brol_encode_numbers(buffer, -1, 1);
  EXPECT_STREQ(buffer, "");
}

struct heap_text {
  char* buffer = nullptr;
  std::int64_t size = 0;
  ~heap_text() { brol_free(buffer); }
};

TEST(GenText, PrintfAllocGrowsAndReuses) {
  heap_text h;
  auto print = [&](auto... arguments) {
    return brol_test::count_allocations([&] { EXPECT_EQ(brol_printf_alloc(&h.buffer, &h.size, arguments...), 1); });
  };
  EXPECT_EQ(print("%s=%d", "id", 301), 2);  // 0 bytes to learn the length, then exactly enough
  EXPECT_STREQ(h.buffer, "id=301");
  EXPECT_EQ(h.size, 7);
  EXPECT_EQ(print("%d", 7), 0);  // a shorter text reuses the block
  EXPECT_STREQ(h.buffer, "7");
  const std::string word(300, 'w');
  char reference[400];
  std::snprintf(reference, sizeof reference, "%s|%d|%.3f|%c", word.c_str(), -42, 2.5, 'z');
  EXPECT_EQ(print("%s|%d|%.3f|%c", word.c_str(), -42, 2.5, 'z'), 1);  // the retry reads the arguments afresh
  EXPECT_STREQ(h.buffer, reference);
  EXPECT_EQ(h.size, 313);
  EXPECT_EQ(print("100%%"), 0);
  EXPECT_STREQ(h.buffer, "100%");
  heap_text plain;
  EXPECT_EQ(brol_printf_alloc(&plain.buffer, &plain.size, "plain"), 1);  // copied, one block of 6
  EXPECT_EQ(plain.size, 6);
  EXPECT_EQ(brol_printf_alloc(&plain.buffer, &plain.size, nullptr), 1);
  EXPECT_STREQ(plain.buffer, "");
  EXPECT_EQ(brol_printf_alloc(nullptr, &plain.size, "x"), 0);
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

// A text the C library reports it cannot produce ends the retries at once with 0 and (null, 0);
// where the runtime produces it, the text is snprintf's.
TEST(GenText, PrintfAllocEncodingError) {
  const wchar_t wide[] = {0x100, 0xd800, 0};
  heap_text h;
  const int reference = std::snprintf(nullptr, 0, "%ls", wide);
  int result = -1;
  EXPECT_LE(brol_test::count_allocations([&] { result = brol_printf_alloc(&h.buffer, &h.size, "%ls", wide); }), 2);
  EXPECT_EQ(result, reference < 0 ? 0 : 1);
  EXPECT_EQ(h.buffer == nullptr ? -1 : static_cast<int>(std::strlen(h.buffer)), reference < 0 ? -1 : reference);
}

}  // namespace
