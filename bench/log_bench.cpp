// The logger against spdlog's synchronous file sink: lines per second appended to a local file, from
// one thread and from four. The logger opens, appends to and closes the file for every line; spdlog
// keeps its file open. Both write the same line; the outputs are compared before timing.
#include <benchmark/benchmark.h>
#include <spdlog/sinks/basic_file_sink.h>
#include <spdlog/spdlog.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

#include "brol/log/brol_log.h"

namespace {

namespace fs = std::filesystem;

// A folder on the disk (not in memory): the cost of opening a real file is what is measured.
struct bench_folder {
  fs::path dir;
  bench_folder() {
    dir = fs::temp_directory_path() / ("brol_log_bench_" + std::to_string(::getpid()));
    fs::create_directories(dir);
  }
  ~bench_folder() {
    std::error_code ec;
    fs::remove_all(dir, ec);
  }
  std::string file(const char* name) const { return (dir / name).string(); }
};

const bench_folder& folder() {
  static const bench_folder f;
  return f;
}

// brol_log's level-4 line: date, process id, empty ident, label, message.
std::shared_ptr<spdlog::logger> make_peer(const std::string& path) {
  auto peer = spdlog::basic_logger_mt("peer" + path, path, true);
  peer->set_pattern("%Y-%m-%d %H:%M:%S (%P)  WARN: %v");
  return peer;
}

void log_ours(std::int64_t i) {
  brol_log(4, "bench", "log_bench", 1, 0, "request %lld served in %d ms", static_cast<long long>(i), 17);
}
void log_peer(spdlog::logger& peer, std::int64_t i) { peer.warn("request {} served in {} ms", i, 17); }

std::string without_dates(const std::string& path) {
  std::string all, line;
  std::FILE* f = std::fopen(path.c_str(), "rb");
  for (int c; f != nullptr && (c = std::fgetc(f)) != EOF;) {
    line += static_cast<char>(c);
    if (c == '\n') {
      all += line.substr(19);  // "2026-12-06 01:58:45" may differ by a second
      line.clear();
    }
  }
  if (f != nullptr) std::fclose(f);
  return all;
}

// Both loggers write the same lines, or no figure is worth anything.
void check_same_output() {
  const std::string ours = folder().file("check_ours.log");
  const std::string theirs = folder().file("check_peer.log");
  brol_log_file = ours.c_str();
  auto peer = make_peer(theirs);
  for (std::int64_t i = 0; i < 100; ++i) {
    log_ours(i);
    log_peer(*peer, i);
  }
  peer->flush();
  brol_log_file = nullptr;
  if (without_dates(ours) != without_dates(theirs) || without_dates(ours).empty()) {
    std::fprintf(stderr, "outputs differ:\n%s---\n%s", without_dates(ours).c_str(), without_dates(theirs).c_str());
    std::exit(1);
  }
  spdlog::drop(peer->name());
}

std::string ours_path, peer_path;
std::shared_ptr<spdlog::logger> peer_logger;

void BM_brol_log(benchmark::State& state) {
  if (state.thread_index() == 0) {
    ours_path = folder().file("ours.log");
    fs::remove(ours_path);
    brol_log_file = ours_path.c_str();
  }
  std::int64_t i = 0;
  for (auto _ : state) {
    log_ours(++i);
  }
  state.SetItemsProcessed(state.iterations());
  if (state.thread_index() == 0) {
    brol_log_file = nullptr;
  }
}

void BM_spdlog_basic_file_sink(benchmark::State& state) {
  if (state.thread_index() == 0) {
    peer_path = folder().file("peer.log");
    if (peer_logger != nullptr) spdlog::drop(peer_logger->name());
    fs::remove(peer_path);
    peer_logger = make_peer(peer_path);
  }
  std::int64_t i = 0;
  for (auto _ : state) {
    log_peer(*peer_logger, ++i);
  }
  state.SetItemsProcessed(state.iterations());
}

BENCHMARK(BM_brol_log)->Threads(1)->Threads(4)->UseRealTime();
BENCHMARK(BM_spdlog_basic_file_sink)->Threads(1)->Threads(4)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
  check_same_output();
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  peer_logger.reset();
  spdlog::shutdown();
  return 0;
}
