// printf-style writes compared with the C library's own snprintf, also where it cannot format a text.
#include <gtest/gtest.h>

#include <cerrno>
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

TEST(BrolStreamPrintf, ATextTheCLibraryCannotFormatIsRefused) {
  for (int width : {0, 600}) {
    SCOPED_TRACE(width);
    brol_test::temp_dir dir;
    const std::string path = dir.file("out");
    stream t(8);
    ASSERT_TRUE(t->open(path.c_str(), 0x301));
    ASSERT_TRUE(t->write_text("kept"));
    std::string expected;
    const bool formats = reference_wide(&expected, width);
    const std::int64_t allocations =
        brol_test::count_allocations([&] { EXPECT_EQ(t->write_printf("%*ls", width, k_unconvertible), formats); });
    if (!formats) {
      EXPECT_EQ(t->status, brol_stream_io_failed);
      EXPECT_EQ(t->error_number, EINVAL);
      // The heap areas tried are bounded, then the attempt ends; none of them is kept.
      EXPECT_LT(allocations, 20);
      t->status = brol_stream_ok;
    }
    EXPECT_TRUE(t->write_text("!"));
    ASSERT_TRUE(t->close(false));
    EXPECT_EQ(read_file(path), "kept" + (formats ? expected : "") + "!");
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
