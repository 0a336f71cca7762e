// The empty text has two forms (no buffer yet, or a buffer holding ""), and callers pass null for "":
// every comparison and printf-style append must answer the same for each form.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <cwchar>
#include <string>

#include "brol/string/brol_string.h"
#include "brol_test_support.h"

namespace {

using str = brol_test::owned_string;

// The string's own text for each form: "fresh" has no buffer, the others hold text.
struct form {
  const char* name;
  const char* text;  // null: a fresh string
};

// What the comparisons answer, computed on std::string: null stands for "", and a length limit n
// compares the first n bytes (n <= 0 compares nothing and matches).
bool expected_equal(const char* own, const char* other, std::int64_t n, bool nocase) {
  std::string a = own != nullptr ? own : "", b = other != nullptr ? other : "";
  if (nocase) {
    for (char& c : a) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    for (char& c : b) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  }
  if (n < 0) {
    return true;
  }
  return a.substr(0, static_cast<std::size_t>(n)) == b.substr(0, static_cast<std::size_t>(n));
}

TEST(BrolStringEmptyForms, ComparisonsTreatNullAndBothEmptyFormsAlike) {
  const form forms[] = {{"fresh", nullptr}, {"empty", ""}, {"Ab", "Ab"}};
  const char* others[] = {nullptr, "", "a", "AB", "Abc"};
  const std::int64_t limits[] = {-1, 0, 1, 2, 5};
  for (const form& f : forms) {
    str s;
    if (f.text != nullptr) {
      ASSERT_TRUE(s.assign(f.text).error == 0);
    }
    for (const char* other : others) {
      SCOPED_TRACE(std::string(f.name) + " vs " + (other != nullptr ? other : "null"));
      EXPECT_EQ(s.equals(other), expected_equal(f.text, other, 1 << 20, false));
      EXPECT_EQ(s.equals_nocase(other), expected_equal(f.text, other, 1 << 20, true));
      for (const std::int64_t n : limits) {
        EXPECT_EQ(s.equals_n(other, n), expected_equal(f.text, other, n <= 0 ? -1 : n, false)) << n;
        EXPECT_EQ(s.equals_n_nocase(other, n), expected_equal(f.text, other, n <= 0 ? -1 : n, true)) << n;
      }
    }
  }
}

// A wide text that the C locale cannot convert on runtimes that check it: snprintf then gives -1.
const wchar_t k_unconvertible[] = {0xFF, 0x2603, 0};

TEST(BrolStringEmptyForms, PrintfAppendsWhatTheCLibraryFormats) {
  for (int width : {0, 255, 256, 257, 5000}) {
    str s("x");
    ASSERT_TRUE(s.append_printf("%*d|", width, width));
    std::string expected(static_cast<std::size_t>(width) + 8, '\0');
    expected.resize(static_cast<std::size_t>(std::snprintf(expected.data(), expected.size(), "x%*d|", width, width)));
    EXPECT_EQ(std::string(s.c_str()), expected) << width;
  }
  // A text the C library refuses to format fails at once, keeping the string's text; no area grows
  // towards the 2 GiB that vsnprintf could report.
  str s("kept");
  const bool formats = std::snprintf(nullptr, 0, "%ls", k_unconvertible) >= 0;
  const std::int64_t allocations =
      brol_test::count_allocations([&] { EXPECT_EQ(s.append_printf("%ls", k_unconvertible), formats); });
  EXPECT_LE(allocations, formats ? 2 : 1);
  EXPECT_EQ(std::string(s.c_str()).substr(0, 4), "kept");
}

}  // namespace
