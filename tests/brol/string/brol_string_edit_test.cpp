// brol_string editing: trimmed assignment, case conversion, replacing and escaping against a
// reference on random texts, decimal zeros, path names, random text, own-text arguments and
// allocation failure at every point.
#include <gtest/gtest.h>

#include <cctype>
#include <functional>
#include <random>
#include <string>

#include "brol/platform/brol_platform.h"
#include "brol/string/brol_string.h"
#include "brol_test_support.h"

namespace {

using brol_test::random_text;
using str = brol_test::owned_string;

struct case_2 {
  const char* text;
  const char* arg;
  const char* expected;
};

TEST(BrolStringEdit, TrimmedAssignment) {
  const case_2 cases[] = {
      {"old", "  a b \t", "a b"},    {"old", "\t \t", ""}, {"old", "", ""}, {"old", nullptr, ""}, {"", "x", "x"},
      {"old", "\r\nx\n", "\r\nx\n"},  // only spaces and tabs are blanks here
  };
  for (const case_2& c : cases) {
    str s(c.text);
    s.assign_trimmed(c.arg);
    EXPECT_EQ(s.s(), c.expected) << (c.arg ? c.arg : "(null)");
  }
  str own("  abc  def  ");
  own.assign_trimmed(own.text + 5);
  EXPECT_EQ(own.s(), "def");
  str copy("old"), none;
  own.assign("\t x y \t");
  copy.assign_trimmed_copy(own);
  own.assign_trimmed_copy(own);
  EXPECT_EQ(copy.s(), "x y");
  EXPECT_EQ(own.s(), "x y");
  copy.assign_trimmed_copy(none);
  EXPECT_EQ(copy.s(), "");
  none.assign_trimmed("   ");
  EXPECT_EQ(none.text, nullptr);  // nothing to keep, nothing allocated
}

// Every byte value through both directions against the rule written out independently.
TEST(BrolStringEdit, CaseConversionOfEveryByte) {
  std::string all;
  for (int b = 1; b < 256; ++b) all += static_cast<char>(b);
  const std::string umlauts_small = "\xE4\xF6\xFC", umlauts_capital = "\xC4\xD6\xDC";
  std::string upper = all, lower = all;
  for (char& c : upper) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
    const auto k = umlauts_small.find(c);
    if (k != std::string::npos) c = umlauts_capital[k];
  }
  for (char& c : lower) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
    const auto k = umlauts_capital.find(c);
    if (k != std::string::npos) c = umlauts_small[k];
  }
  str s(all.c_str());
  s.upper_from(0);
  EXPECT_EQ(s.s(), upper);
  s.assign(all.c_str());
  s.lower_from(0);
  EXPECT_EQ(s.s(), lower);

  str part("abcdef");
  part.upper_from(3);
  part.upper_from(-1);
  part.lower_from(100);
  EXPECT_EQ(part.s(), "abcDEF");
  // Appending converts only the appended part, also when it is taken from the own text.
  part.append_lower("Gh\xDC").append_upper(part.text + 1);
  EXPECT_EQ(part.s(), std::string("abcDEFgh\xFC") + "BCDEFGH\xDC");
  str fresh;
  fresh.upper_from(0);
  fresh.append_upper(nullptr);
  EXPECT_EQ(fresh.text, nullptr);
}

TEST(BrolStringEdit, ReplaceChar) {
  struct {
    const char* text;
    char from, to;
    const char* expected;
  } const cases[] = {
      {"aab", 'a', 0, "b"},
      {"a.b.c", '.', '/', "a/b/c"},
      {"aaaa", 'a', 0, ""},
      {"xyz", 'q', 'r', "xyz"},
      {"abc", 0, 'x', "abc"},
      {"abc", 0, 0, "abc"},
      {"\xFC\xFC-", '\xFC', 'u', "uu-"},
  };
  for (const auto& c : cases) {
    str s(c.text);
    s.replace_char(c.from, c.to);
    EXPECT_EQ(s.s(), c.expected) << c.text;
  }
  str fresh;
  fresh.replace_char('a', 'b');
  EXPECT_EQ(fresh.text, nullptr);
}

// The behaviour written as directly as possible: erase, insert, continue behind the insertion.
std::string reference_replace_all(std::string text, const std::string& find, const std::string& repl) {
  for (std::size_t i = 0; i + find.size() <= text.size();) {
    if (text.compare(i, find.size(), find) == 0) {
      text.replace(i, find.size(), repl);
      i += repl.size();
    } else {
      ++i;
    }
  }
  return text;
}

TEST(BrolStringEdit, ReplaceAllAgreesWithTheReferenceOnRandomTexts) {
  std::mt19937 rng(10);
  for (int round = 0; round < 3000; ++round) {
    const std::string text = random_text(rng, "abc", 40);
    std::string find = random_text(rng, "abc", 3);
    if (find.empty()) find.push_back('a');
    const std::string repl = random_text(rng, "abc", 5);
    str s(text.c_str());
    s.replace_all(find.c_str(), repl.c_str());
    ASSERT_EQ(s.s(), reference_replace_all(text, find, repl)) << text << " / " << find << " / " << repl;
  }
}

TEST(BrolStringEdit, ReplaceAllEdges) {
  const struct {
    const char *text, *find, *repl, *expected;
  } cases[] = {
      {"aba", "a", "aa", "aabaa"},  {"aaa", "aa", "b", "ba"},     {"abcabc", "bc", "", "aa"},  {"abc", "", "x", "abc"},
      {"abc", nullptr, "x", "abc"}, {"abc", "b", nullptr, "abc"}, {"abc", "abcd", "x", "abc"},
  };
  for (const auto& c : cases) {
    str s(c.text);
    s.replace_all(c.find, c.repl);
    EXPECT_EQ(s.s(), c.expected) << c.text;
  }
  // A result much longer than the buffer, so the text moves while being rewritten.
  str grow(std::string(100, 'x').c_str());
  grow.replace_all("x", "<yy>");
  EXPECT_EQ(grow.s(), reference_replace_all(std::string(100, 'x'), "x", "<yy>"));
  // Arguments taken from the own text keep what they held before the call.
  str own("abcabc");
  own.replace_all(own.text + 3, own.text);
  EXPECT_EQ(own.s(), "abcabcabcabc");
  str shrink("xaxbx");
  shrink.replace_all(shrink.text + 4, shrink.text + 1);  // x by axbx
  EXPECT_EQ(shrink.s(), "axbxaaxbxbaxbx");
  str fresh;
  fresh.replace_all("a", "b");
  EXPECT_EQ(fresh.text, nullptr);
}

std::string reference_insert_before_each(std::string text, const std::string& chars, const std::string& ins) {
  for (char c : chars) {
    for (std::size_t i = text.find(c); i != std::string::npos; i = text.find(c, i + ins.size() + 1)) {
      text.insert(i, ins);
    }
  }
  return text;
}

TEST(BrolStringEdit, InsertBeforeEach) {
  str quoted("say \"hi\"");
  quoted.insert_before_each("\"", "\\");
  EXPECT_EQ(quoted.s(), "say \\\"hi\\\"");
  // The backslash handled second is also found in the insertions made for the quote.
  str both("a\"b\\c");
  both.insert_before_each("\"\\", "\\");
  EXPECT_EQ(both.s(), "a\\\\\"b\\\\c");
  str own("a-b");
  own.insert_before_each(own.text + 1, own.text);  // "-" and then "b" get "a-b" in front
  EXPECT_EQ(own.s(), "aa-a-bb-a-bb");
  str unchanged("abc");
  unchanged.insert_before_each("", "x");
  unchanged.insert_before_each("a", "");
  unchanged.insert_before_each(nullptr, "x");
  unchanged.insert_before_each("z", "x");
  EXPECT_EQ(unchanged.s(), "abc");

  std::mt19937 rng(11);
  for (int round = 0; round < 2000; ++round) {
    const std::string text = random_text(rng, "abc\\\"", 30);
    const std::string chars = random_text(rng, "abc\\\"", 3);
    const std::string ins = random_text(rng, "ab\\", 3);
    str s(text.c_str());
    s.insert_before_each(chars.c_str(), ins.c_str());
    const std::string expected = ins.empty() ? text : reference_insert_before_each(text, chars, ins);
    ASSERT_EQ(s.s(), expected) << text << " / " << chars << " / " << ins;
  }
}

TEST(BrolStringEdit, StripZeros) {
  const std::pair<const char*, const char*> cases[] = {
      {"1.500", "1.5"},       {"2.000", "2"},         {"2.", "2"},        {"10", "10"},         {".000", ""},
      {"100", "100"},         {"1.05", "1.05"},       {"0.0", "0"},       {"1.2.300", "1.2.3"}, {"-0.10", "-0.1"},
      {"1.50e10", "1.50e10"}, {"1.5e+10", "1.5e+10"}, {"1.0 m", "1.0 m"}, {"3.14", "3.14"},     {"", ""},
  };
  for (const auto& [text, expected] : cases) {
    str s(text);
    s.strip_zeros();
    EXPECT_EQ(s.s(), expected) << text;
  }
  str fresh;
  fresh.strip_zeros();
  EXPECT_EQ(fresh.text, nullptr);
}

TEST(BrolStringEdit, BaseAndDirName) {
  const struct {
    const char *text, *path, *base, *dir;
  } cases[] = {
      {"a/b/c", nullptr, "c", "a/b"}, {"abc", nullptr, "abc", "abc"}, {"/x", nullptr, "x", ""},
      {"a/", nullptr, "", "a"},       {"x/", "y/z", "x/z", "x/y"},    {"x/", "yz", "x/yz", "x/yz"},
      {"", "a/b", "b", "a"},          {"", nullptr, "", ""},          {"p", "", "p", "p"},
  };
  for (const auto& c : cases) {
    str b(c.text), d(c.text);
    b.base_name(c.path);
    d.dir_name(c.path);
    EXPECT_EQ(b.s(), c.base) << c.text << " + " << (c.path ? c.path : "(null)");
    EXPECT_EQ(d.s(), c.dir) << c.text << " + " << (c.path ? c.path : "(null)");
  }
  str own("a/b");
  own.base_name(own.text);  // a/b + a/b, the appended part treated
  EXPECT_EQ(own.s(), "a/bb");
  str own_dir("a/b");
  own_dir.dir_name(own_dir.text);
  EXPECT_EQ(own_dir.s(), "a/ba");
}

// The text with every '|' replaced by the system's path separator.
std::string with_separator(const char* text) {
  std::string s = text != nullptr ? text : "";
  for (char& c : s) {
    if (c == '|') c = brol_path_separator;
  }
  return s;
}

TEST(BrolStringEdit, AppendPathAndKeepAfterLast) {
  // '|' is the separator: a backslash in the Windows build, '/' in the POSIX build.
  const case_2 paths[] = {
      {"C:", "dir", "C:|dir"}, {"C:|", "dir", "C:|dir"}, {"", "dir", "|dir"},
      {"a", nullptr, "a|"},    {"a|", "", "a|"},         {"a", "|b", "a||b"},
  };
  for (const case_2& c : paths) {
    str s(with_separator(c.text));
    s.append_path(c.arg != nullptr ? with_separator(c.arg).c_str() : nullptr);
    EXPECT_EQ(s.s(), with_separator(c.expected)) << c.text;
  }
  // The other system's separator is an ordinary byte: it is not taken for the end of a folder.
  const char other = brol_path_separator == '/' ? '\\' : '/';
  str foreign(std::string("a") + other);
  foreign.append_path("b");
  EXPECT_EQ(foreign.s(), std::string("a") + other + brol_path_separator + "b");
  str own("C:");
  own.append_path(own.text);
  EXPECT_EQ(own.s(), with_separator("C:|C:"));
  own.append_path(own.text + own.length());  // the empty tail of the own text
  EXPECT_EQ(own.s(), with_separator("C:|C:|"));

  const struct {
    const char* text;
    char ch;
    bool result;
    const char* expected;
  } keeps[] = {
      {"a.b.c", '.', true, "c"}, {"abc.", '.', true, ""},  {"abc", '.', false, "abc"},
      {"", '.', false, ""},      {"abc", 0, false, "abc"},
  };
  for (const auto& k : keeps) {
    str s(k.text);
    EXPECT_EQ(s.keep_after_last(k.ch), k.result) << k.text;
    EXPECT_EQ(s.s(), k.expected) << k.text;
  }
}

TEST(BrolStringEdit, AppendRandom) {
  str s("id-");
  ASSERT_TRUE(s.append_random(8));
  ASSERT_EQ(s.length(), 11);
  EXPECT_EQ(s.s().substr(0, 3), "id-");
  for (char c : s.s().substr(3)) EXPECT_TRUE(std::isalnum(static_cast<unsigned char>(c))) << c;
  // The generator is never re-seeded: two draws in the same second differ.
  str a, b;
  ASSERT_TRUE(a.append_random(24));
  ASSERT_TRUE(b.append_random(24));
  EXPECT_NE(a.s(), b.s());
  EXPECT_TRUE(s.append_random(0));
  EXPECT_FALSE(s.append_random(-1));
  EXPECT_EQ(s.length(), 11);
  EXPECT_EQ(s.error, 0);
}

// Every allocation point of the allocating edits: error is 1 and the text is as promised.
TEST(BrolStringEdit, AllocationFailureAtEveryPoint) {
  const std::string start = "start/x\"y\"";
  const std::string long_text(150, 'y');
  const std::string ins40 = "0123456789012345678901234567890123456789";
  str other(long_text.c_str());
  struct op {
    const char* name;
    std::function<void(brol_string&)> run;
    std::function<bool(const std::string&)> acceptable;  // the text after a failure
  };
  const auto unchanged = [&](const std::string& t) { return t == start; };
  const auto lost = [](const std::string& t) { return t.empty(); };
  const op ops[] = {
      {"assign_trimmed", [&](brol_string& s) { s.assign_trimmed((" " + long_text).c_str()); }, lost},
      {"assign_trimmed_copy", [&](brol_string& s) { s.assign_trimmed_copy(other); }, lost},
      {"append_upper", [&](brol_string& s) { s.append_upper(long_text.c_str()); }, unchanged},
      {"append_lower", [&](brol_string& s) { s.append_lower(long_text.c_str()); }, unchanged},
      {"replace_all", [&](brol_string& s) { s.replace_all("t", ins40.c_str()); }, unchanged},
      {"replace_all own", [](brol_string& s) { s.replace_all(s.text + 1, s.text); }, unchanged},
      {"insert_before_each", [&](brol_string& s) { s.insert_before_each("t\"", ins40.c_str()); },
       [&](const std::string& t) {  // the t's may have had their insertions before the quotes failed
         return t == start || t == reference_insert_before_each(start, "t", ins40);
       }},
      {"insert_before_each own", [](brol_string& s) { s.insert_before_each(s.text + 9, s.text + 6); }, unchanged},
      {"base_name", [&](brol_string& s) { s.base_name(("a/" + long_text).c_str()); }, unchanged},
      {"dir_name", [&](brol_string& s) { s.dir_name(("a/" + long_text).c_str()); }, unchanged},
      {"append_path", [&](brol_string& s) { s.append_path(long_text.c_str()); }, unchanged},
      {"append_random", [](brol_string& s) { s.append_random(300); }, unchanged},
  };
  for (const op& o : ops) {
    SCOPED_TRACE(o.name);
    str s;
    const std::int64_t points = brol_test::for_each_allocation_failure(
        [&] {
          s.destroy();
          s.init_from(start.c_str());
        },
        [&] { o.run(s); },
        [&](std::int64_t n) {
          SCOPED_TRACE(n);
          EXPECT_EQ(s.error, 1);
          EXPECT_TRUE(o.acceptable(s.s())) << s.s();
        });
    EXPECT_GE(points, 1);
  }
}

}  // namespace
