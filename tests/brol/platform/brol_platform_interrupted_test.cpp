// Blocking calls of the POSIX backend that a signal interrupts are started again, so callers never see
// EINTR, which Windows calls never report.
#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <string>
#include <thread>

#include "brol/platform/brol_platform.h"

// Only POSIX has signals that interrupt a blocking call; on Windows there is nothing to check.
#ifndef _WIN32
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

namespace {

const brol_platform_calls& os = brol_platform_defaults();

void ignore_signal(int) {}

// While alive, SIGUSR1 interrupts blocking calls (no SA_RESTART) instead of ending the process.
struct interrupting_signal {
  struct sigaction old {};
  interrupting_signal() {
    struct sigaction now {};
    now.sa_handler = ignore_signal;
    sigemptyset(&now.sa_mask);
    now.sa_flags = 0;
    sigaction(SIGUSR1, &now, &old);
  }
  ~interrupting_signal() { sigaction(SIGUSR1, &old, nullptr); }
};

// Interrupts the calling thread twice while it blocks, then lets the call finish with `finish`.
template <class Finish>
std::thread interrupt_then(Finish finish) {
  const pthread_t blocked = pthread_self();
  return std::thread([blocked, finish] {
    for (int i = 0; i < 2; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(40));
      pthread_kill(blocked, SIGUSR1);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(40));
    finish();
  });
}

TEST(BrolPlatformInterrupted, ReadsAndReceivesGoOnAfterASignal) {
  interrupting_signal signal;
  int pipe_ends[2];
  ASSERT_EQ(::pipe(pipe_ends), 0);
  std::thread writer = interrupt_then([&] { ASSERT_EQ(::write(pipe_ends[1], "p", 1), 1); });
  char c = 0;
  EXPECT_EQ(os.file_read(static_cast<brol_file_handle>(pipe_ends[0]), &c, 1), 1);
  EXPECT_EQ(c, 'p');
  writer.join();
  ::close(pipe_ends[0]);
  ::close(pipe_ends[1]);

  brol_socket_handle a, b;
  ASSERT_TRUE(brol_platform_loopback_pair(&a, &b));
  std::thread sender = interrupt_then([&] { ASSERT_EQ(os.socket_send(b, "s", 1), 1); });
  EXPECT_EQ(os.socket_recv(a, &c, 1), 1);
  EXPECT_EQ(c, 's');
  sender.join();
  EXPECT_TRUE(os.socket_close(a));
  EXPECT_TRUE(os.socket_close(b));
}

TEST(BrolPlatformInterrupted, AcceptGoesOnAfterASignal) {
  interrupting_signal signal;
  const brol_socket_handle l = os.socket_open(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  int length = sizeof a;
  ASSERT_TRUE(os.socket_bind(l, reinterpret_cast<sockaddr*>(&a), sizeof a));
  ASSERT_TRUE(os.socket_local_address(l, reinterpret_cast<sockaddr*>(&a), &length));
  ASSERT_TRUE(os.socket_listen(l, 1));
  const brol_socket_handle client = os.socket_open(AF_INET, SOCK_STREAM, 0);
  std::thread connector =
      interrupt_then([&] { EXPECT_TRUE(os.socket_connect(client, reinterpret_cast<const sockaddr*>(&a), sizeof a)); });
  sockaddr_storage peer{};
  int peer_length = sizeof peer;
  const brol_socket_handle accepted = os.socket_accept(l, reinterpret_cast<sockaddr*>(&peer), &peer_length);
  EXPECT_NE(accepted, brol_invalid_socket) << errno;
  connector.join();
  EXPECT_EQ(peer.ss_family, AF_INET);
  for (const brol_socket_handle s : {accepted, client, l}) {
    EXPECT_TRUE(os.socket_close(s));
  }
}

}  // namespace
#endif
