// Streams on sockets: resolving, connecting, listening and accepting over loopback (127.0.0.1 and
// ::1), the watch around connect and reads, and every failing platform call.
#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "brol/stream/brol_stream.h"
#include "brol/text/brol_gentext.h"
#include "stream_test_fakes.h"

namespace {

using stream_test::listen_any;
using stream_test::port_of;
using stream_test::stream;

// The address text of a record, as connect and accept name their peers.
std::string text_of(const sockaddr* a) {
  char text[brol_addr_text_size] = "";
  brol_addr_text(text, a);
  return text;
}

// Socket entries that fail when named in `failing` and keep count of the sockets open, so that a
// test can prove none is left behind.
struct fake_sockets {
  static inline std::string failing;
  static inline int fail_errno = 0, lookups = 0, accepts = 0;
  static inline std::multiset<brol_socket_handle> open_now;

  static bool fails(const char* entry) {
    errno = fail_errno;
    return failing == entry;
  }
  static const brol_platform_calls& os() { return brol_platform_defaults(); }
  static brol_socket_handle track(brol_socket_handle s) {
    if (s != brol_invalid_socket) open_now.insert(s);
    return s;
  }
  explicit fake_sockets(std::string entry = "", int error = 0) {
    EXPECT_TRUE(stream_test::sockets_started);
    failing = std::move(entry);
    fail_errno = error;
    lookups = accepts = 0;
    open_now.clear();
    brol_os.socket_open = [](int f, int t, int p) {
      return fails("open") ? brol_invalid_socket : track(os().socket_open(f, t, p));
    };
    brol_os.socket_close = [](brol_socket_handle s) {
      if (auto it = open_now.find(s); it != open_now.end()) open_now.erase(it);
      return os().socket_close(s);
    };
    brol_os.socket_bind = [](brol_socket_handle s, const sockaddr* a, int n) {
      return !fails("bind") && os().socket_bind(s, a, n);
    };
    brol_os.socket_listen = [](brol_socket_handle s, int n) { return !fails("listen") && os().socket_listen(s, n); };
    brol_os.socket_local_address = [](brol_socket_handle s, sockaddr* a, int* n) {
      return !fails("local_address") && os().socket_local_address(s, a, n);
    };
    brol_os.socket_connect = [](brol_socket_handle s, const sockaddr* a, int n) {
      return !fails("connect") && os().socket_connect(s, a, n);
    };
    brol_os.socket_accept = [](brol_socket_handle s, sockaddr* a, int* n) {
      ++accepts;
      return fails("accept") ? brol_invalid_socket : track(os().socket_accept(s, a, n));
    };
    brol_os.host_lookup = [](const char* host, sockaddr_storage* out) {
      ++lookups;
      if (failing == "lookup_unix") {
        *out = sockaddr_storage{};
        out->ss_family = AF_UNIX;
        return true;
      }
      return !fails("lookup") && os().host_lookup(host, out);
    };
  }
  ~fake_sockets() { brol_os = brol_platform_defaults(); }
};

TEST(BrolStreamResolve, DottedTextsAreTakenOnlyWhenEveryFieldIsAByte) {
  struct row {
    const char* host;
    const char* address;  // expected text, or null for failure with EINVAL (no lookup) or ENOENT
    int lookups;
  };
  const row rows[] = {
      {nullptr, "0.0.0.0", 0},        {"", "0.0.0.0", 0},
      {"127.0.0.1", "127.0.0.1", 0},  {"255.255.255.255", "255.255.255.255", 0},
      {"010.000.0.9", "10.0.0.9", 0}, {"10.0.0.256", nullptr, 0},
      {"1..2.3", nullptr, 0},         {"1.2.3.", nullptr, 0},
      {".1.2.3", nullptr, 0},         {"0001.2.3.4", nullptr, 0},
      {"999.1.1.1", nullptr, 0},      {"1.2.3", nullptr, 1},
      {"1.2.3.4.", nullptr, 1},       {"a.b.c.d", nullptr, 1},  // looked up
  };
  for (const row& r : rows) {
    SCOPED_TRACE(r.host != nullptr ? r.host : "(null)");
    fake_sockets fakes("lookup", ENOENT);  // no name server is asked
    stream t;
    t->status = 77;
    EXPECT_EQ(t->resolve(r.host), r.address != nullptr);
    EXPECT_EQ(fake_sockets::lookups, r.lookups);
    EXPECT_EQ(t->status, 77);  // untouched
    if (r.address != nullptr) {
      ASSERT_NE(t->address, nullptr);
      EXPECT_EQ(text_of(t->address), r.address);
      EXPECT_EQ(port_of(t->address), 0);
    } else {
      EXPECT_EQ(t->address, nullptr);
      EXPECT_EQ(t->error_number, r.lookups == 0 ? EINVAL : ENOENT);
    }
  }
}

TEST(BrolStreamResolve, LookupsOtherFamiliesAndNoMemory) {
  {
    fake_sockets fakes("lookup_unix");
    stream t;
    EXPECT_FALSE(t->resolve("somewhere"));
    EXPECT_EQ(t->error_number, EAFNOSUPPORT);
    EXPECT_EQ(t->address, nullptr);
  }
  stream t;
  ASSERT_TRUE(t->resolve("::1"));
  EXPECT_EQ(text_of(t->address), "::1");
  ASSERT_TRUE(t->resolve("localhost"));
  EXPECT_TRUE(text_of(t->address) == "127.0.0.1" || text_of(t->address) == "::1") << text_of(t->address);
  ASSERT_TRUE(t->set_any_ipv6());
  EXPECT_EQ(text_of(t->address), "::");
  const auto* six = reinterpret_cast<const sockaddr_in6*>(t->address);
  EXPECT_EQ(six->sin6_port + six->sin6_flowinfo + six->sin6_scope_id, 0u);
  for (const char* host : {"", "127.0.0.1", "::1", "(any ipv6)"}) {
    SCOPED_TRACE(host);
    brol_test::alloc_failure failing(1);
    EXPECT_FALSE(std::strcmp(host, "(any ipv6)") == 0 ? t->set_any_ipv6() : t->resolve(host));
    EXPECT_EQ(t->status, brol_stream_no_memory);
    EXPECT_EQ(t->address, nullptr);
  }
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

TEST(BrolStreamSockets, WrongArgumentsAreRefusedBeforeAnySystemCall) {
  fake_sockets fakes;
  stream t, file;
  ASSERT_TRUE(t->resolve("127.0.0.1"));
  brol_test::temp_dir dir;
  ASSERT_TRUE(file->open_format("%s", 0x301, dir.file("f").c_str()));
  sockaddr_storage other{};
  other.ss_family = AF_UNIX;
  const std::function<bool()> calls[] = {
      [&] { return t->accept(nullptr); },
      [&] { return t->accept(&file.s); },  // a file is no listener
      [&] { return t->accept(&t.s); },     // neither is a closed stream
      [&] { return t->connect_address(nullptr); },
      [&] { return t->connect_address(reinterpret_cast<sockaddr*>(&other)); },
      [&] { return t->connect("10.0.0.256", 80); },  // never turned into another host
      [&] { return t->listen(0); },                  // the record of the line above is gone
  };
  for (std::size_t i = 0; i + 1 < std::size(calls); ++i) {
    SCOPED_TRACE(i);
    EXPECT_FALSE(calls[i]());
    EXPECT_EQ(t->error_number, EINVAL);
    EXPECT_FALSE(t->is_open());
  }
  EXPECT_EQ(fake_sockets::accepts + fake_sockets::lookups, 0);
  EXPECT_TRUE(fake_sockets::open_now.empty());
  // Without an address, listen takes the IPv4 wildcard.
  ASSERT_TRUE(calls[std::size(calls) - 1]());
  EXPECT_EQ(text_of(t->address), "0.0.0.0");
}

TEST(BrolStreamSockets, RefusalsOfTheSystemLeaveTheStreamClosedWithNoSocket) {
  connection c;
  c.make("127.0.0.1");
  fake_sockets fakes;
  stream t;
  EXPECT_FALSE(t->accept(&c.client.s));  // connected, not listening: the system says so
  EXPECT_EQ(t->error_number, EINVAL);
  EXPECT_FALSE(t->connect("127.0.0.1", stream_test::closed_port()));
  EXPECT_EQ(t->error_number, ECONNREFUSED);
  ASSERT_TRUE(t->resolve("127.0.0.1"));
  EXPECT_FALSE(t->listen(port_of(c.listener->address)));
  EXPECT_EQ(t->error_number, EADDRINUSE);
  EXPECT_FALSE(t->is_open());
  EXPECT_TRUE(fake_sockets::open_now.empty());
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
    EXPECT_TRUE(fake_sockets::open_now.empty());
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
        EXPECT_EQ(fake_sockets::open_now, std::multiset<brol_socket_handle>{listener->socket});
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
