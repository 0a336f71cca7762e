// Streams on sockets: resolving, connecting, listening and accepting over loopback (127.0.0.1 and
// ::1), the watch around connect and reads, and every failing platform call.
#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "brol/stream/brol_stream.h"
#include "stream_test_fakes.h"

namespace {

using stream_test::listen_any;
using stream_test::port_of;
using stream_test::stream;

std::string ipv4_bytes(const sockaddr* a) {
  const auto* b = reinterpret_cast<const unsigned char*>(&reinterpret_cast<const sockaddr_in*>(a)->sin_addr);
  return std::to_string(b[0]) + "." + std::to_string(b[1]) + "." + std::to_string(b[2]) + "." + std::to_string(b[3]);
}

// Counts the platform's socket calls and fails a chosen one; sockets opened and closed are tracked
// so that a test can prove none is left open.
struct socket_calls {
  static inline std::string failing;  // name of the entry to fail
  static inline int fail_errno = 0;
  static inline int lookups = 0;
  static inline int accepts = 0;
  static inline std::multiset<brol_socket_handle> open_now;

  static bool fails(const char* entry) {
    if (failing == entry) {
      errno = fail_errno;
      return true;
    }
    return false;
  }
  static brol_socket_handle open(int family, int type, int protocol) {
    if (fails("open")) return brol_invalid_socket;
    const brol_socket_handle s = brol_platform_defaults().socket_open(family, type, protocol);
    if (s != brol_invalid_socket) open_now.insert(s);
    return s;
  }
  static bool close(brol_socket_handle s) {
    if (auto it = open_now.find(s); it != open_now.end()) open_now.erase(it);
    return brol_platform_defaults().socket_close(s);
  }
  static bool bind(brol_socket_handle s, const sockaddr* a, int n) {
    return !fails("bind") && brol_platform_defaults().socket_bind(s, a, n);
  }
  static bool listen(brol_socket_handle s, int backlog) {
    return !fails("listen") && brol_platform_defaults().socket_listen(s, backlog);
  }
  static bool local_address(brol_socket_handle s, sockaddr* a, int* n) {
    return !fails("local_address") && brol_platform_defaults().socket_local_address(s, a, n);
  }
  static bool connect(brol_socket_handle s, const sockaddr* a, int n) {
    return !fails("connect") && brol_platform_defaults().socket_connect(s, a, n);
  }
  static brol_socket_handle accept(brol_socket_handle s, sockaddr* a, int* n) {
    ++accepts;
    if (fails("accept")) return brol_invalid_socket;
    const brol_socket_handle got = brol_platform_defaults().socket_accept(s, a, n);
    if (got != brol_invalid_socket) open_now.insert(got);
    return got;
  }
  static bool lookup(const char* host, sockaddr_storage* out) {
    ++lookups;
    if (fails("lookup")) return false;
    if (failing == "lookup_unix") {
      *out = sockaddr_storage{};
      out->ss_family = AF_UNIX;
      return true;
    }
    return brol_platform_defaults().host_lookup(host, out);
  }
};

// While alive, the socket entries go through socket_calls.
class fake_sockets {
 public:
  explicit fake_sockets(std::string failing = "", int fail_errno = 0) {
    EXPECT_TRUE(stream_test::sockets_started);
    socket_calls::failing = std::move(failing);
    socket_calls::fail_errno = fail_errno;
    socket_calls::lookups = socket_calls::accepts = 0;
    socket_calls::open_now.clear();
    brol_os.socket_open = socket_calls::open;
    brol_os.socket_close = socket_calls::close;
    brol_os.socket_bind = socket_calls::bind;
    brol_os.socket_listen = socket_calls::listen;
    brol_os.socket_local_address = socket_calls::local_address;
    brol_os.socket_connect = socket_calls::connect;
    brol_os.socket_accept = socket_calls::accept;
    brol_os.host_lookup = socket_calls::lookup;
  }
  ~fake_sockets() { brol_os = brol_platform_defaults(); }
  fake_sockets(const fake_sockets&) = delete;
  fake_sockets& operator=(const fake_sockets&) = delete;
};

TEST(BrolStreamResolve, DottedTextsAreTakenOnlyWhenEveryFieldIsAByte) {
  struct row {
    const char* host;
    bool ok;
    const char* address;  // expected IPv4 text, or the expected error
    int error_number;
    int lookups;
  };
  const row rows[] = {
      {nullptr, true, "0.0.0.0", 0, 0},          {"", true, "0.0.0.0", 0, 0},
      {"127.0.0.1", true, "127.0.0.1", 0, 0},    {"255.255.255.255", true, "255.255.255.255", 0, 0},
      {"010.000.0.9", true, "10.0.0.9", 0, 0},  // up to 3 digits, decimal
      {"10.0.0.256", false, nullptr, EINVAL, 0}, {"1..2.3", false, nullptr, EINVAL, 0},
      {"1.2.3.", false, nullptr, EINVAL, 0},     {".1.2.3", false, nullptr, EINVAL, 0},
      {"0001.2.3.4", false, nullptr, EINVAL, 0}, {"999.1.1.1", false, nullptr, EINVAL, 0},
      {"1.2.3", false, nullptr, ENOENT, 1},     // two dots: looked up
      {"1.2.3.4.", false, nullptr, ENOENT, 1},  // four dots: looked up
      {"a.b.c.d", false, nullptr, ENOENT, 1},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(r.host != nullptr ? r.host : "(null)");
    // The lookup answers "unknown" without asking any name server.
    fake_sockets fakes("lookup", ENOENT);
    stream t;
    t->status = 77;
    EXPECT_EQ(t->resolve(r.host), r.ok);
    EXPECT_EQ(socket_calls::lookups, r.lookups);
    EXPECT_EQ(t->status, 77);  // status untouched
    if (r.ok) {
      ASSERT_NE(t->address, nullptr);
      EXPECT_EQ(t->address->sa_family, AF_INET);
      EXPECT_EQ(ipv4_bytes(t->address), r.address);
      EXPECT_EQ(port_of(t->address), 0);
    } else {
      EXPECT_EQ(t->address, nullptr);
      EXPECT_EQ(t->error_number, r.error_number);
    }
  }
}

TEST(BrolStreamResolve, NamesAreLookedUpAndTheFirstAnswerKept) {
  fake_sockets fakes;
  stream t;
  ASSERT_TRUE(t->resolve("::1"));
  ASSERT_EQ(t->address->sa_family, AF_INET6);
  in6_addr loopback{};
  reinterpret_cast<unsigned char*>(&loopback)[15] = 1;
  EXPECT_EQ(std::memcmp(&reinterpret_cast<sockaddr_in6*>(t->address)->sin6_addr, &loopback, 16), 0);
  EXPECT_EQ(port_of(t->address), 0);
  ASSERT_TRUE(t->resolve("localhost"));
  ASSERT_NE(t->address, nullptr);
  EXPECT_TRUE(t->address->sa_family == AF_INET || t->address->sa_family == AF_INET6);
  EXPECT_EQ(socket_calls::lookups, 2);
}

TEST(BrolStreamResolve, AnAnswerOfAnotherFamilyOrNoMemoryLeavesNoAddress) {
  {
    fake_sockets fakes("lookup_unix");
    stream t;
    ASSERT_TRUE(t->resolve("127.0.0.1"));
    EXPECT_FALSE(t->resolve("somewhere"));
    EXPECT_EQ(t->error_number, EAFNOSUPPORT);
    EXPECT_EQ(t->address, nullptr);
  }
  for (const char* host : {"", "127.0.0.1", "::1"}) {
    stream t;
    brol_test::alloc_failure failing(1);
    EXPECT_FALSE(t->resolve(host));
    EXPECT_EQ(t->status, brol_stream_no_memory);
    EXPECT_EQ(t->address, nullptr);
  }
  stream t;
  {
    brol_test::alloc_failure failing(1);
    EXPECT_FALSE(t->set_any_ipv6());
  }
  ASSERT_TRUE(t->set_any_ipv6());
  ASSERT_EQ(t->address->sa_family, AF_INET6);
  const auto* six = reinterpret_cast<const sockaddr_in6*>(t->address);
  EXPECT_EQ(six->sin6_port, 0);
  EXPECT_EQ(six->sin6_flowinfo, 0u);
  EXPECT_EQ(six->sin6_scope_id, 0u);
  EXPECT_EQ(std::memcmp(&six->sin6_addr, &in6addr_any, 16), 0);
}

// A listener, a client connected to it and the accepted peer, over the family that host selects.
struct connection {
  stream listener{64}, client{64}, server{64};
  std::uint16_t port = 0;

  void make(const char* host) {
    port = listen_any(listener.s, host);
    ASSERT_NE(port, 0) << listener->error_number;
    ASSERT_TRUE(client->connect(host, port)) << client->error_number;
    ASSERT_TRUE(server->accept(&listener.s)) << server->error_number;
  }
};

TEST(BrolStreamConnect, PeersOverBothFamiliesAreNamedAndCarryDataBothWays) {
  struct row {
    const char* host;
    int family;
  };
  for (const row& r : {row{"127.0.0.1", AF_INET}, row{"::1", AF_INET6}}) {
    SCOPED_TRACE(r.host);
    connection c;
    c.make(r.host);
    EXPECT_EQ(c.listener->name, nullptr);  // listen names nothing
    EXPECT_STREQ(c.client->name, r.host);
    EXPECT_STREQ(c.server->name, r.host);
    EXPECT_EQ(c.client->is_socket, 1u);
    EXPECT_EQ(c.server->is_socket, 1u);
    ASSERT_EQ(c.server->address->sa_family, r.family);
    EXPECT_EQ(port_of(c.client->address), c.port);
    EXPECT_NE(port_of(c.server->address), 0);  // the client's own port
    ASSERT_TRUE(c.client->write_text("hello\n"));
    char line[32];
    ASSERT_TRUE(c.server->get_line(line, sizeof line));
    EXPECT_STREQ(line, "hello");
    ASSERT_TRUE(c.server->write_printf("%d\n", 42));
    c.server->close(false);
    ASSERT_TRUE(c.client->get_line(line, sizeof line));
    EXPECT_STREQ(line, "42");
    EXPECT_EQ(c.client->get_byte(), brol_stream_end_of_data);
  }
}

TEST(BrolStreamListen, TheIpv6WildcardListensOnIpv6Only) {
  ASSERT_TRUE(stream_test::sockets_started);
  stream listener, client, server;
  ASSERT_TRUE(listener->set_any_ipv6());
  ASSERT_TRUE(listener->listen(0));
  const std::uint16_t port = port_of(listener->address);
  ASSERT_TRUE(client->connect("::1", port));
  ASSERT_TRUE(server->accept(&listener.s));
  EXPECT_EQ(server->address->sa_family, AF_INET6);
  EXPECT_STREQ(server->name, "::1");
  stream v4;
  EXPECT_FALSE(v4->connect("127.0.0.1", port));  // as on Windows: no IPv4 on an IPv6 socket
  EXPECT_EQ(v4->error_number, ECONNREFUSED);
}

TEST(BrolStreamListen, NoAddressMeansTheIpv4WildcardAndABusyPortFails) {
  fake_sockets fakes;
  stream first, second;
  ASSERT_TRUE(first->listen(0));
  ASSERT_NE(first->address, nullptr);
  EXPECT_EQ(ipv4_bytes(first->address), "0.0.0.0");
  const std::uint16_t port = port_of(first->address);
  ASSERT_TRUE(second->resolve("127.0.0.1"));
  EXPECT_FALSE(second->listen(port));
  EXPECT_EQ(second->error_number, EADDRINUSE);
  EXPECT_FALSE(second->is_open());
  EXPECT_EQ(socket_calls::open_now.size(), 1u);  // only the first listener remains
}

TEST(BrolStreamAccept, ListenersThatCannotAcceptAreRefusedBeforeTheSystemCall) {
  fake_sockets fakes;
  stream t, closed;
  ASSERT_TRUE(t->resolve("127.0.0.1"));
  EXPECT_FALSE(t->accept(nullptr));
  EXPECT_EQ(t->error_number, EINVAL);
  EXPECT_EQ(t->address, nullptr);  // freed
  EXPECT_FALSE(t->accept(&closed.s));
  EXPECT_EQ(t->error_number, EINVAL);
  brol_test::temp_dir dir;
  ASSERT_TRUE(closed->open_format("%s", 0x301, dir.file("f").c_str()));
  EXPECT_FALSE(t->accept(&closed.s));  // a file is no listener
  EXPECT_EQ(t->error_number, EINVAL);
  EXPECT_EQ(socket_calls::accepts, 0);
  connection c;
  c.make("127.0.0.1");
  EXPECT_FALSE(t->accept(&c.client.s));  // connected, not listening: the system says so
  EXPECT_EQ(t->error_number, EINVAL);
}

TEST(BrolStreamConnect, ARefusedConnectLeavesTheStreamClosedWithNoSocket) {
  fake_sockets fakes;
  stream t;
  const std::uint16_t port = stream_test::closed_port();
  EXPECT_FALSE(t->connect("127.0.0.1", port));
  EXPECT_EQ(t->error_number, ECONNREFUSED);
  EXPECT_FALSE(t->is_open());
  EXPECT_TRUE(socket_calls::open_now.empty());
  EXPECT_FALSE(t->connect_address(nullptr));
  EXPECT_EQ(t->error_number, EINVAL);
  sockaddr_storage other{};
  other.ss_family = AF_UNIX;
  EXPECT_FALSE(t->connect_address(reinterpret_cast<sockaddr*>(&other)));
  EXPECT_EQ(t->error_number, EINVAL);
  EXPECT_FALSE(t->connect("10.0.0.256", 80));  // never turned into another host
  EXPECT_EQ(t->error_number, EINVAL);
}

TEST(BrolStreamSockets, EveryFailingPlatformCallIsReportedAndLeavesNoSocket) {
  struct row {
    const char* entry;
    int fail_errno;
    bool listening;  // the call belongs to listen (else to connect or accept)
  };
  const row rows[] = {
      {"open", EMFILE, true},          {"bind", EACCES, true},        {"local_address", ENOBUFS, true},
      {"listen", EADDRINUSE, true},    {"open", EAFNOSUPPORT, false}, {"connect", ENETUNREACH, false},
      {"accept", ECONNABORTED, false}, {"lookup", EAGAIN, false},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(r.entry);
    stream listener, client, server;
    std::uint16_t port = 0;
    if (!r.listening) {
      port = listen_any(listener.s, "127.0.0.1");
    }
    fake_sockets fakes(r.entry, r.fail_errno);
    if (r.listening) {
      EXPECT_FALSE(listener->listen(0));
      EXPECT_EQ(listener->error_number, r.fail_errno);
      EXPECT_FALSE(listener->is_open());
    } else if (std::strcmp(r.entry, "accept") == 0) {
      ASSERT_TRUE(client->connect("127.0.0.1", port));
      EXPECT_FALSE(server->accept(&listener.s));
      EXPECT_EQ(server->error_number, r.fail_errno);
      EXPECT_FALSE(server->is_open());
      client->close(false);
    } else {
      EXPECT_FALSE(client->connect(std::strcmp(r.entry, "lookup") == 0 ? "localhost" : "127.0.0.1", port));
      EXPECT_EQ(client->error_number, r.fail_errno);
      EXPECT_FALSE(client->is_open());
    }
    EXPECT_TRUE(socket_calls::open_now.empty());
  }
}

TEST(BrolStreamSockets, NoMemoryAtAnyPointOfConnectOrAcceptLeavesNoSocket) {
  fake_sockets fakes;
  stream listener;
  const std::uint16_t port = listen_any(listener.s, "::1");
  std::unique_ptr<stream> client, server;
  const std::int64_t points = brol_test::for_each_allocation_failure(
      [&] {
        server = std::make_unique<stream>();
        client = std::make_unique<stream>();
      },
      [&] {
        if ((*client)->connect("::1", port)) {
          (*server)->accept(&listener.s);
        }
      },
      [&](std::int64_t) {
        const bool connected = (*client)->is_open();
        EXPECT_TRUE(connected || (*client)->status == brol_stream_no_memory);
        EXPECT_TRUE((*server)->is_open() || (*server)->status == brol_stream_no_memory || !connected);
        client.reset();
        server.reset();
        EXPECT_EQ(socket_calls::open_now, std::multiset<brol_socket_handle>{listener->socket});
      });
  EXPECT_GE(points, 4);  // connect's address and name, accept's address and name
}

TEST(BrolStreamSockets, SendingToAPeerThatHasGoneFailsWithoutStoppingTheProcess) {
  for (bool accepted_side : {false, true}) {
    SCOPED_TRACE(accepted_side);
    connection c;
    c.make("127.0.0.1");
    brol_stream& writer = accepted_side ? c.server.s : c.client.s;
    (accepted_side ? c.client : c.server)->close(false);
    const std::string chunk(65536, 'x');
    bool ok = true;
    for (int i = 0; i < 200 && ok; ++i) {
      ok = writer.write_bytes(chunk.data(), static_cast<std::int64_t>(chunk.size()));
    }
    EXPECT_FALSE(ok);
    EXPECT_EQ(writer.status, brol_stream_io_failed);
    EXPECT_TRUE(writer.error_number == EPIPE || writer.error_number == ECONNRESET) << writer.error_number;
  }
}

TEST(BrolStreamWatch, AbortsABlockedConnectAndABlockedRead) {
  // A listener that never accepts: once its queue is full, further connects wait for an answer.
  stream listener;
  const std::uint16_t port = listen_any(listener.s, "127.0.0.1");
  std::vector<std::unique_ptr<stream>> waiting;
  {
    stream_test::watch_host host;
    const auto started = std::chrono::steady_clock::now();
    bool aborted = false;
    while (!aborted && waiting.size() < 64) {
      waiting.push_back(std::make_unique<stream>());
      brol_stream& s = waiting.back()->s;
      s.timeout_ticks = 10;  // 200 ms
      if (!s.connect("127.0.0.1", port)) {
        aborted = true;
        EXPECT_EQ(s.status, brol_stream_aborted);
        EXPECT_FALSE(s.is_open());
      }
    }
    ASSERT_TRUE(aborted) << "every connect completed";
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(20));
    EXPECT_EQ(host.finish(), brol_stream_op_connect);
  }
  brol_stream& last = waiting.back()->s;
  EXPECT_TRUE(last.close(false));
  EXPECT_EQ(last.status, 0);
  // A connected stream whose peer says nothing.
  connection c;
  c.make("127.0.0.1");
  c.client->timeout_ticks = 5;
  {
    stream_test::watch_host host;
    EXPECT_EQ(c.client->get_byte(), brol_stream_not_open);
    EXPECT_EQ(c.client->status, brol_stream_aborted);
    EXPECT_EQ(host.finish(), brol_stream_op_read);
  }
}

}  // namespace
