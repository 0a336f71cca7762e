// The stream's life cycle (open, attach, close, names) and the blocking-call watch.
#include "brol/stream/brol_stream.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <thread>

#include "stream_test_fakes.h"

namespace {

using stream_test::read_file;
using stream_test::write_file;

TEST(BrolStreamLife, InitGivesAClosedStreamAndDestroyReturnsToIt) {
  stream_test::stream t(8192);
  brol_stream& s = t.s;
  EXPECT_EQ(s.timeout_ticks, 4);
  EXPECT_EQ(s.buffer_size, 8192);
  EXPECT_EQ(s.wanted_size, 8192);
  EXPECT_EQ(s.file, brol_invalid_file);
  EXPECT_EQ(s.socket, brol_invalid_socket);
  EXPECT_FALSE(s.is_open());
  EXPECT_EQ(s.get_byte(), brol_stream_not_open);
  EXPECT_FALSE(s.write_text("x"));
  EXPECT_EQ(s.status, brol_stream_not_open);
  brol_test::temp_dir dir;
  ASSERT_TRUE(s.open_format("%s", 0x301, dir.file("f").c_str()));
  s.destroy();
  EXPECT_EQ(s.name, nullptr);
  EXPECT_EQ(s.status, 0);
  EXPECT_FALSE(s.is_open());
  s.destroy();  // harmless twice; the guard destroys a third time
}

TEST(BrolStreamOpen, FlagsChooseAccessAndDisposition) {
  brol_test::temp_dir dir;
  const std::string path = dir.file("data.txt");
  struct row {
    int flags;
    bool exists_before;
    bool opens;
    const char* content_after_write;  // null: the write must fail
  };
  const row rows[] = {
      {0, true, true, nullptr},        // read only
      {0, false, false, nullptr},      // must exist
      {0x301, true, true, "xy"},       // write, create, truncate
      {0x101, true, true, "xy"},       // an existing longer file is emptied
      {0x201, true, true, "xy"},       // truncate alone empties too
      {0x101, false, true, "xy"},      // created
      {0x1, true, true, "xy3456789"},  // write in place
      {0x2, true, true, "xy3456789"},  // read and write in place
      {0x1, false, false, nullptr},    // must exist
  };
  for (const row& r : rows) {
    SCOPED_TRACE(r.flags);
    std::remove(path.c_str());
    if (r.exists_before) {
      write_file(path, "123456789");
    }
    stream_test::stream t;
    EXPECT_EQ(t->open(path.c_str(), r.flags), r.opens);
    if (!r.opens) {
      EXPECT_EQ(t->status, brol_stream_open_failed);
      EXPECT_EQ(t->error_number, ENOENT);
      EXPECT_EQ(t->name, nullptr);
      continue;
    }
    EXPECT_EQ(t->status, 0);
    EXPECT_EQ(t->file_size, r.exists_before ? 9u : 0u);  // measured before emptying
    EXPECT_STREQ(t->name, path.c_str());
    EXPECT_EQ(t->write_text("xy"), r.content_after_write != nullptr);
    EXPECT_TRUE(t->close(false));
    EXPECT_EQ(read_file(path), r.content_after_write != nullptr ? r.content_after_write : "123456789");
  }
}

TEST(BrolStreamOpen, FailuresAndReopen) {
  brol_test::temp_dir dir;
  stream_test::stream t;
  EXPECT_FALSE(t->open(nullptr, 0));  // nothing to reopen
  EXPECT_EQ(t->status, brol_stream_open_failed);
  EXPECT_FALSE(t->open(dir.path().c_str(), 0));
  EXPECT_EQ(t->status, brol_stream_is_directory);
  EXPECT_EQ(t->error_number, EISDIR);

  const std::string path = dir.file("r.txt");
  write_file(path, "abc");
  ASSERT_TRUE(t->open(path.c_str(), 0));
  EXPECT_EQ(t->get_byte(), 'a');
  t->set_mark();
  EXPECT_EQ(t->get_byte(), 'b');
  EXPECT_EQ(t->get_byte(), 'c');
  EXPECT_EQ(t->get_byte(), brol_stream_end_of_data);
  // Opening again (the stored name) starts clean, whatever the stream did before.
  ASSERT_TRUE(t->open(nullptr, 0));
  EXPECT_EQ(t->at_end, 0u);
  EXPECT_EQ(t->mark, 0);
  EXPECT_EQ(t->position, 0);
  EXPECT_EQ(t->get_byte(), 'a');
  // A failed open keeps the name of the last one and leaves the stream closed.
  EXPECT_FALSE(t->open(dir.file("missing").c_str(), 0));
  EXPECT_FALSE(t->is_open());
  EXPECT_STREQ(t->name, path.c_str());

  // A path that does not fit the 512-byte area is never opened cut.
  const std::string long_name(600, 'n');
  EXPECT_FALSE(t->open_format("%s/%s", 0x301, dir.path().c_str(), long_name.c_str()));
  EXPECT_EQ(t->status, brol_stream_open_failed);
  EXPECT_EQ(t->error_number, ENAMETOOLONG);
  EXPECT_FALSE(t->is_open());
}

TEST(BrolStreamOpen, SystemFailuresThroughTheCallTable) {
  brol_test::temp_dir dir;
  const std::string path = dir.file("x");
  write_file(path, "12345");
  stream_test::stream t;
  // stat failing is not fatal: the size is unknown.
  brol_os.file_stat = [](const char*, brol_file_status*) {
    errno = EACCES;
    return false;
  };
  EXPECT_TRUE(t->open(path.c_str(), 0));
  EXPECT_EQ(t->file_size, 0u);
  EXPECT_EQ(t->error_number, 0);
  brol_os.file_open = [](const char*, std::uint32_t, std::uint32_t) {
    errno = EACCES;
    return brol_invalid_file;
  };
  EXPECT_FALSE(t->open(path.c_str(), 0));
  EXPECT_EQ(t->status, brol_stream_open_failed);
  EXPECT_EQ(t->error_number, EACCES);
  EXPECT_FALSE(t->is_open());
  brol_os = brol_platform_defaults();
}

TEST(BrolStreamOpen, NameAllocationFailureClosesTheNewFile) {
  brol_test::temp_dir dir;
  const std::string path = dir.file("n");
  stream_test::stream t;
  brol_test::for_each_allocation_failure(
      [&] {
        t->destroy();
        t->init(64);
      },
      [&] { t->open(path.c_str(), 0x301); },
      [&](std::int64_t) {
        EXPECT_FALSE(t->is_open());
        EXPECT_EQ(t->status, brol_stream_no_memory);
        EXPECT_EQ(t->name, nullptr);
      });
}

TEST(BrolStreamLife, AttachAndDetach) {
  brol_test::temp_dir dir;
  const std::string path = dir.file("a");
  stream_test::stream owner;
  ASSERT_TRUE(owner->open(path.c_str(), 0x301));
  {
    stream_test::stream guest;
    EXPECT_TRUE(guest->attach_file(owner->file, "guest"));
    EXPECT_STREQ(guest->name, "guest");
    EXPECT_TRUE(guest->write_text("one "));
    // close(true) leaves the handle to its other owner.
    EXPECT_TRUE(guest->close(true));
    EXPECT_FALSE(guest->is_open());
  }
  EXPECT_TRUE(owner->write_text("two"));
  EXPECT_TRUE(owner->close(false));
  EXPECT_EQ(read_file(path), "one two");

  stream_test::stream s;
  EXPECT_TRUE(s->attach_socket(-1, "nobody"));
  EXPECT_FALSE(s->is_open());
  EXPECT_EQ(s->is_socket, 0u);
}

TEST(BrolStreamLife, SetNameReusesLargeEnoughStorage) {
  stream_test::stream t;
  ASSERT_TRUE(t->set_name("a longer name"));
  char* storage = t->name;
  ASSERT_TRUE(t->set_name("short"));
  EXPECT_EQ(t->name, storage);
  ASSERT_TRUE(t->set_name(t->name + 2));  // a text inside the name itself
  EXPECT_STREQ(t->name, "ort");
  brol_test::alloc_failure failing(1);
  EXPECT_FALSE(t->set_name("a name longer than any before"));
  EXPECT_EQ(t->status, brol_stream_no_memory);
  EXPECT_STREQ(t->name, "ort");
}

TEST(BrolStreamLife, CloseReportsAFailedFinalWriteOut) {
  brol_test::temp_dir dir;
  stream_test::stream t(16);
  ASSERT_TRUE(t->open(dir.file("w").c_str(), 0x301));
  ASSERT_TRUE(t->enable_write_buffer());
  EXPECT_TRUE(t->write_text("pending"));
  stream_test::fake_os fake;
  stream_test::writes.fail_at = 1;
  stream_test::writes.fail_errno = ENOSPC;
  EXPECT_FALSE(t->close(false));
  EXPECT_EQ(t->status, brol_stream_io_failed);
  EXPECT_EQ(t->error_number, ENOSPC);
  EXPECT_FALSE(t->is_open());
  EXPECT_EQ(t->write_buffered, 0u);
  // A clean close clears the status again.
  ASSERT_TRUE(t->open(nullptr, 0));
  EXPECT_TRUE(t->close(false));
  EXPECT_EQ(t->status, 0);
}

TEST(BrolStreamWatch, CountsTicksAndAbortsOnce) {
  EXPECT_EQ(brol_stream::tick(), 0);
  brol_stream::arm(nullptr, 518);
  EXPECT_EQ(brol_watch.stream.load(), nullptr);
  stream_test::stream t;
  stream_test::socket_pair pair;
  pair.attach(t.s);
  const brol_socket_handle handle = t->socket;
  t->timeout_ticks = 0x10003;  // the low 16 bits count
  stream_test::fake_os fake;
  brol_stream::arm(&t.s, 519);
  EXPECT_EQ(brol_stream::tick(), 0);
  EXPECT_EQ(brol_stream::tick(), 0);
  EXPECT_EQ(brol_stream::tick(), 519);
  EXPECT_EQ(t->status, brol_stream_aborted);
  EXPECT_EQ(brol_stream::tick(), 0);  // disarmed by the abort
  // Every later operation answers 516 and the status stays until close, which does not close the
  // handle a second time.
  EXPECT_EQ(t->get_byte(), brol_stream_not_open);
  EXPECT_FALSE(t->write_text("x"));
  EXPECT_EQ(t->status, brol_stream_aborted);
  EXPECT_EQ(stream_test::closed_sockets, std::vector<brol_socket_handle>{handle});
  EXPECT_TRUE(t->close(false));
  EXPECT_EQ(t->status, 0);
  EXPECT_EQ(stream_test::closed_sockets.size(), 1u);
}

TEST(BrolStreamWatch, TickFromAnotherThreadEndsABlockedRead) {
  stream_test::stream t;
  stream_test::socket_pair pair;
  pair.attach(t.s);
  t->timeout_ticks = 2;
  std::atomic<bool> done{false};
  std::atomic<int> aborted_operation{0};
  std::thread host([&] {
    while (!done.load()) {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
      if (const std::uint16_t op = brol_stream::tick(); op != 0) {
        aborted_operation = op;
      }
    }
  });
  const std::uint16_t result = t->get_byte();  // the peer sends nothing
  done = true;
  host.join();
  EXPECT_EQ(result, brol_stream_not_open);
  EXPECT_EQ(aborted_operation.load(), 518);
  EXPECT_EQ(t->status, brol_stream_aborted);
  EXPECT_EQ(t->get_byte(), brol_stream_not_open);
  EXPECT_TRUE(t->close(false));
  EXPECT_EQ(t->status, 0);
}

}  // namespace
