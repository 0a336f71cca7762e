// Helpers of the stream tests: files in a temporary folder, loopback socket pairs, and stand-ins for
// the platform calls that fail on a chosen call, cut counts short or record what they were asked.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "brol/platform/brol_platform.h"
#include "brol/stream/brol_stream.h"
#include "brol_test_support.h"

namespace stream_test {

using brol_test::read_file;
using brol_test::sockets_started;
using brol_test::write_file;

// A stream that is destroyed with the test.
struct stream {
  brol_stream s;
  explicit stream(std::int64_t buffer_size = 64) { s.init(buffer_size); }
  ~stream() { s.destroy(); }
  stream(const stream&) = delete;
  stream& operator=(const stream&) = delete;
  brol_stream* operator->() { return &s; }
};

// The port of an IPv4 or IPv6 record, in host order.
inline std::uint16_t port_of(const sockaddr* a) {
  return ntohs(a->sa_family == AF_INET6 ? reinterpret_cast<const sockaddr_in6*>(a)->sin6_port
                                        : reinterpret_cast<const sockaddr_in*>(a)->sin_port);
}

// Makes s listen on host with a port the system chooses: the port, 0 when that failed.
inline std::uint16_t listen_any(brol_stream& s, const char* host) {
  EXPECT_TRUE(sockets_started);
  return s.resolve(host) && s.listen(0) ? port_of(s.address) : 0;
}

// A port of 127.0.0.1 on which nothing listens (its listener has just closed).
inline std::uint16_t closed_port() {
  stream listener;
  return listen_any(listener.s, "127.0.0.1");
}

// Both ends of a connected loopback pair; ends not handed to a stream are closed at the end.
struct socket_pair {
  brol_socket_handle ours = brol_invalid_socket;
  brol_socket_handle peer = brol_invalid_socket;
  socket_pair() {
    EXPECT_TRUE(sockets_started);
    EXPECT_TRUE(brol_platform_loopback_pair(&ours, &peer)) << errno;
  }
  ~socket_pair() {
    close_peer();
    if (ours != brol_invalid_socket) {
      brol_platform_defaults().socket_close(ours);
    }
  }
  // Hands our end to a stream, which then owns it.
  void attach(brol_stream& s) {
    EXPECT_TRUE(s.attach_socket(static_cast<std::int64_t>(ours), "peer"));
    ours = brol_invalid_socket;
  }
  void send(const std::string& bytes) {
    for (std::size_t at = 0; at < bytes.size();) {
      const auto n =
          brol_platform_defaults().socket_send(peer, bytes.data() + at, static_cast<std::int32_t>(bytes.size() - at));
      ASSERT_GT(n, 0);
      at += static_cast<std::size_t>(n);
    }
  }
  // Everything the peer receives until our side closes.
  std::string receive_all() {
    std::string all;
    char chunk[4096];
    for (std::int32_t n; (n = brol_platform_defaults().socket_recv(peer, chunk, sizeof chunk)) > 0;) {
      all.append(chunk, static_cast<std::size_t>(n));
    }
    return all;
  }
  void close_peer() {
    if (peer != brol_invalid_socket) {
      brol_platform_defaults().socket_shutdown(peer, brol_shutdown_both);
      brol_platform_defaults().socket_close(peer);
      peer = brol_invalid_socket;
    }
  }
};

// What the stand-ins do on each read or write call (file and socket alike). Calls are counted from
// 1 after reset.
struct io_plan {
  int calls = 0;
  int fail_at = 0;          // this call fails with fail_errno
  int fail_errno = 0;       // ...
  bool fail_after = false;  // and every later one too
  int zero_at = 0;          // this call returns 0
  std::int32_t most = 0;    // a call moves at most this many bytes (0: as asked)
  bool random = false;      // a call moves a random count from 1 to what was asked
  std::mt19937 rng{12345};
  std::vector<std::int32_t> asked;  // the size of each call

  // -1 (errno set) or 0 to end the call, else the count to pass on to the real call.
  std::int32_t decide(std::int32_t size) {
    ++calls;
    asked.push_back(size);
    if (fail_at != 0 && (calls == fail_at || (fail_after && calls > fail_at))) {
      errno = fail_errno;
      return -1;
    }
    if (calls == zero_at) {
      return 0;
    }
    if (most > 0 && size > most) {
      size = most;
    }
    if (random && size > 1) {
      size = std::uniform_int_distribution<std::int32_t>(1, size)(rng);
    }
    return size;
  }
};

inline io_plan reads;
inline io_plan writes;
inline int seek_calls = 0;
inline int seek_fail_at = 0;
inline std::vector<brol_socket_handle> closed_sockets;

inline std::int32_t fake_file_read(brol_file_handle f, void* data, std::int32_t size) {
  const std::int32_t n = reads.decide(size);
  return n <= 0 ? n : brol_platform_defaults().file_read(f, data, n);
}
inline std::int32_t fake_recv(brol_socket_handle s, void* data, std::int32_t size) {
  const std::int32_t n = reads.decide(size);
  return n <= 0 ? n : brol_platform_defaults().socket_recv(s, data, n);
}
inline std::int32_t fake_file_write(brol_file_handle f, const void* data, std::int32_t size) {
  const std::int32_t n = writes.decide(size);
  return n <= 0 ? n : brol_platform_defaults().file_write(f, data, n);
}
inline std::int32_t fake_send(brol_socket_handle s, const void* data, std::int32_t size) {
  const std::int32_t n = writes.decide(size);
  return n <= 0 ? n : brol_platform_defaults().socket_send(s, data, n);
}
inline std::int64_t fake_seek(brol_file_handle f, std::int64_t offset, int whence) {
  if (++seek_calls == seek_fail_at) {
    errno = EINVAL;
    return -1;
  }
  return brol_platform_defaults().file_seek(f, offset, whence);
}
// Copies inside the system: refused (EXDEV, as between two file systems) unless a test lets them
// through, so that the tests of the buffered loop see its reads and writes. Let through, a copy is
// played with one read and whole writes of the real platform (Windows has no copy of its own), so
// that the stream's side of it is tested alike on both systems. What the watch held during the last
// copy call is kept.
inline io_plan copies;
inline bool copies_refused = true;
inline brol_stream* armed_during_copy = nullptr;
template <class Write>
std::int32_t played_copy(brol_file_handle from, std::int32_t size, Write write) {
  armed_during_copy = brol_watch.stream.load();
  if (copies_refused) {
    errno = EXDEV;
    return -1;
  }
  const std::int32_t n = copies.decide(size);
  if (n <= 0) {
    return n;
  }
  std::vector<char> bytes(static_cast<std::size_t>(n));
  const std::int32_t got = brol_platform_defaults().file_read(from, bytes.data(), n);
  for (std::int32_t done = 0; done < got;) {
    const std::int32_t put = write(bytes.data() + done, got - done);
    if (put <= 0) {
      return -1;
    }
    done += put;
  }
  return got;
}
inline std::int32_t fake_file_copy(brol_file_handle from, brol_file_handle to, std::int32_t size) {
  return played_copy(
      from, size, [to](const char* data, std::int32_t n) { return brol_platform_defaults().file_write(to, data, n); });
}
inline std::int32_t fake_file_send(brol_file_handle from, brol_socket_handle to, std::int32_t size) {
  return played_copy(
      from, size, [to](const char* data, std::int32_t n) { return brol_platform_defaults().socket_send(to, data, n); });
}
inline bool fake_socket_close(brol_socket_handle s) {
  closed_sockets.push_back(s);
  return brol_platform_defaults().socket_close(s);
}

// While alive, the platform's reads, writes, copies, seeks and socket closes go through the
// stand-ins above, starting from a clean plan; the original table comes back at the end.
class fake_os {
 public:
  fake_os() {
    reads = io_plan{};
    writes = io_plan{};
    copies = io_plan{};
    copies_refused = true;
    armed_during_copy = nullptr;
    seek_calls = seek_fail_at = 0;
    closed_sockets.clear();
    brol_os.file_read = fake_file_read;
    brol_os.socket_recv = fake_recv;
    brol_os.file_write = fake_file_write;
    brol_os.socket_send = fake_send;
    brol_os.file_seek = fake_seek;
    brol_os.socket_close = fake_socket_close;
    brol_os.file_copy = fake_file_copy;
    brol_os.file_send = fake_file_send;
  }
  ~fake_os() { brol_os = brol_platform_defaults(); }
  fake_os(const fake_os&) = delete;
  fake_os& operator=(const fake_os&) = delete;
};

// Test data: printable text with CR, LF and a few other bytes mixed in.
inline std::string sample_text(std::size_t size, unsigned seed) {
  std::mt19937 rng(seed);
  static const char alphabet[] = "abcdefghij;,. \r\n\n\t";
  std::string text(size, ' ');
  for (char& c : text) {
    c = alphabet[std::uniform_int_distribution<std::size_t>(0, sizeof alphabet - 2)(rng)];
  }
  return text;
}

// Ticks the watch every period_ms from another thread while alive, so that no watched call blocks
// longer than timeout_ticks periods; remembers what an abort returned.
class watch_host {
 public:
  explicit watch_host(int period_ms = 20)
      : thread_([this, period_ms] {
          while (!stop_) {
            std::this_thread::sleep_for(std::chrono::milliseconds(period_ms));
            if (const std::uint16_t op = brol_stream::tick(); op != 0) {
              aborted_ = op;
            }
          }
        }) {}
  ~watch_host() { finish(); }
  watch_host(const watch_host&) = delete;
  watch_host& operator=(const watch_host&) = delete;
  // Stops ticking; the operation an abort returned, or 0.
  std::uint16_t finish() {
    stop_ = true;
    if (thread_.joinable()) {
      thread_.join();
    }
    return aborted_;
  }

 private:
  std::atomic<bool> stop_{false};
  std::atomic<std::uint16_t> aborted_{0};
  std::thread thread_;
};

}  // namespace stream_test
