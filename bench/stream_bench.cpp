// Streams against stdio and plain system calls: line reading (fgets), small buffered writes
// (fwrite), and copying a page-cached file (a read/write loop with the same area, sendfile, cp).
// The files live in a fresh folder in memory (/dev/shm when there is one) and are removed at exit.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <sys/sendfile.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "brol/stream/brol_stream.h"

namespace {

namespace fs = std::filesystem;

constexpr std::int64_t k_text_size = 100 << 20;
constexpr std::int64_t k_copy_size = 512 << 20;
constexpr std::int64_t k_buffer = 8192;
constexpr std::int64_t k_area = 16384;  // what copy_all takes when neither stream has a buffer
constexpr int k_record = 32;
constexpr std::int64_t k_records = (64 << 20) / k_record;

struct bench_files {
  fs::path dir;
  std::string text, big, out;
  bench_files() {
    const fs::path base = fs::exists("/dev/shm") ? fs::path("/dev/shm") : fs::temp_directory_path();
    dir = base / ("brol_stream_bench_" + std::to_string(::getpid()));
    fs::create_directories(dir);
    text = (dir / "text.txt").string();
    big = (dir / "big.bin").string();
    out = (dir / "out.bin").string();
    write_text_file();
    write_big_file();
  }
  ~bench_files() {
    std::error_code ec;
    fs::remove_all(dir, ec);
  }
  // Lines of 0 to 160 letters, LF-terminated.
  void write_text_file() const {
    std::FILE* f = std::fopen(text.c_str(), "wb");
    std::mt19937 rng(1);
    std::string line;
    for (std::int64_t size = 0; size < k_text_size; size += static_cast<std::int64_t>(line.size())) {
      line.assign(rng() % 161, 'a');
      for (char& c : line) c = static_cast<char>('a' + rng() % 26);
      line += '\n';
      std::fwrite(line.data(), 1, line.size(), f);
    }
    std::fclose(f);
  }
  void write_big_file() const {
    std::FILE* f = std::fopen(big.c_str(), "wb");
    std::vector<char> block(1 << 20);
    std::mt19937 rng(2);
    for (char& c : block) c = static_cast<char>(rng());
    for (std::int64_t i = 0; i < k_copy_size / (1 << 20); ++i) std::fwrite(block.data(), 1, block.size(), f);
    std::fclose(f);
  }
};

const bench_files& files() {
  static const bench_files f;
  return f;
}

std::int64_t file_size(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 ? st.st_size : -1;
}

// --- get_line against fgets ---------------------------------------------------------------------

void BM_get_line_brol(benchmark::State& state) {
  char line[1024];
  std::int64_t lines = 0;
  for (auto _ : state) {
    brol_stream s;
    s.init(k_buffer);
    s.open(files().text.c_str(), 0);
    lines = 0;
    while (s.get_line(line, sizeof line)) ++lines;
    s.destroy();
    benchmark::DoNotOptimize(lines);
  }
  state.counters["lines"] = static_cast<double>(lines);
  state.SetBytesProcessed(state.iterations() * k_text_size);
}

void BM_get_line_fgets(benchmark::State& state) {
  char line[1024];
  std::int64_t lines = 0;
  for (auto _ : state) {
    std::FILE* f = std::fopen(files().text.c_str(), "rb");
    std::setvbuf(f, nullptr, _IOFBF, k_buffer);
    lines = 0;
    while (std::fgets(line, sizeof line, f) != nullptr) ++lines;
    std::fclose(f);
    benchmark::DoNotOptimize(lines);
  }
  state.counters["lines"] = static_cast<double>(lines);
  state.SetBytesProcessed(state.iterations() * k_text_size);
}

// --- Small buffered writes against fwrite -------------------------------------------------------

void BM_write_records_brol(benchmark::State& state) {
  const char record[k_record] = "0123456789abcdefghijklmnopqrst\n";
  for (auto _ : state) {
    brol_stream s;
    s.init(k_buffer);
    s.open(files().out.c_str(), 0x301);
    s.enable_write_buffer();
    for (std::int64_t i = 0; i < k_records; ++i) s.write_bytes(record, k_record);
    s.destroy();
  }
  if (file_size(files().out) != k_records * k_record) state.SkipWithError("wrong size");
  state.SetBytesProcessed(state.iterations() * k_records * k_record);
}

void BM_write_records_fwrite(benchmark::State& state) {
  const char record[k_record] = "0123456789abcdefghijklmnopqrst\n";
  for (auto _ : state) {
    std::FILE* f = std::fopen(files().out.c_str(), "wb");
    std::setvbuf(f, nullptr, _IOFBF, k_buffer);
    for (std::int64_t i = 0; i < k_records; ++i) std::fwrite(record, 1, k_record, f);
    std::fclose(f);
  }
  if (file_size(files().out) != k_records * k_record) state.SkipWithError("wrong size");
  state.SetBytesProcessed(state.iterations() * k_records * k_record);
}

// --- Copying a 512 MiB page-cached file ---------------------------------------------------------

void check_copy(benchmark::State& state) {
  if (file_size(files().out) != k_copy_size) state.SkipWithError("wrong size");
  state.SetBytesProcessed(state.iterations() * k_copy_size);
}

void BM_copy_all_brol(benchmark::State& state) {
  for (auto _ : state) {
    brol_stream from, to;
    from.init(k_buffer);
    to.init(k_buffer);
    from.open(files().big.c_str(), 0);
    to.open(files().out.c_str(), 0x301);
    if (!to.copy_all(from)) state.SkipWithError("copy failed");
    from.destroy();
    to.destroy();
  }
  check_copy(state);
}

void BM_copy_read_write_loop(benchmark::State& state) {
  std::vector<char> area(k_area);
  for (auto _ : state) {
    const int in = ::open(files().big.c_str(), O_RDONLY | O_CLOEXEC);
    const int out = ::open(files().out.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    for (ssize_t n; (n = ::read(in, area.data(), area.size())) > 0;) {
      for (ssize_t done = 0; done < n;) {
        const ssize_t put = ::write(out, area.data() + done, static_cast<std::size_t>(n - done));
        if (put <= 0) break;
        done += put;
      }
    }
    ::close(in);
    ::close(out);
  }
  check_copy(state);
}

void BM_copy_sendfile(benchmark::State& state) {
  for (auto _ : state) {
    const int in = ::open(files().big.c_str(), O_RDONLY | O_CLOEXEC);
    const int out = ::open(files().out.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    for (off_t left = k_copy_size; left > 0;) {
      const ssize_t n = ::sendfile(out, in, nullptr, static_cast<std::size_t>(left));
      if (n <= 0) break;
      left -= n;
    }
    ::close(in);
    ::close(out);
  }
  check_copy(state);
}

void BM_copy_cp(benchmark::State& state) {
  const std::string command = "cp '" + files().big + "' '" + files().out + "'";
  for (auto _ : state) {
    if (std::system(command.c_str()) != 0) state.SkipWithError("cp failed");
  }
  check_copy(state);
}

BENCHMARK(BM_get_line_brol)->Unit(benchmark::kMillisecond)->Iterations(8);
BENCHMARK(BM_get_line_fgets)->Unit(benchmark::kMillisecond)->Iterations(8);
BENCHMARK(BM_write_records_brol)->Unit(benchmark::kMillisecond)->Iterations(8);
BENCHMARK(BM_write_records_fwrite)->Unit(benchmark::kMillisecond)->Iterations(8);
BENCHMARK(BM_copy_all_brol)->Unit(benchmark::kMillisecond)->Iterations(4)->UseRealTime();
BENCHMARK(BM_copy_read_write_loop)->Unit(benchmark::kMillisecond)->Iterations(4)->UseRealTime();
BENCHMARK(BM_copy_sendfile)->Unit(benchmark::kMillisecond)->Iterations(4)->UseRealTime();
BENCHMARK(BM_copy_cp)->Unit(benchmark::kMillisecond)->Iterations(4)->UseRealTime();  // cp runs in a child process

}  // namespace

// The files are made before the first measurement and removed when the program ends.
int main(int argc, char** argv) {
  files();
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
