// HTTP downloads over loopback: brol_httpget_file against curl -o, both fetching one 512 MiB document
// from the same server (a thread of this program that sends it from memory) into a file in memory
// (/dev/shm when there is one). Both outputs are compared with the document before any timing.
// Run with --benchmark_repetitions=N --benchmark_enable_random_interleaving=true to interleave them.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "brol/net/brol_httpget.h"
#include "brol/stream/brol_stream.h"

namespace {

namespace fs = std::filesystem;

constexpr std::int64_t k_document_size = 512 << 20;

// Serves the document to every connection, one after the other, until stopped.
class document_server {
 public:
  document_server() : body_(static_cast<std::size_t>(k_document_size)) {
    std::mt19937_64 rng(7);
    for (std::size_t i = 0; i < body_.size(); i += 8) {
      const std::uint64_t v = rng();
      std::memcpy(&body_[i], &v, 8);
    }
    listener_.init(64);
    if (!listener_.resolve("127.0.0.1") || !listener_.listen(0)) {
      std::fprintf(stderr, "cannot listen on 127.0.0.1\n");
      std::exit(1);
    }
    port_ = ntohs(reinterpret_cast<sockaddr_in*>(listener_.address)->sin_port);
    thread_ = std::thread([this] { serve(); });
  }
  ~document_server() {
    stop_ = true;
    brol_stream wake;
    wake.init(64);
    wake.connect("127.0.0.1", port_);
    wake.destroy();
    thread_.join();
    listener_.destroy();
  }
  std::uint16_t port() const { return port_; }
  const std::vector<char>& body() const { return body_; }

 private:
  void serve() {
    brol_stream peer;
    peer.init(4096);
    while (peer.accept(&listener_) && !stop_) {
      char line[1024];
      while (peer.get_line(line, sizeof line) && line[0] != '\0') {
      }
      peer.write_printf("HTTP/1.0 200 OK\r\nContent-Length: %lld\r\n\r\n", static_cast<long long>(k_document_size));
      peer.write_bytes(body_.data(), k_document_size);
      peer.close(false);
    }
    peer.destroy();
  }

  std::vector<char> body_;
  brol_stream listener_{};
  std::uint16_t port_ = 0;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

struct bench_setup {
  fs::path dir;
  std::string ours, curls;
  document_server server;
  bool curl_works = false;

  bench_setup() {
    const fs::path base = fs::exists("/dev/shm") ? fs::path("/dev/shm") : fs::temp_directory_path();
    dir = base / ("brol_http_bench_" + std::to_string(::getpid()));
    fs::create_directories(dir);
    ours = (dir / "ours.bin").string();
    curls = (dir / "curl.bin").string();
    curl_works = run_curl() && same_as_document(curls);
    if (!brol_httpget_file("127.0.0.1", "big", ours.c_str(), server.port()) || !same_as_document(ours)) {
      std::fprintf(stderr, "brol_httpget_file did not download the document\n");
      std::exit(1);
    }
  }
  ~bench_setup() {
    std::error_code ec;
    fs::remove_all(dir, ec);
  }
  bool run_curl() const {
    const std::string command = "curl -s -o '" + curls + "' http://127.0.0.1:" + std::to_string(server.port()) + "/big";
    return std::system(command.c_str()) == 0;
  }
  bool same_as_document(const std::string& path) const {
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (f == nullptr) {
      return false;
    }
    std::vector<char> got(server.body().size() + 1);
    const std::size_t n = std::fread(got.data(), 1, got.size(), f);
    std::fclose(f);
    return n == server.body().size() && std::memcmp(got.data(), server.body().data(), n) == 0;
  }
};

bench_setup& setup() {
  static bench_setup s;
  return s;
}

void BM_brol_httpget_file(benchmark::State& state) {
  bench_setup& s = setup();
  for (auto _ : state) {
    if (!brol_httpget_file("127.0.0.1", "big", s.ours.c_str(), s.server.port())) {
      state.SkipWithError("download failed");
      break;
    }
  }
  state.SetBytesProcessed(state.iterations() * k_document_size);
}

void BM_curl(benchmark::State& state) {
  bench_setup& s = setup();
  if (!s.curl_works) {
    state.SkipWithError("curl is missing or did not download the document");
    return;
  }
  for (auto _ : state) {
    if (!s.run_curl()) {
      state.SkipWithError("curl failed");
      break;
    }
  }
  state.SetBytesProcessed(state.iterations() * k_document_size);
}

// Real time: curl works in a process of its own.
BENCHMARK(BM_brol_httpget_file)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);
BENCHMARK(BM_curl)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);

}  // namespace

BENCHMARK_MAIN();
