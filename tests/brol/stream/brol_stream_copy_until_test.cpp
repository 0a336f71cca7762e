// copy_until under every arrangement of the two streams: pending output of the destination goes
// first, a buffer size changed while reading takes effect, and a failure on either side is reported
// on the source with its reason.
#include <gtest/gtest.h>

#include <cerrno>
#include <string>

#include "brol/stream/brol_stream.h"
#include "brol_test_stream_files.h"
#include "stream_test_fakes.h"

namespace {

using files = brol_test::stream_files;

TEST(BrolStreamCopyUntil, PendingOutputFirstThenTheBytesBeforeTheDelimiter) {
  std::string data = stream_test::sample_text(3000, 5);
  for (char& c : data) c = c == '#' ? '.' : c;
  for (const std::size_t at : {std::size_t{0}, std::size_t{1}, std::size_t{63}, std::size_t{64}, std::size_t{2999}}) {
    for (const bool pending : {false, true}) {
      for (const std::int64_t resized : {std::int64_t{0}, std::int64_t{7}, std::int64_t{1000}}) {
        SCOPED_TRACE(std::to_string(at) + " " + std::to_string(pending) + " " + std::to_string(resized));
        std::string text = data;
        text[at] = '#';
        files f(text, 64, 32);
        ASSERT_TRUE(f.dest.enable_write_buffer());
        std::string expected = text.substr(0, at);
        if (pending) {
          ASSERT_TRUE(f.dest.write_text("head:"));
          expected = "head:" + expected;
        }
        if (resized != 0 && at > 64) {
          // The first buffer read empty, then resized: the copy starts with a fresh area of the new size.
          char first[64];
          ASSERT_TRUE(f.source.get_bytes(first, sizeof first));
          expected.erase(expected.size() - at, 64);
        }
        if (resized != 0) {
          ASSERT_TRUE(f.source.set_buffer_size(resized));  // replaced when next found empty
        }
        stream_test::fake_os fake;
        stream_test::reads.random = true;
        stream_test::writes.random = true;
        ASSERT_TRUE(f.source.copy_until('#', f.dest));
        EXPECT_EQ(f.source.position, static_cast<std::int64_t>(at) + 1);
        if (resized != 0) {
          EXPECT_EQ(f.source.buffer_size, resized);
        }
        EXPECT_EQ(f.copied(), expected);
      }
    }
  }
}

TEST(BrolStreamCopyUntil, FailuresAreReportedOnTheSource) {
  const std::string text = "abcdef#ghi";
  {
    // The destination's pending bytes cannot go out: nothing is read from the source.
    files f(text, 16, 16);
    ASSERT_TRUE(f.dest.enable_write_buffer());
    ASSERT_TRUE(f.dest.write_text("head:"));
    stream_test::fake_os fake;
    stream_test::writes.fail_at = 1;
    stream_test::writes.fail_errno = ENOSPC;
    EXPECT_FALSE(f.source.copy_until('#', f.dest));
    EXPECT_EQ(f.source.status, brol_stream_io_failed);
    EXPECT_EQ(f.source.error_number, ENOSPC);
    EXPECT_EQ(f.source.position, 0);
    EXPECT_EQ(stream_test::reads.calls, 0);
  }
  {
    // A failing read is no end of the data.
    files f(text, 16, 16);
    stream_test::fake_os fake;
    stream_test::reads.fail_at = 1;
    stream_test::reads.fail_errno = ECONNRESET;
    EXPECT_FALSE(f.source.copy_until('#', f.dest));
    EXPECT_EQ(f.source.status, brol_stream_io_failed);
    EXPECT_EQ(f.source.error_number, ECONNRESET);
    EXPECT_EQ(f.source.at_end, 0u);
  }
}

}  // namespace
