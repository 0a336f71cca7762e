// printf-style writes compared with the C library's own snprintf, also where it cannot format a text.
#include <gtest/gtest.h>

#include <cerrno>
#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cwchar>
#include <string>

#include "brol/stream/brol_stream.h"
#include "stream_test_fakes.h"

namespace {

using stream_test::read_file;
using stream_test::stream;

// A wide text that the C locale cannot convert on runtimes that check it: snprintf then gives -1.
const wchar_t k_unconvertible[] = {0xFF, 0x2603, 0};

// What the C library makes of "<%*d>" and of "%*ls" (false when it reports an encoding error).
std::string reference_number(int width) {
  std::string out(static_cast<std::size_t>(width) + 16, '\0');
  out.resize(static_cast<std::size_t>(std::snprintf(out.data(), out.size(), "<%*d>", width, width)));
  return out;
}

bool reference_wide(std::string* out, int width) {
  const int n = std::snprintf(nullptr, 0, "%*ls", width, k_unconvertible);
  if (n < 0) {
    return false;
  }
  out->assign(static_cast<std::size_t>(n) + 1, '\0');
  std::snprintf(out->data(), out->size(), "%*ls", width, k_unconvertible);
  out->pop_back();
  return true;
}

// write_vprintf with a format the compiler cannot check (here null).
bool vprintf_unchecked(brol_stream& s, const char* format, ...) {
  std::va_list arguments;
  va_start(arguments, format);
  const bool result = s.write_vprintf(format, arguments);
  va_end(arguments);
  return result;
}

TEST(BrolStreamPrintf, TextsAsTheCLibraryFormatsThem) {
  brol_test::temp_dir dir;
  const std::string path = dir.file("out");
  stream t(8);
  ASSERT_TRUE(t->open(path.c_str(), 0x301));
  std::string expected;
  // Lengths around the 512-byte area, the empty text and a null format (nothing written).
  for (int width : {0, 1, 510, 511, 512, 513, 1023, 1024, 70000}) {
    EXPECT_TRUE(t->write_printf("<%*d>", width, width)) << width;
    expected += reference_number(width);
  }
  EXPECT_TRUE(t->write_printf("%s", ""));
  EXPECT_TRUE(vprintf_unchecked(t.s, nullptr));
  EXPECT_EQ(t->status, brol_stream_ok);
  ASSERT_TRUE(t->close(false));
  EXPECT_EQ(read_file(path), expected);
}

// Texts the C library may refuse: a wide text it cannot convert (then its error is reported as
// EINVAL), and a text longer than an int can count (EOVERFLOW), which must fail at once, without
// formatting the text again into larger areas. All rows take a width and a wide text.
struct refused_row {
  const char* format;
  int width;
  const wchar_t* text;
};

int reference_refused(const refused_row& row) {
  errno = 0;
  return std::snprintf(nullptr, 0, row.format, row.width, row.text) < 0 ? errno : 0;
}

TEST(BrolStreamPrintf, ATextTheCLibraryCannotFormatIsRefused) {
  const refused_row rows[] = {
      {"%*ls", 0, k_unconvertible},
      {"%*ls", 600, k_unconvertible},
      {"%2147483648d", 7, L""},  // a width beyond an int (the wide text is left unused)
#ifndef _WIN32                   // MinGW-w64's printf faults on a text of more than 2 GiB
      {"%2$*1$ls%2$*1$ls", INT_MAX, L""},
#endif
  };
  for (const refused_row& row : rows) {
    SCOPED_TRACE(row.format);
    SCOPED_TRACE(row.width);
    brol_test::temp_dir dir;
    const std::string path = dir.file("out");
    stream t(8);
    ASSERT_TRUE(t->open(path.c_str(), 0x301));
    ASSERT_TRUE(t->write_text("kept"));
    const int refused = reference_refused(row);
    std::string expected;
    if (refused == 0) {
      expected.resize(static_cast<std::size_t>(std::snprintf(nullptr, 0, row.format, row.width, row.text)) + 1);
      std::snprintf(expected.data(), expected.size(), row.format, row.width, row.text);
      expected.pop_back();
    }
    const std::int64_t allocations = brol_test::count_allocations(
        [&] { EXPECT_EQ(vprintf_unchecked(t.s, row.format, row.width, row.text), refused == 0); });
    if (refused != 0) {
      EXPECT_EQ(t->status, brol_stream_io_failed);
      EXPECT_EQ(t->error_number, refused == EOVERFLOW ? EOVERFLOW : EINVAL);
      // The heap areas tried are bounded, then the attempt ends; none of them is kept. A text too
      // long to count is given none.
      EXPECT_LT(allocations, refused == EOVERFLOW ? 1 : 20);
      t->status = brol_stream_ok;
    }
    EXPECT_TRUE(t->write_text("!"));
    ASSERT_TRUE(t->close(false));
    EXPECT_EQ(read_file(path), "kept" + expected + "!");
  }
}

TEST(BrolStreamPrintf, APathTheCLibraryCannotFormatIsNeverOpened) {
  brol_test::temp_dir dir;
  stream t(8);
  std::string expected;
  if (reference_wide(&expected, 0)) {
    GTEST_SKIP() << "this C library formats any wide text";
  }
  EXPECT_FALSE(t->open_format("%s/%ls", brol_open_write | brol_open_create, dir.path().c_str(), k_unconvertible));
  EXPECT_EQ(t->status, brol_stream_open_failed);
  EXPECT_EQ(t->error_number, EINVAL);
  EXPECT_FALSE(t->is_open());
}

}  // namespace
