// The platform layer's refusals on the real system: arguments out of range, dead handles, sockets in
// the wrong state and names that do not resolve each give failure with the documented errno.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "brol/platform/brol_platform.h"
#include "brol_test_support.h"

namespace {

const brol_platform_calls& os = brol_platform_defaults();

using brol_test::sockets_started;

sockaddr_in loopback(std::uint16_t port) {
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  a.sin_port = htons(port);
  return a;
}

const sockaddr* as_address(const sockaddr_in& a) { return reinterpret_cast<const sockaddr*>(&a); }

// A socket listening on a loopback port of the system's choice; the port goes to *port.
brol_socket_handle listener(std::uint16_t* port) {
  const brol_socket_handle s = os.socket_open(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a = loopback(0);
  int length = sizeof a;
  if (s == brol_invalid_socket || !os.socket_bind(s, as_address(a), sizeof a) || !os.socket_listen(s, 4) ||
      !os.socket_local_address(s, reinterpret_cast<sockaddr*>(&a), &length)) {
    return brol_invalid_socket;
  }
  *port = ntohs(a.sin_port);
  return s;
}

TEST(BrolPlatformRefusals, OutOfRangeChoicesAreInvalid) {
  brol_test::temp_dir dir;
  const brol_file_handle f = os.file_open(dir.file("f").c_str(), brol_access_write, brol_create_always);
  ASSERT_NE(f, brol_invalid_file);
  for (const int whence : {-1, 3, 1000}) {
    errno = 0;
    EXPECT_EQ(os.file_seek(f, 0, whence), -1) << whence;
    EXPECT_EQ(errno, EINVAL) << whence;
  }
  EXPECT_TRUE(os.file_close(f));

  ASSERT_TRUE(sockets_started);
  brol_socket_handle a, b;
  ASSERT_TRUE(brol_platform_loopback_pair(&a, &b));
  for (const int how : {-1, 3}) {
    errno = 0;
    EXPECT_FALSE(os.socket_shutdown(a, how)) << how;
    EXPECT_EQ(errno, EINVAL) << how;
  }
  // The refused calls left the connection as it was.
  EXPECT_EQ(os.socket_send(a, "x", 1), 1);
  char c = 0;
  EXPECT_EQ(os.socket_recv(b, &c, 1), 1);
  EXPECT_TRUE(os.socket_close(a));
  EXPECT_TRUE(os.socket_close(b));
}

TEST(BrolPlatformRefusals, ClosedFileHandlesAreBad) {
  brol_test::temp_dir dir;
  const brol_file_handle f = os.file_open(dir.file("f").c_str(), brol_access_write, brol_create_always);
  ASSERT_NE(f, brol_invalid_file);
  EXPECT_TRUE(os.file_flush(f));
  EXPECT_TRUE(os.file_close(f));
  errno = 0;
  EXPECT_FALSE(os.file_flush(f));
  EXPECT_EQ(errno, EBADF);
  errno = 0;
  EXPECT_EQ(os.file_seek(f, 0, brol_seek_begin), -1);
  EXPECT_EQ(errno, EBADF);
  errno = 0;
  EXPECT_FALSE(os.file_close(f));
  EXPECT_EQ(errno, EBADF);
}

TEST(BrolPlatformRefusals, MissingNamesAreNotFound) {
  brol_test::temp_dir dir;
  const std::string missing = dir.file("missing");
  const std::string present = dir.file("present");
  const brol_file_handle f = os.file_open(present.c_str(), brol_access_write, brol_create_always);
  ASSERT_TRUE(os.file_close(f));
  errno = 0;
  const brol_file_handle other = os.file_open(dir.file("other").c_str(), brol_access_write, brol_create_always);
  EXPECT_FALSE(os.file_replace(other, missing.c_str(), present.c_str()));
  EXPECT_EQ(errno, ENOENT);
  brol_file_status st{};
  EXPECT_TRUE(os.file_stat(present.c_str(), &st)) << "a failed replace leaves the target";
  errno = 0;
  EXPECT_FALSE(os.file_remove(missing.c_str()));
  EXPECT_EQ(errno, ENOENT);
  errno = 0;
  EXPECT_FALSE(os.dir_create(dir.file("no/parent").c_str()));
  EXPECT_EQ(errno, ENOENT);
  errno = 0;
  EXPECT_EQ(os.file_open_append(dir.file("no/parent").c_str()), brol_invalid_file);
  EXPECT_EQ(errno, ENOENT);
}

TEST(BrolPlatformRefusals, ReplaceWithinTheCurrentFolder) {
  // A bare name has no folder part: the move happens in the working folder and is made durable there.
  brol_test::temp_dir dir;
  const std::string from = dir.file("from");
  const brol_file_handle f = os.file_open(from.c_str(), brol_access_write, brol_create_always);
  ASSERT_EQ(os.file_write(f, "new", 3), 3);
  const std::string bare = "brol_platform_refusals_target";
  ASSERT_TRUE(os.file_replace(f, from.c_str(), bare.c_str()));
  brol_file_status st{};
  ASSERT_TRUE(os.file_stat(bare.c_str(), &st));
  EXPECT_EQ(st.size, 3);
  EXPECT_TRUE(os.file_remove(bare.c_str()));
}

TEST(BrolPlatformRefusals, SocketsInTheWrongState) {
  ASSERT_TRUE(sockets_started);
  errno = 0;
  EXPECT_EQ(os.socket_open(-1, SOCK_STREAM, 0), brol_invalid_socket);
  EXPECT_NE(errno, 0);

  std::uint16_t port = 0;
  const brol_socket_handle l = listener(&port);
  ASSERT_NE(l, brol_invalid_socket);
  // The listener's port is taken for a second socket.
  const brol_socket_handle second = os.socket_open(AF_INET, SOCK_STREAM, 0);
  const sockaddr_in taken = loopback(port);
  errno = 0;
  EXPECT_FALSE(os.socket_bind(second, as_address(taken), sizeof taken));
  EXPECT_EQ(errno, EADDRINUSE);
  EXPECT_TRUE(os.socket_close(second));
  EXPECT_TRUE(os.socket_close(l));

  // Nobody listens there any more: the connect is refused.
  const brol_socket_handle client = os.socket_open(AF_INET, SOCK_STREAM, 0);
  errno = 0;
  EXPECT_FALSE(os.socket_connect(client, as_address(taken), sizeof taken));
  EXPECT_EQ(errno, ECONNREFUSED);
  EXPECT_TRUE(os.socket_close(client));
}

TEST(BrolPlatformRefusals, ClosedSocketsAreBad) {
  ASSERT_TRUE(sockets_started);
  const brol_socket_handle s = os.socket_open(AF_INET, SOCK_STREAM, 0);
  ASSERT_NE(s, brol_invalid_socket);
  ASSERT_TRUE(os.socket_close(s));
  const sockaddr_in a = loopback(0);
  sockaddr_storage peer{};
  int length = sizeof peer;
  auto* any = reinterpret_cast<sockaddr*>(&peer);
  struct row {
    const char* call;
    bool failed;
  };
  const row rows[] = {
      {"send", (errno = 0, os.socket_send(s, "x", 1) == -1 && errno == EBADF)},
      {"shutdown", (errno = 0, !os.socket_shutdown(s, brol_shutdown_both) && errno == EBADF)},
      {"bind", (errno = 0, !os.socket_bind(s, as_address(a), sizeof a) && errno == EBADF)},
      {"listen", (errno = 0, !os.socket_listen(s, 1) && errno == EBADF)},
      {"accept", (errno = 0, os.socket_accept(s, any, &length) == brol_invalid_socket && errno == EBADF)},
      {"connect", (errno = 0, !os.socket_connect(s, as_address(a), sizeof a) && errno == EBADF)},
      {"local address", (errno = 0, !os.socket_local_address(s, any, &length) && errno == EBADF)},
  };
  for (const row& r : rows) {
    EXPECT_TRUE(r.failed) << r.call;
  }
}

TEST(BrolPlatformRefusals, IpVersionSixSocketsCarryVersionSixOnly) {
  ASSERT_TRUE(sockets_started);
  const brol_socket_handle six = os.socket_open(AF_INET6, SOCK_STREAM, 0);
  if (six == brol_invalid_socket) {
    GTEST_SKIP() << "no IPv6 on this machine (errno " << errno << ")";
  }
  sockaddr_in6 any6{};
  any6.sin6_family = AF_INET6;
  int length = sizeof any6;
  ASSERT_TRUE(os.socket_bind(six, reinterpret_cast<const sockaddr*>(&any6), sizeof any6));
  ASSERT_TRUE(os.socket_local_address(six, reinterpret_cast<sockaddr*>(&any6), &length));
  ASSERT_TRUE(os.socket_listen(six, 1));
  // The IPv6 listener on every address holds no IPv4 port: the same port is free for IPv4.
  const brol_socket_handle four = os.socket_open(AF_INET, SOCK_STREAM, 0);
  sockaddr_in any4{};
  any4.sin_family = AF_INET;
  any4.sin_port = any6.sin6_port;
  EXPECT_TRUE(os.socket_bind(four, reinterpret_cast<const sockaddr*>(&any4), sizeof any4)) << errno;
  // An IPv4 address does not fit an IPv6 socket at all.
  const brol_socket_handle other = os.socket_open(AF_INET6, SOCK_STREAM, 0);
  const sockaddr_in v4 = loopback(0);
  errno = 0;
  EXPECT_FALSE(os.socket_bind(other, as_address(v4), sizeof v4));
  EXPECT_NE(errno, 0);
  for (const brol_socket_handle s : {six, four, other}) {
    EXPECT_TRUE(os.socket_close(s));
  }
}

TEST(BrolPlatformRefusals, HostNamesThatCannotBeAnswered) {
  ASSERT_TRUE(sockets_started);
  char name[256];
  errno = 0;
  EXPECT_FALSE(os.host_name(name, 0));
  EXPECT_EQ(errno, EINVAL);
  ASSERT_TRUE(os.host_name(name, sizeof name));
  ASSERT_GT(std::strlen(name), 0u);
  // One byte holds only the terminator: no name fits.
  errno = 0;
  EXPECT_FALSE(os.host_name(name, 1));
  EXPECT_NE(errno, 0);

  sockaddr_storage out{};
  ASSERT_TRUE(os.host_lookup("127.0.0.1", &out));
  EXPECT_EQ(out.ss_family, AF_INET);
  // A name with an empty label, below the reserved domain .invalid: no resolver has an address for it.
  errno = 0;
  EXPECT_FALSE(os.host_lookup("a..b.invalid", &out));
  EXPECT_NE(errno, 0);
}

}  // namespace
