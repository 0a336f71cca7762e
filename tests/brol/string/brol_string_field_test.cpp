// brol_string fields and tokens: the cases of each operation, take_quoted and the splitters against
// references of the test's own on random texts, own-text sources, the string array's growth and
// refusals, and allocation failure at every point.
#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "brol/string/brol_string.h"
#include "brol/string/brol_string_array.h"
#include "brol_test_support.h"

namespace {

using brol_test::random_text;
using str = brol_test::owned_string;

struct array : brol_scoped<brol_string_array> {
  explicit array(std::int32_t n = 8) : brol_scoped(n) {}
  std::vector<std::string> texts() const {
    std::vector<std::string> out;
    for (const brol_string* e = begin; e != end; ++e) out.emplace_back(e->c_str());
    return out;
  }
};

TEST(BrolStringField, KeepField) {
  const struct {
    const char* text;
    std::int16_t n;
    char delim;
    bool result;
    const char* expected;
  } cases[] = {
      {"a,b,c", 1, ',', true, "b"}, {"a,b,c", 0, ',', true, "a"},   {"a,b,c", 2, ',', true, "c"},
      {"a,b,c", 3, ',', false, ""}, {"a,b,", 2, ',', true, ""},     {",", 0, ',', true, ""},
      {"", 0, ',', false, ""},      {"a,b", -1, ',', false, "a,b"}, {"a,b", 0, '\0', true, "a,b"},
      {"a,b", 1, '\0', false, ""},  {"abc", 0, ',', true, "abc"},
  };
  for (const auto& c : cases) {
    str s(c.text);
    EXPECT_EQ(s.keep_field(c.n, c.delim), c.result) << c.text << " " << c.n;
    EXPECT_EQ(s.s(), c.expected) << c.text << " " << c.n;
  }
  str fresh;
  EXPECT_FALSE(fresh.keep_field(0, ','));
  EXPECT_EQ(fresh.text, nullptr);
}

// take_quoted's rules written out over std::string: {value, result}.
std::pair<std::string, std::int64_t> reference_take_quoted(const std::string& src, std::int64_t max, char quote) {
  const std::size_t lim =
      max <= 0 || static_cast<std::size_t>(max) > src.size() ? src.size() : static_cast<std::size_t>(max);
  const std::string s = src.substr(0, lim);
  std::size_t i = quote ? s.find(quote) : s.find_first_not_of(" \t");
  if (i == std::string::npos) return {"", static_cast<std::int64_t>(lim)};
  if (!quote) quote = s[i];
  const std::string letters = "abfnrtv", bytes = "\a\b\f\n\r\t\v";
  std::string out;
  for (++i; i < lim && s[i] != quote;) {
    if (s[i] != '\\') {
      out += s[i++];
      continue;
    }
    if (i + 1 >= lim) return {"", static_cast<std::int64_t>(i)};
    const char e = s[i + 1];
    if (letters.find(e) != std::string::npos) {
      out += bytes[letters.find(e)];
    } else if (e == '\\' || e == quote) {
      out += e;
    } else if (e != '\n') {
      out += std::string("\\") + e;
    }
    i += 2;
  }
  if (i >= lim) return {"", static_cast<std::int64_t>(i)};
  return {out, static_cast<std::int64_t>(i)};
}

TEST(BrolStringField, TakeQuotedCases) {
  str s("old");
  EXPECT_EQ(s.take_quoted("  'it\\'s'", 0, 0), 8);
  EXPECT_EQ(s.s(), "it's");
  EXPECT_EQ(s.take_quoted("x \"open", 0, '"'), 7);  // no closing quote
  EXPECT_EQ(s.s(), "");
  s.assign("old");
  EXPECT_EQ(s.take_quoted("no quote", 0, '"'), 8);
  EXPECT_EQ(s.s(), "");
  s.assign("old");
  EXPECT_EQ(s.take_quoted("\"a\\", 0, '"'), 2);  // a backslash in the last place
  EXPECT_EQ(s.s(), "");
  EXPECT_EQ(s.take_quoted("\"a\\n\\t\\q\\\\\\\nb\"", 0, '"'), 13);
  EXPECT_EQ(s.s(), "a\n\t\\q\\b");
  EXPECT_EQ(s.take_quoted("\"abc\"", 4, '"'), 4);  // max hides the closing quote
  EXPECT_EQ(s.s(), "");
  EXPECT_EQ(s.take_quoted("\"abc\"", 5, '"'), 4);
  EXPECT_EQ(s.s(), "abc");
  EXPECT_EQ(s.take_quoted("  |a|", -3, 0), 4);
  EXPECT_EQ(s.s(), "a");
  EXPECT_EQ(s.take_quoted("   ", 0, 0), 3);
  str fresh;
  EXPECT_EQ(fresh.take_quoted(nullptr, 0, '"'), 0);
  EXPECT_EQ(fresh.text, nullptr);
  // A max reaching past the text stops at its NUL: the text sits alone in a block of its own size.
  const auto tight = std::make_unique<char[]>(4);
  std::memcpy(tight.get(), "\"ab", 4);
  EXPECT_EQ(s.take_quoted(tight.get(), 100, '"'), 3);
  EXPECT_EQ(s.s(), "");
}

// Each random text three ways: as a foreign text, as the own text (null source) and from inside the
// own text behind a prefix.
TEST(BrolStringField, TakeQuotedAgreesWithTheReferenceOnRandomTexts) {
  std::mt19937 rng(23);
  const char quotes[] = {'\0', '"', '\''};
  for (int round = 0; round < 4000; ++round) {
    const std::string text = random_text(rng, "ab '\"\\nt\t\n", 24);
    const char quote = quotes[rng() % 3];
    const auto max = static_cast<std::int64_t>(rng() % (text.size() + 3)) - 1;
    const auto [value, result] = reference_take_quoted(text, max, quote);
    SCOPED_TRACE(testing::Message() << "[" << text << "] max " << max << " quote " << int{quote});
    str foreign("old");
    ASSERT_EQ(foreign.take_quoted(text.c_str(), max, quote), result);
    ASSERT_EQ(foreign.s(), value);
    str own(text.c_str());
    ASSERT_EQ(own.take_quoted(nullptr, max, quote), text.empty() ? 0 : result);
    ASSERT_EQ(own.s(), value);
    str inside(("zz" + text).c_str());
    ASSERT_EQ(inside.take_quoted(inside.text + 2, max, quote), result);
    ASSERT_EQ(inside.s(), value);
  }
}

TEST(BrolStringField, TakeBetween) {
  const struct {
    const char* src;
    std::int64_t max;
    char open, close;
    std::int64_t result;
    const char* expected;
  } cases[] = {
      {"x[abc]y", 0, '[', ']', 6, "abc"}, {"[ab\nc]", 0, '[', ']', 0, ""},     {"no open", 0, '[', ']', 0, ""},
      {"[abc", 0, '[', ']', 0, ""},       {"x[abc]y", 5, '[', ']', 0, ""},     {"x[abc]y", 6, '[', ']', 6, "abc"},
      {"[]", 0, '[', ']', 2, ""},         {"[[a]]", 0, '[', ']', 4, "[a"},     {"<a\tb>", -1, '<', '>', 5, "a\tb"},
      {"[a]", 0, '\0', ']', 0, ""},       {"[a]", 0, '[', '\0', 0, ""},        {"|a|b", 0, '|', '|', 3, "a"},
      {"x[abc]y", 2, '[', ']', 0, ""},    {"a(b\\)c)", 0, '(', ')', 5, "b\\"},
  };
  for (const auto& c : cases) {
    str s("old");
    EXPECT_EQ(s.take_between(c.src, c.max, c.open, c.close), c.result) << c.src << " " << c.max;
    EXPECT_EQ(s.s(), c.expected) << c.src << " " << c.max;
  }
  // max beyond the text: its NUL ends the search (the text alone in a block of its own size).
  const auto tight = std::make_unique<char[]>(3);
  std::memcpy(tight.get(), "[a", 3);
  str s("old");
  EXPECT_EQ(s.take_between(tight.get(), 100, '[', ']'), 0);
  EXPECT_EQ(s.take_between(tight.get(), 100, '(', ')'), 0);
  std::memcpy(tight.get(), "<>", 3);
  EXPECT_EQ(s.take_between(tight.get(), 100, '<', '>'), 2);
  // The own text, whole and from inside.
  str own("x[abc]y");
  EXPECT_EQ(own.take_between(nullptr, 0, '[', ']'), 6);
  EXPECT_EQ(own.s(), "abc");
  own.assign("..{inner}");
  EXPECT_EQ(own.take_between(own.text + 1, 0, '{', '}'), 8);
  EXPECT_EQ(own.s(), "inner");
  str fresh;
  EXPECT_EQ(fresh.take_between(nullptr, 0, '[', ']'), 0);
  EXPECT_EQ(fresh.text, nullptr);
}

TEST(BrolStringField, TakeFields) {
  const char* text = "a,b\\,c,d,e";
  const struct {
    const char* src;
    std::int16_t first, last;
    char delim, escape;
    bool result;
    const char* expected;
  } cases[] = {
      {text, 1, 3, ',', '\\', true, "b\\,c,d"}, {text, 0, 1, ',', '\\', true, "a"},
      {text, 0, 0, ',', '\\', true, text},      {text, 3, 4, ',', '\\', true, "e"},
      {text, 3, 9, ',', '\\', true, "e"},       {text, 4, 5, ',', '\\', false, "old"},
      {text, 1, 2, ',', '\0', true, "b\\"},     {text, 2, 1, ',', '\\', true, "d,e"},
      {text, 0, 1, '\0', '\\', true, text},     {text, 1, 2, '\0', '\\', false, "old"},
      {text, -1, 2, ',', '\\', false, "old"},   {nullptr, 0, 1, ',', '\\', true, ""},
      {",", 1, 2, ',', '\\', true, ""},         {"\\,x", 0, 1, ',', '\\', true, "\\,x"},
  };
  for (const auto& c : cases) {
    str s("old");
    EXPECT_EQ(s.take_fields(c.src, c.first, c.last, c.delim, c.escape), c.result) << c.first << " " << c.last;
    EXPECT_EQ(s.s(), c.expected) << c.first << " " << c.last;
  }
  str own("a,b,c");
  EXPECT_TRUE(own.take_fields(own.text, 1, 2, ',', 0));
  EXPECT_EQ(own.s(), "b");
  own.assign("a,b,c");
  EXPECT_TRUE(own.take_fields(own.text + 2, 0, 2, ',', 0));
  EXPECT_EQ(own.s(), "b,c");
}

TEST(BrolStringField, TakeToken) {
  const struct {
    const char* src;
    std::int16_t n;
    const char* separators;
    bool result;
    const char* expected;
  } cases[] = {
      {"a;;b", 0, " ;", true, "a"},
      {"a;;b", 1, " ;", true, ""},
      {"a;;b", 2, " ;", true, "b"},
      {"a;;b", 3, " ;", false, "old"},
      {"a b;c", 1, " ;", true, "b"},
      {"a b", 0, nullptr, true, "a b"},
      {"a b", 1, "", false, "old"},
      {"a b", -1, " ", false, "old"},
      {nullptr, 0, " ", true, ""},
      {"a\xFC"
       "b",
       1, "\xFC", true, "b"},
      {"ab ", 1, " ", true, ""},
  };
  for (const auto& c : cases) {
    str s("old");
    EXPECT_EQ(s.take_token(c.src, c.n, c.separators), c.result) << (c.src ? c.src : "(null)") << " " << c.n;
    EXPECT_EQ(s.s(), c.expected) << (c.src ? c.src : "(null)") << " " << c.n;
  }
  str own("x y z");
  EXPECT_TRUE(own.take_token(own.text, 2, " "));
  EXPECT_EQ(own.s(), "z");
  own.assign("x y z");
  EXPECT_TRUE(own.take_token(own.text + 2, 0, " "));
  EXPECT_EQ(own.s(), "y");
}

std::vector<std::string> reference_split(const std::string& s, const std::string& separators) {
  std::vector<std::string> out(1);
  for (char c : s) {
    if (separators.find(c) != std::string::npos) {
      out.emplace_back();
    } else {
      out.back() += c;
    }
  }
  return out;
}

TEST(BrolStringField, SplitCases) {
  const std::pair<const char*, std::vector<std::string>> cases[] = {
      {"a,,b", {"a", "", "b"}}, {"", {""}}, {"a,", {"a", ""}}, {",", {"", ""}}, {"abc", {"abc"}},
  };
  for (const auto& [text, expected] : cases) {
    array a(1);
    EXPECT_TRUE(brol_split(text, a, ','));
    EXPECT_EQ(a.texts(), expected) << text;
  }
  array a;
  EXPECT_TRUE(brol_split(nullptr, a, ','));
  EXPECT_TRUE(brol_split("a,b", a, '\0'));  // the NUL cuts nothing
  EXPECT_TRUE(brol_split_any("a b", a, nullptr));
  EXPECT_TRUE(brol_split_any("c;d e", a, "; "));
  EXPECT_EQ(a.texts(), (std::vector<std::string>{"", "a,b", "a b", "c", "d", "e"}));
  // A source inside an element of the same array, which moves while the array grows.
  array self(1);
  ASSERT_TRUE(brol_split("p:q:r", self, '\0'));
  EXPECT_TRUE(brol_split(self.begin[0].text, self, ':'));
  EXPECT_EQ(self.texts(), (std::vector<std::string>{"p:q:r", "p", "q", "r"}));
}

TEST(BrolStringField, SplittersAgreeWithTheReferenceOnRandomTexts) {
  std::mt19937 rng(31);
  for (int round = 0; round < 3000; ++round) {
    const std::string text = random_text(rng, "ab,; \xFC", 30);
    const std::string separators = random_text(rng, ",; \xFC", 3);
    array any(1), one(1);
    ASSERT_TRUE(brol_split_any(text.c_str(), any, separators.c_str()));
    ASSERT_EQ(any.texts(), reference_split(text, separators)) << text << " / " << separators;
    const char delim = separators.empty() ? ',' : separators[0];
    ASSERT_TRUE(brol_split(text.c_str(), one, delim));
    ASSERT_EQ(one.texts(), reference_split(text, std::string(1, delim))) << text << " / " << delim;
  }
}

TEST(BrolStringField, ArrayGrowsByDoublingAndKeepsItsElements) {
  array a(0);  // counts as one place
  EXPECT_EQ(a.capacity, 1);
  EXPECT_EQ(a.size(), 0);
  std::vector<std::int32_t> capacities;
  for (int i = 0; i < 9; ++i) {
    brol_string* e = a.add(1);
    ASSERT_NE(e, nullptr);
    e->assign(std::to_string(i).c_str());
    capacities.push_back(a.capacity);
  }
  EXPECT_EQ(capacities, (std::vector<std::int32_t>{1, 2, 4, 4, 8, 8, 8, 8, 16}));
  EXPECT_EQ(a.texts(), (std::vector<std::string>{"0", "1", "2", "3", "4", "5", "6", "7", "8"}));
  brol_string* run = a.add(20);
  ASSERT_NE(run, nullptr);
  EXPECT_EQ(run, a.begin + 9);
  EXPECT_EQ(a.capacity, 32);
  EXPECT_EQ(a.size(), 29);
  for (brol_string* e = run; e != a.end; ++e) EXPECT_EQ(e->text, nullptr);
  EXPECT_EQ(a.add(0), a.end);
  // Refusals leave the array as it was.
  brol_string* const begin = a.begin;
  EXPECT_EQ(a.add(-1), nullptr);
  EXPECT_EQ(a.add(INT32_MAX), nullptr);  // the count passes the 32-bit range
  // Doubling would pass the range: refused before any allocation is tried.
  const std::int32_t past_doubling = (1 << 30) + 1 - a.size();  // 2^30 + 1 elements need 2^31 places
  EXPECT_EQ(brol_test::count_allocations([&] { EXPECT_EQ(a.add(past_doubling), nullptr); }), 0);
  EXPECT_EQ(a.begin, begin);
  EXPECT_EQ(a.size(), 29);
  EXPECT_EQ(a.capacity, 32);
  EXPECT_STREQ(a.begin[8].c_str(), "8");
  a.destroy();
  a.destroy();
  EXPECT_EQ(a.size(), 0);
  EXPECT_EQ(a.capacity, 0);
  ASSERT_NE(a.add(2), nullptr);  // a released array grows again from one place
  EXPECT_EQ(a.capacity, 2);
}

TEST(BrolStringField, ArrayStorageThatCannotBeHad) {
  brol_string_array a;
  {
    brol_test::alloc_failure failing(1);
    EXPECT_FALSE(a.init(4));
  }
  EXPECT_EQ(a.capacity, 0);
  EXPECT_EQ(a.size(), 0);
  ASSERT_TRUE(a.init(1));
  a.add(1)->assign("kept");
  {
    brol_test::alloc_failure failing(1);
    EXPECT_EQ(a.add(1), nullptr);
  }
  EXPECT_EQ(a.size(), 1);
  EXPECT_EQ(a.capacity, 1);
  EXPECT_STREQ(a.begin[0].c_str(), "kept");
  a.destroy();
}

// Every allocation point of the allocating extractions: error is 1 and the string is empty (the
// text they replace is given up by the reservation).
TEST(BrolStringField, AllocationFailureAtEveryPoint) {
  const std::string body(150, 'q');
  const std::string quoted = "'" + body + "\\n'", between = "[" + body + "]", fields = "x," + body + ",y";
  const std::function<void(brol_string&)> ops[] = {
      [&](brol_string& s) { s.take_quoted(quoted.c_str(), 0, '\''); },
      [&](brol_string& s) { s.take_between(between.c_str(), 0, '[', ']'); },
      [&](brol_string& s) { s.take_fields(fields.c_str(), 1, 2, ',', '\\'); },
      [&](brol_string& s) { s.take_token(fields.c_str(), 1, ","); },
  };
  int index = 0;
  for (const auto& op : ops) {
    SCOPED_TRACE(index++);
    str s;
    const std::int64_t points = brol_test::for_each_allocation_failure(
        [&] {
          s.destroy();
          s.init_from("start");
        },
        [&] { op(s); },
        [&](std::int64_t n) {
          SCOPED_TRACE(n);
          EXPECT_EQ(s.error, 1);
          EXPECT_EQ(s.s(), "");
        });
    EXPECT_GE(points, 1);
  }
}

// A failure anywhere in a split is reported; the elements before it are whole, nothing leaks.
TEST(BrolStringField, SplitAllocationFailureAtEveryPoint) {
  const std::string a(100, 'a'), b(100, 'b');
  const std::string text = a + "," + b + ",,c";
  const std::vector<std::string> pieces = {a, b, "", "c"};
  array arr(1);
  bool result = true;
  for (const bool any : {false, true}) {
    const std::int64_t points = brol_test::for_each_allocation_failure(
        [&] {
          arr.destroy();
          arr.init(1);
        },
        [&] { result = any ? brol_split_any(text.c_str(), arr, ",") : brol_split(text.c_str(), arr, ','); },
        [&](std::int64_t n) {
          SCOPED_TRACE(n);
          EXPECT_FALSE(result);
          const std::vector<std::string> got = arr.texts();
          ASSERT_LE(got.size(), pieces.size());
          for (std::size_t i = 0; i + 1 < got.size(); ++i) EXPECT_EQ(got[i], pieces[i]);
        });
    EXPECT_GE(points, 3);
  }
}

}  // namespace
