// The platform layer's files and sockets on the real system: results, errno numbers, 64-bit offsets.
#include "brol/platform/brol_platform.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <string>

#include "brol_test_support.h"

namespace {

const brol_platform_calls& os = brol_platform_defaults();

using brol_test::sockets_started;

brol_file_handle create(const std::string& path) {
  return os.file_open(path.c_str(), brol_access_read | brol_access_write, brol_create_always);
}

TEST(BrolPlatformFiles, WriteSeekReadStat) {
  brol_test::temp_dir dir;
  const std::string path = dir.file("a.txt");
  const brol_file_handle f = create(path);
  ASSERT_NE(f, brol_invalid_file);
  EXPECT_EQ(os.file_write(f, "hello world", 11), 11);
  EXPECT_EQ(os.file_seek(f, -5, brol_seek_end), 6);
  char got[16] = {};
  EXPECT_EQ(os.file_read(f, got, sizeof got), 5);
  EXPECT_EQ(std::string(got), "world");
  EXPECT_EQ(os.file_read(f, got, sizeof got), 0);
  EXPECT_EQ(os.file_seek(f, 0, brol_seek_current), 11);
  // A move before the start is refused and leaves the pointer alone.
  EXPECT_EQ(os.file_seek(f, -100, brol_seek_current), -1);
  EXPECT_EQ(errno, EINVAL);
  EXPECT_EQ(os.file_seek(f, 0, brol_seek_current), 11);
  // Offsets are 64-bit: beyond 4 GiB on a file that stays sparse.
  const std::int64_t beyond_4gib = (std::int64_t{5} << 30) + 3;
  EXPECT_EQ(os.file_seek(f, beyond_4gib, brol_seek_begin), beyond_4gib);
  EXPECT_TRUE(os.file_close(f));

  brol_file_status st{};
  ASSERT_TRUE(os.file_stat(path.c_str(), &st));
  EXPECT_EQ(st.size, 11);
  EXPECT_EQ(st.mode & brol_mode_type_mask, 0x8000u);
  ASSERT_TRUE(os.file_stat(dir.path().c_str(), &st));
  EXPECT_EQ(st.mode & brol_mode_type_mask, brol_mode_directory);

  // Creating again empties the file.
  const brol_file_handle again = create(path);
  ASSERT_NE(again, brol_invalid_file);
  EXPECT_TRUE(os.file_close(again));
  ASSERT_TRUE(os.file_stat(path.c_str(), &st));
  EXPECT_EQ(st.size, 0);
}

TEST(BrolPlatformFiles, FailuresLeaveErrno) {
  brol_test::temp_dir dir;
  const std::string missing = dir.file("missing");
  errno = 0;
  EXPECT_EQ(os.file_open(missing.c_str(), brol_access_read, brol_open_existing), brol_invalid_file);
  EXPECT_EQ(errno, ENOENT);
  errno = 0;
  EXPECT_EQ(create(dir.file("no/such/dir")), brol_invalid_file);
  EXPECT_EQ(errno, ENOENT);
  brol_file_status st{};
  errno = 0;
  EXPECT_FALSE(os.file_stat(missing.c_str(), &st));
  EXPECT_EQ(errno, ENOENT);
  // A directory is never opened as a file (EACCES on Windows, EISDIR on POSIX).
  errno = 0;
  EXPECT_EQ(os.file_open(dir.path().c_str(), brol_access_read, brol_open_existing), brol_invalid_file);
  EXPECT_TRUE(errno == EACCES || errno == EISDIR) << errno;

  // A handle open for the other direction only is refused access; a closed one is a bad handle.
  const brol_file_handle f = create(dir.file("b"));
  ASSERT_TRUE(os.file_close(f));
  const brol_file_handle reader = os.file_open(dir.file("b").c_str(), brol_access_read, brol_open_existing);
  const brol_file_handle writer = os.file_open(dir.file("c").c_str(), brol_access_write, brol_create_always);
  char c;
  errno = 0;
  EXPECT_EQ(os.file_write(reader, "x", 1), -1);
  EXPECT_EQ(errno, EACCES);
  errno = 0;
  EXPECT_EQ(os.file_read(writer, &c, 1), -1);
  EXPECT_EQ(errno, EACCES);
  EXPECT_TRUE(os.file_close(reader));
  EXPECT_TRUE(os.file_close(writer));
  errno = 0;
  EXPECT_EQ(os.file_read(f, &c, 1), -1);
  EXPECT_EQ(errno, EBADF);
  errno = 0;
  EXPECT_EQ(os.file_write(f, "x", 1), -1);
  EXPECT_EQ(errno, EBADF);
}

void write_all(const std::string& path, const std::string& content) {
  const brol_file_handle f = create(path);
  ASSERT_NE(f, brol_invalid_file) << path;
  ASSERT_EQ(os.file_write(f, content.data(), static_cast<std::int32_t>(content.size())),
            static_cast<std::int32_t>(content.size()));
  ASSERT_TRUE(os.file_close(f));
}

bool is_directory(const std::string& path) {
  brol_file_status st{};
  return os.file_stat(path.c_str(), &st) && (st.mode & brol_mode_type_mask) == brol_mode_directory;
}

TEST(BrolPlatformFiles, CreateNewNeverTakesAnExistingName) {
  brol_test::temp_dir dir;
  const std::string path = dir.file("new");
  const brol_file_handle f = os.file_open(path.c_str(), brol_access_write, brol_create_new);
  ASSERT_NE(f, brol_invalid_file);
  EXPECT_EQ(os.file_write(f, "kept", 4), 4);
  EXPECT_TRUE(os.file_close(f));
  for (const std::string& taken : {path, dir.path()}) {
    errno = 0;
    EXPECT_EQ(os.file_open(taken.c_str(), brol_access_write, brol_create_new), brol_invalid_file) << taken;
    EXPECT_EQ(errno, EEXIST) << taken;
  }
  EXPECT_EQ(brol_test::read_file(path), "kept");
}

TEST(BrolPlatformFiles, AppendingLandsAtTheEndWhateverOthersDo) {
  brol_test::temp_dir dir;
  const std::string path = dir.file("log");
  write_all(path, "head|");
  const brol_file_handle first = os.file_open_append(path.c_str());
  const brol_file_handle second = os.file_open_append(path.c_str());
  ASSERT_NE(first, brol_invalid_file);
  ASSERT_NE(second, brol_invalid_file) << "a second appender must not be blocked";
  // A reader that holds the file open (as a log viewer does) blocks neither appender.
  std::FILE* reader = std::fopen(path.c_str(), "rb");
  ASSERT_NE(reader, nullptr);
  EXPECT_EQ(os.file_append(first, "a1|", 3), 3);
  EXPECT_EQ(os.file_append(second, "b1|", 3), 3);
  // Moving an appender's pointer back does not make it overwrite.
  EXPECT_GE(os.file_seek(first, 0, brol_seek_begin), 0);
  EXPECT_EQ(os.file_append(first, "a2|", 3), 3);
  EXPECT_EQ(os.file_append(second, "b2", 2), 2);
  char got[32] = {};
  EXPECT_EQ(std::fread(got, 1, sizeof got - 1, reader), 16u);
  std::fclose(reader);
  EXPECT_EQ(std::string(got), "head|a1|b1|a2|b2");
  // A plain write through an appending handle lands at the end too.
  EXPECT_EQ(os.file_write(second, "|c", 2), 2);
  EXPECT_EQ(brol_test::read_file(path), "head|a1|b1|a2|b2|c");
  EXPECT_TRUE(os.file_close(first));
  EXPECT_TRUE(os.file_close(second));
}

TEST(BrolPlatformFiles, AppendingCreatesAndRefusesDirectories) {
  brol_test::temp_dir dir;
  const std::string path = dir.file("fresh");
  const brol_file_handle f = os.file_open_append(path.c_str());
  ASSERT_NE(f, brol_invalid_file);
  EXPECT_EQ(os.file_append(f, "x", 1), 1);
  EXPECT_TRUE(os.file_flush(f));
  EXPECT_TRUE(os.file_close(f));
  EXPECT_EQ(brol_test::read_file(path), "x");
  errno = 0;
  EXPECT_EQ(os.file_open_append(dir.path().c_str()), brol_invalid_file);
  EXPECT_TRUE(errno == EACCES || errno == EISDIR) << errno;
  errno = 0;
  EXPECT_EQ(os.file_open_append(dir.file("no/such/dir").c_str()), brol_invalid_file);
  EXPECT_EQ(errno, ENOENT);
  errno = 0;
  EXPECT_FALSE(os.file_flush(f));
  EXPECT_EQ(errno, EBADF);
  errno = 0;
  EXPECT_EQ(os.file_append(f, "x", 1), -1);
  EXPECT_EQ(errno, EBADF);
}

TEST(BrolPlatformFiles, AppendingPastFourGibibytes) {
  brol_test::temp_dir dir;
  const std::string path = dir.file("big");
  const std::int64_t last = (std::int64_t{4} << 30) + 5;  // stays sparse
  const brol_file_handle f = create(path);
  ASSERT_NE(f, brol_invalid_file);
  ASSERT_EQ(os.file_seek(f, last, brol_seek_begin), last);
  ASSERT_EQ(os.file_write(f, "<", 1), 1);
  ASSERT_TRUE(os.file_close(f));
  const brol_file_handle log = os.file_open_append(path.c_str());
  ASSERT_NE(log, brol_invalid_file);
  EXPECT_EQ(os.file_append(log, "tail", 4), 4);
  EXPECT_TRUE(os.file_close(log));
  brol_file_status st{};
  ASSERT_TRUE(os.file_stat(path.c_str(), &st));
  EXPECT_EQ(st.size, last + 5);
  const brol_file_handle check = os.file_open(path.c_str(), brol_access_read, brol_open_existing);
  ASSERT_EQ(os.file_seek(check, last, brol_seek_begin), last);
  char got[8] = {};
  EXPECT_EQ(os.file_read(check, got, sizeof got), 5);
  EXPECT_EQ(std::string(got), "<tail");
  EXPECT_TRUE(os.file_close(check));
}

TEST(BrolPlatformFiles, ReplaceSwapsWholeFilesOrNothing) {
  brol_test::temp_dir dir;
  const std::string from = dir.file("new.tmp");
  const std::string to = dir.file("target");
  // The new file as a replacement hands it over: written and still open.
  auto written = [&](const std::string& text) {
    const brol_file_handle f = os.file_open(from.c_str(), brol_access_write, brol_create_always);
    EXPECT_EQ(os.file_write(f, text.data(), static_cast<std::int32_t>(text.size())),
              static_cast<std::int32_t>(text.size()));
    return f;
  };
  // Onto an existing file.
  write_all(to, "old content");
  EXPECT_TRUE(os.file_replace(written("new"), from.c_str(), to.c_str()));
  EXPECT_EQ(brol_test::read_file(to), "new");
  EXPECT_EQ(brol_test::read_file(from), "<missing>");
  // Without a target: a rename.
  const std::string other = dir.file("other");
  EXPECT_TRUE(os.file_replace(written("second"), from.c_str(), other.c_str()));
  EXPECT_EQ(brol_test::read_file(other), "second");
  EXPECT_EQ(brol_test::read_file(from), "<missing>");
  // A source name that names nothing changes nothing.
  errno = 0;
  const brol_file_handle elsewhere = os.file_open(dir.file("elsewhere").c_str(), brol_access_write, brol_create_always);
  EXPECT_FALSE(os.file_replace(elsewhere, from.c_str(), to.c_str()));
  EXPECT_EQ(errno, ENOENT);
  EXPECT_EQ(brol_test::read_file(to), "new");
  // A directory is never replaced by a file; the file stays where it was.
  const std::string folder = dir.file("folder");
  ASSERT_TRUE(os.dir_create(folder.c_str()));
  const brol_file_handle third = written("third");
  errno = 0;
  EXPECT_FALSE(os.file_replace(third, from.c_str(), folder.c_str()));
  EXPECT_TRUE(errno == EACCES || errno == EISDIR || errno == EEXIST) << errno;
  EXPECT_TRUE(is_directory(folder));
  EXPECT_EQ(brol_test::read_file(from), "third");
}

TEST(BrolPlatformFiles, RemoveTakesFilesOnly) {
  brol_test::temp_dir dir;
  const std::string path = dir.file("gone");
  write_all(path, "x");
  EXPECT_TRUE(os.file_remove(path.c_str()));
  EXPECT_EQ(brol_test::read_file(path), "<missing>");
  errno = 0;
  EXPECT_FALSE(os.file_remove(path.c_str()));
  EXPECT_EQ(errno, ENOENT);
  errno = 0;
  EXPECT_FALSE(os.file_remove(dir.path().c_str()));
  EXPECT_EQ(errno, EACCES);
  EXPECT_TRUE(is_directory(dir.path()));
}

TEST(BrolPlatformFiles, DirectoryCreationOneLevelAtATime) {
  brol_test::temp_dir dir;
  const std::string sub = dir.file("sub");
  EXPECT_TRUE(os.dir_create(sub.c_str()));
  EXPECT_TRUE(is_directory(sub));
  struct row {
    std::string path;
    int number;
  };
  write_all(dir.file("file"), "x");
  const row rows[] = {{sub, EEXIST}, {dir.file("file"), EEXIST}, {dir.file("missing/child"), ENOENT}};
  for (const row& r : rows) {
    errno = 0;
    EXPECT_FALSE(os.dir_create(r.path.c_str())) << r.path;
    EXPECT_EQ(errno, r.number) << r.path;
  }
}

TEST(BrolPlatformSockets, LoopbackPairCarriesBytesBothWays) {
  ASSERT_TRUE(sockets_started);
  brol_socket_handle a, b;
  ASSERT_TRUE(brol_platform_loopback_pair(&a, &b));
  EXPECT_EQ(os.socket_send(a, "ping", 4), 4);
  char got[8] = {};
  EXPECT_EQ(os.socket_recv(b, got, sizeof got), 4);
  EXPECT_EQ(std::string(got), "ping");
  EXPECT_EQ(os.socket_send(b, "pong!", 5), 5);
  EXPECT_EQ(os.socket_recv(a, got, sizeof got), 5);
  // The end of one direction reads as 0 on the other side.
  EXPECT_TRUE(os.socket_shutdown(b, brol_shutdown_both));
  EXPECT_EQ(os.socket_recv(a, got, sizeof got), 0);
  EXPECT_TRUE(os.socket_close(b));
  // Sending to a peer that has gone fails with an error number, and never raises a signal.
  std::int32_t n = 0;
  for (int i = 0; i < 100 && n >= 0; ++i) {
    errno = 0;
    n = os.socket_send(a, "data", 4);
  }
  EXPECT_EQ(n, -1);
  EXPECT_TRUE(errno == EPIPE || errno == ECONNRESET || errno == ECONNABORTED) << errno;
  EXPECT_TRUE(os.socket_close(a));
  // A closed socket is a bad descriptor, on Windows too (WSAENOTSOCK).
  errno = 0;
  EXPECT_EQ(os.socket_recv(a, got, 1), -1);
  EXPECT_EQ(errno, EBADF);
  errno = 0;
  EXPECT_FALSE(os.socket_close(a));
  EXPECT_EQ(errno, EBADF);
}

TEST(BrolPlatformErrors, SystemCodesBecomeErrnoNumbers) {
  struct row {
    std::uint32_t system;
    int number;
  };
#ifdef _WIN32
  // Win32 and socket error codes are Windows-only; the table is checked where it applies.
  const row rows[] = {{ERROR_FILE_NOT_FOUND, ENOENT},
                      {ERROR_PATH_NOT_FOUND, ENOENT},
                      {ERROR_ACCESS_DENIED, EACCES},
                      {ERROR_INVALID_HANDLE, EBADF},
                      {ERROR_SHARING_VIOLATION, EACCES},
                      {ERROR_DISK_FULL, ENOSPC},
                      {ERROR_BROKEN_PIPE, EPIPE},
                      {WSAENOTSOCK, EBADF},
                      {WSAECONNRESET, ECONNRESET},
                      {WSAECONNREFUSED, ECONNREFUSED},
                      {WSAECONNABORTED, ECONNABORTED},
                      {WSAETIMEDOUT, ETIMEDOUT},
                      {WSAEINTR, EINTR},
                      {ERROR_GEN_FAILURE, EIO},
                      {999999, EIO}};
#else
  const row rows[] = {{ENOENT, ENOENT}, {ECONNRESET, ECONNRESET}, {ENOTSOCK, EBADF}, {EIO, EIO}};
#endif
  for (const row& r : rows) {
    EXPECT_EQ(brol_platform_error_number(r.system), r.number) << r.system;
  }
}

}  // namespace
