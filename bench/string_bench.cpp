// Strings against the C library and the C++ streams: UTF-8 and ISO 8859-15 conversions of 64 MiB of
// mixed Western text against iconv, and read_line over a 100 MiB text against std::getline and
// fgets. Every output is checked equal to the peer's before timing. The text file lives in a fresh
// folder in memory (/dev/shm when there is one) and is removed at exit.
#include <benchmark/benchmark.h>
#include <iconv.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "brol/stream/brol_stream.h"
#include "brol/string/brol_string.h"

namespace {

namespace fs = std::filesystem;

constexpr std::int64_t k_convert_size = 64 << 20;
constexpr std::int64_t k_text_size = 100 << 20;
constexpr std::int64_t k_buffer = 8192;

// Words of German, French, Scandinavian and Spanish text in ISO 8859-15, about one byte in eleven
// above 0x7F, with the euro sign and the letters that differ from ISO 8859-1.
const char* const k_words[] = {"der",
                               "die",
                               "und",
                               "Stra\xDF"
                               "e",
                               "Gr\xF6\xDF"
                               "e",
                               "\xFC"
                               "ber",
                               "f\xFCr",
                               "caf\xE9",
                               "na\xEF"
                               "ve",
                               "fa\xE7"
                               "ade",
                               "\xE0",
                               "o\xF9",
                               "\xE9t\xE9",
                               "le",
                               "la",
                               "et",
                               "pour",
                               "preis",
                               "100\xA4",
                               "\xBC"
                               "uvre",
                               "\xA6"
                               "koda",
                               "\xC6r\xF8",
                               "se\xF1or",
                               "ma\xF1"
                               "ana",
                               "the",
                               "and",
                               "of",
                               "with",
                               "remote",
                               "Wartung",
                               "Sitzung",
                               "beenden",
                               "starten",
                               "K\xE4se",
                               "\xE5r",
                               "system",
                               "Datei",
                               "\xC5ngstr\xF6m",
                               "\xBD"
                               "il",
                               "Fran\xE7"
                               "ois",
                               "\xBE",
                               "prix"};

std::string make_latin9(std::size_t size) {
  std::mt19937 rng(3);
  std::string text;
  text.reserve(size + 32);
  int in_line = 0;
  while (text.size() < size) {
    text += k_words[rng() % std::size(k_words)];
    text += ++in_line % 12 == 0 ? '\n' : ' ';
  }
  text.resize(size);
  return text;
}

struct inputs {
  std::string latin9 = make_latin9(static_cast<std::size_t>(k_convert_size));
  std::string utf8;
  fs::path dir;
  std::string lines;
  std::int64_t line_count = 0;
  std::int64_t line_bytes = 0;  // without the line ends
  inputs() {
    brol_string s;
    s.init();
    s.to_utf8(latin9.c_str());
    utf8 = s.c_str();
    s.destroy();
    const fs::path base = fs::exists("/dev/shm") ? fs::path("/dev/shm") : fs::temp_directory_path();
    dir = base / ("brol_string_bench_" + std::to_string(::getpid()));
    fs::create_directories(dir);
    lines = (dir / "text.txt").string();
    write_lines();
  }
  ~inputs() {
    std::error_code ec;
    fs::remove_all(dir, ec);
  }
  // Lines of 0 to 160 letters, LF-terminated, as in the stream benchmark.
  void write_lines() {
    std::FILE* f = std::fopen(lines.c_str(), "wb");
    std::mt19937 rng(1);
    std::string line;
    for (std::int64_t size = 0; size < k_text_size; size += static_cast<std::int64_t>(line.size())) {
      line.assign(rng() % 161, 'a');
      for (char& c : line) c = static_cast<char>('a' + rng() % 26);
      ++line_count;
      line_bytes += static_cast<std::int64_t>(line.size());
      line += '\n';
      std::fwrite(line.data(), 1, line.size(), f);
    }
    std::fclose(f);
  }
};

const inputs& in() {
  static inputs i;
  return i;
}

// --- Conversions against iconv --------------------------------------------------------------------

// iconv into a preallocated area; false when iconv refuses any byte.
bool iconv_run(iconv_t cd, const std::string& from, std::vector<char>* area, std::size_t* length) {
  iconv(cd, nullptr, nullptr, nullptr, nullptr);
  char* ip = const_cast<char*>(from.data());
  std::size_t il = from.size();
  char* op = area->data();
  std::size_t ol = area->size();
  const bool ok = iconv(cd, &ip, &il, &op, &ol) != static_cast<std::size_t>(-1);
  *length = area->size() - ol;
  return ok;
}

void BM_to_utf8_brol(benchmark::State& state) {
  brol_string s;
  s.init();
  for (auto _ : state) {
    s.to_utf8(in().latin9.c_str());
    benchmark::DoNotOptimize(s.text);
  }
  if (in().utf8 != s.c_str()) state.SkipWithError("output differs");
  s.destroy();
  state.SetBytesProcessed(state.iterations() * k_convert_size);
}

void BM_from_utf8_brol(benchmark::State& state) {
  brol_string s;
  s.init();
  for (auto _ : state) {
    s.from_utf8(in().utf8.c_str());
    benchmark::DoNotOptimize(s.text);
  }
  if (in().latin9 != s.c_str()) state.SkipWithError("output differs");
  s.destroy();
  state.SetBytesProcessed(state.iterations() * k_convert_size);
}

void iconv_bench(benchmark::State& state, const char* to, const char* from, const std::string& src,
                 const std::string& expected) {
  iconv_t cd = iconv_open(to, from);
  std::vector<char> area(src.size() * 3 + 16);
  std::size_t length = 0;
  for (auto _ : state) {
    if (!iconv_run(cd, src, &area, &length)) state.SkipWithError("iconv refused");
    benchmark::DoNotOptimize(area.data());
  }
  iconv_close(cd);
  if (expected != std::string(area.data(), length)) state.SkipWithError("output differs");
  state.SetBytesProcessed(state.iterations() * k_convert_size);
}

void BM_to_utf8_iconv(benchmark::State& state) { iconv_bench(state, "UTF-8", "ISO-8859-15", in().latin9, in().utf8); }

void BM_from_utf8_iconv(benchmark::State& state) { iconv_bench(state, "ISO-8859-15", "UTF-8", in().utf8, in().latin9); }

// --- read_line against std::getline and fgets -------------------------------------------------------

struct line_count {
  std::int64_t lines = 0;
  std::int64_t bytes = 0;
};

void report(benchmark::State& state, const line_count& c) {
  state.counters["lines"] = static_cast<double>(c.lines);
  // Every byte but the line ends is stored: the three readers agree when the counts do.
  if (c.lines != in().line_count || c.bytes != in().line_bytes) state.SkipWithError("counts differ");
  state.SetBytesProcessed(state.iterations() * (in().line_count + in().line_bytes));
}

void BM_read_line_brol(benchmark::State& state) {
  line_count c;
  brol_string line;
  line.init();
  for (auto _ : state) {
    brol_stream s;
    s.init(k_buffer);
    s.open(in().lines.c_str(), 0);
    c = {};
    while (line.read_line(s) != 0) {
      ++c.lines;
      c.bytes += line.length();
      line.text[0] = '\0';
    }
    s.destroy();
  }
  line.destroy();
  report(state, c);
}

void BM_read_line_getline(benchmark::State& state) {
  line_count c;
  std::vector<char> area(k_buffer);
  std::string line;
  for (auto _ : state) {
    std::ifstream f;
    f.rdbuf()->pubsetbuf(area.data(), k_buffer);
    f.open(in().lines, std::ios::binary);
    c = {};
    while (std::getline(f, line)) {
      ++c.lines;
      c.bytes += static_cast<std::int64_t>(line.size());
    }
  }
  report(state, c);
}

void BM_read_line_fgets(benchmark::State& state) {
  line_count c;
  char line[1024];
  for (auto _ : state) {
    std::FILE* f = std::fopen(in().lines.c_str(), "rb");
    std::setvbuf(f, nullptr, _IOFBF, k_buffer);
    c = {};
    while (std::fgets(line, sizeof line, f) != nullptr) {
      ++c.lines;
      c.bytes += static_cast<std::int64_t>(std::strlen(line)) - 1;  // without the LF
    }
    std::fclose(f);
  }
  report(state, c);
}

BENCHMARK(BM_to_utf8_brol)->Unit(benchmark::kMillisecond)->Iterations(6);
BENCHMARK(BM_to_utf8_iconv)->Unit(benchmark::kMillisecond)->Iterations(6);
BENCHMARK(BM_from_utf8_brol)->Unit(benchmark::kMillisecond)->Iterations(6);
BENCHMARK(BM_from_utf8_iconv)->Unit(benchmark::kMillisecond)->Iterations(6);
BENCHMARK(BM_read_line_brol)->Unit(benchmark::kMillisecond)->Iterations(6);
BENCHMARK(BM_read_line_getline)->Unit(benchmark::kMillisecond)->Iterations(6);
BENCHMARK(BM_read_line_fgets)->Unit(benchmark::kMillisecond)->Iterations(6);

}  // namespace

// The inputs are made before the first measurement and the file removed when the program ends.
int main(int argc, char** argv) {
  in();
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
