// The technician's console as a relay: bytes per second from the customer's side to the viewer's,
// and the round trip of a small message (customer -> viewer -> customer), through the real console
// program and through socat relaying the same loopback connection, in the same run. The console is
// started with a stand-in viewer that only reports its one-time port; this program then connects to
// that port as the viewer, so both ends of each relay are in this process.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

namespace {

namespace fs = std::filesystem;

int listen_on(std::uint16_t port) {
  const int s = socket(AF_INET, SOCK_STREAM, 0);
  const int on = 1;
  setsockopt(s, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  a.sin_port = htons(port);
  if (bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || listen(s, 4) != 0) {
    std::perror("listen");
    std::exit(1);
  }
  return s;
}

std::uint16_t port_of(int s) {
  sockaddr_in a{};
  socklen_t n = sizeof a;
  getsockname(s, reinterpret_cast<sockaddr*>(&a), &n);
  return ntohs(a.sin_port);
}

std::uint16_t free_port() {
  const int s = listen_on(0);
  const std::uint16_t port = port_of(s);
  close(s);
  return port;
}

// Connects to 127.0.0.1:port, retrying while the relay starts; TCP_NODELAY as the console sets it.
int connect_to(std::uint16_t port) {
  for (int i = 0; i < 200; ++i) {
    const int s = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(port);
    if (connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0) {
      const int on = 1;
      setsockopt(s, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
      return s;
    }
    close(s);
    std::this_thread::sleep_for(std::chrono::milliseconds(25));
  }
  std::fprintf(stderr, "cannot connect to 127.0.0.1:%u\n", port);
  std::exit(1);
}

bool send_all(int s, const char* data, std::size_t n) {
  while (n > 0) {
    const ssize_t k = send(s, data, n, MSG_NOSIGNAL);
    if (k <= 0) {
      return false;
    }
    data += k;
    n -= static_cast<std::size_t>(k);
  }
  return true;
}

bool recv_all(int s, char* data, std::size_t n) {
  while (n > 0) {
    const ssize_t k = recv(s, data, n, 0);
    if (k <= 0) {
      return false;
    }
    data += k;
    n -= static_cast<std::size_t>(k);
  }
  return true;
}

pid_t spawn(const std::vector<std::string>& args) {
  const pid_t pid = fork();
  if (pid == 0) {
    const int quiet = open("/dev/null", O_WRONLY);
    dup2(quiet, 1);  // the console prints its journal: keep it out of the figures
    std::vector<char*> argv;
    for (const std::string& a : args) {
      argv.push_back(const_cast<char*>(a.c_str()));
    }
    argv.push_back(nullptr);
    execvp(argv[0], argv.data());
    _exit(127);
  }
  return pid;
}

// One relay with its two ends: customer (where the tunnel server would be) and viewer.
struct relay {
  pid_t pid = -1;
  int customer = -1;
  int viewer = -1;
  fs::path folder;

  ~relay() {
    close(customer);
    close(viewer);
    if (pid > 0) {
      kill(pid, SIGINT);
      waitpid(pid, nullptr, 0);
    }
    if (!folder.empty()) {
      fs::remove_all(folder);
    }
  }
};

void start_console(relay& r) {
  r.folder = fs::temp_directory_path() / ("relay-bench-" + std::to_string(getpid()));
  fs::create_directories(r.folder);
  const std::uint16_t id_port = free_port();
  const fs::path report = r.folder / "port";
  std::ofstream(r.folder / "viewer.sh") << "echo \"$1\" > " << report.string() << ".tmp && mv " << report.string()
                                        << ".tmp " << report.string() << "\nexec sleep 3600\n";
  std::ofstream(r.folder / "technician.ini")
      << "[console]\nviewer = sh\narguments = " << (r.folder / "viewer.sh").string()
      << " {port}\njournal = journal.log\n[ids]\n301 = " << id_port << "\n";
  r.pid = spawn({TECHNICIAN_PROGRAM, "--settings", (r.folder / "technician.ini").string()});
  r.customer = connect_to(id_port);
  const char proxy[] = "PROXY TCP4 192.0.2.7 192.0.2.1 40312 443\r\n";
  send_all(r.customer, proxy, sizeof proxy - 1);
  for (int i = 0; i < 400 && !fs::exists(report); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(25));
  }
  std::ifstream in(report);
  unsigned port = 0;
  in >> port;
  r.viewer = connect_to(static_cast<std::uint16_t>(port));
}

void start_socat(relay& r, const char* buffer) {
  const int viewer_listener = listen_on(0);
  const std::uint16_t front = free_port();
  std::vector<std::string> args = {"socat"};
  if (buffer != nullptr) {
    args.insert(args.end(), {"-b", buffer});
  }
  args.push_back("TCP-LISTEN:" + std::to_string(front) + ",bind=127.0.0.1,reuseaddr,nodelay");
  args.push_back("TCP:127.0.0.1:" + std::to_string(port_of(viewer_listener)) + ",nodelay");
  r.pid = spawn(args);
  r.customer = connect_to(front);
  r.viewer = accept(viewer_listener, nullptr, nullptr);
  const int on = 1;
  setsockopt(r.viewer, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
  close(viewer_listener);
}

void start(relay& r, int kind) {
  if (kind == 0) {
    start_console(r);
  } else {
    start_socat(r, kind == 2 ? "262144" : nullptr);
  }
}

const char* const k_names[] = {"console", "socat", "socat -b 262144"};

// 16 MiB per iteration from the customer's side to the viewer's (screen updates go this way).
void BM_Throughput(benchmark::State& state) {
  relay r;
  start(r, static_cast<int>(state.range(0)));
  constexpr std::size_t k_total = 16 << 20;
  std::vector<char> out(1 << 20, 'x'), in(1 << 20);
  for (auto _ : state) {
    std::thread writer([&] {
      for (std::size_t sent = 0; sent < k_total; sent += out.size()) {
        send_all(r.customer, out.data(), out.size());
      }
    });
    std::size_t got = 0;
    while (got < k_total) {
      const ssize_t k = recv(r.viewer, in.data(), in.size(), 0);
      if (k <= 0) {
        state.SkipWithError("the relay ended");
        break;
      }
      got += static_cast<std::size_t>(k);
    }
    writer.join();
  }
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(k_total));
  state.SetLabel(k_names[state.range(0)]);
}

// A 64-byte message to the viewer and its answer back (a key press and the update it causes).
void BM_RoundTrip(benchmark::State& state) {
  relay r;
  start(r, static_cast<int>(state.range(0)));
  char message[64];
  std::memset(message, 'k', sizeof message);
  char buffer[64];
  for (auto _ : state) {
    if (!send_all(r.customer, message, sizeof message) || !recv_all(r.viewer, buffer, sizeof buffer) ||
        !send_all(r.viewer, buffer, sizeof buffer) || !recv_all(r.customer, buffer, sizeof buffer)) {
      state.SkipWithError("the relay ended");
      break;
    }
  }
  state.SetLabel(k_names[state.range(0)]);
}

BENCHMARK(BM_Throughput)->DenseRange(0, 2)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RoundTrip)->DenseRange(0, 2)->UseRealTime()->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
