// Configuration files against SimpleIni and inih (its INIReader): loading a generated file of 56 000
// lines, 10 000 lookups of existing keys, and saving. Every value the peers read is checked equal to
// ours before timing (the peers keep the quotes of a quoted value; they are taken off for the
// comparison), our saved file is checked equal to the input byte for byte, and our lookups are
// checked to allocate nothing. The files live in a fresh folder in memory (/dev/shm when there is
// one) and are removed at exit.
#include <INIReader.h>
// Debian builds SimpleIni with the ICU converter; the narrow-character class used here converts
// nothing either way.
#define SI_CONVERT_ICU
#include <SimpleIni.h>
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "brol/config/brol_config.h"
#include "brol/platform/brol_alloc.h"

namespace {

namespace fs = std::filesystem;

constexpr int k_sections = 2000;
constexpr int k_keys = 25;
constexpr int k_lookups = 10000;

struct lookup {
  std::string section, key, value;
};

// 2000 sections of a header, a comment, 25 keys (every third value quoted, some with blanks) and a
// blank line: 56 000 lines.
struct bench_files {
  fs::path dir;
  std::string input, ours, simpleini;
  std::string content;
  std::vector<lookup> lookups;

  bench_files() {
    const fs::path base = fs::exists("/dev/shm") ? fs::path("/dev/shm") : fs::temp_directory_path();
    dir = base / ("brol_config_bench_" + std::to_string(::getpid()));
    fs::create_directories(dir);
    input = (dir / "in.ini").string();
    ours = (dir / "ours.ini").string();
    simpleini = (dir / "simpleini.ini").string();
    std::mt19937 rng(5);
    std::vector<lookup> all;
    for (int s = 0; s < k_sections; ++s) {
      const std::string section = "section_" + std::to_string(s * 7919 % 100003);
      content += "[" + section + "]\n# settings of " + section + "\n";
      for (int k = 0; k < k_keys; ++k) {
        const std::string key = "key_" + std::to_string(k) + "_" + std::to_string(rng() % 1000);
        std::string value = "value " + std::to_string(rng());
        if (k % 3 == 0) {
          content += key + " = \"" + value + "\"\n";
        } else {
          value = std::to_string(rng() % 100000);
          content += key + "=" + value + "\n";
        }
        all.push_back({section, key, value});
      }
      content += "\n";
    }
    std::ofstream(input, std::ios::binary) << content;
    for (int i = 0; i < k_lookups; ++i) lookups.push_back(all[rng() % all.size()]);
  }
  ~bench_files() {
    std::error_code ec;
    fs::remove_all(dir, ec);
  }
};

const bench_files& files() {
  static const bench_files f;
  return f;
}

std::string unquoted(const char* v) {
  std::string s = v != nullptr ? v : "<none>";
  if (s.size() >= 2 && s.front() == '"' && s.back() == '"') s = s.substr(1, s.size() - 2);
  return s;
}

std::string read_all(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

// --- Load ------------------------------------------------------------------------------------------

void BM_load_brol(benchmark::State& state) {
  for (auto _ : state) {
    brol_config c;
    c.init();
    if (!c.load(files().input.c_str())) state.SkipWithError("load failed");
    c.destroy();
  }
}

void BM_load_simpleini(benchmark::State& state) {
  for (auto _ : state) {
    CSimpleIniA ini;
    if (ini.LoadFile(files().input.c_str()) != SI_OK) state.SkipWithError("load failed");
  }
}

void BM_load_inih(benchmark::State& state) {
  for (auto _ : state) {
    INIReader reader(files().input);
    if (reader.ParseError() != 0) state.SkipWithError("load failed");
  }
}

// --- Lookups -----------------------------------------------------------------------------------------

void BM_get_brol(benchmark::State& state) {
  brol_config c;
  c.init();
  c.load(files().input.c_str());
  for (const lookup& l : files().lookups) {
    if (l.value != c.get(l.section.c_str(), l.key.c_str(), '=')) state.SkipWithError("value differs");
  }
  const std::int64_t before = brol_alloc_test.calls.load();
  for (auto _ : state) {
    for (const lookup& l : files().lookups) benchmark::DoNotOptimize(c.get(l.section.c_str(), l.key.c_str(), '='));
  }
  if (brol_alloc_test.calls.load() != before) state.SkipWithError("a lookup allocated");
  c.destroy();
  state.SetItemsProcessed(state.iterations() * k_lookups);
}

void BM_get_simpleini(benchmark::State& state) {
  CSimpleIniA ini;
  ini.LoadFile(files().input.c_str());
  for (const lookup& l : files().lookups) {
    if (l.value != unquoted(ini.GetValue(l.section.c_str(), l.key.c_str()))) state.SkipWithError("value differs");
  }
  for (auto _ : state) {
    for (const lookup& l : files().lookups) benchmark::DoNotOptimize(ini.GetValue(l.section.c_str(), l.key.c_str()));
  }
  state.SetItemsProcessed(state.iterations() * k_lookups);
}

void BM_get_inih(benchmark::State& state) {
  INIReader reader(files().input);
  for (const lookup& l : files().lookups) {
    if (l.value != unquoted(reader.Get(l.section, l.key, "<none>").c_str())) state.SkipWithError("value differs");
  }
  for (auto _ : state) {
    for (const lookup& l : files().lookups) benchmark::DoNotOptimize(reader.Get(l.section, l.key, ""));
  }
  state.SetItemsProcessed(state.iterations() * k_lookups);
}

// --- Save ----------------------------------------------------------------------------------------------

void BM_save_brol(benchmark::State& state) {
  brol_config c;
  c.init();
  c.load(files().input.c_str());
  for (auto _ : state) {
    if (!c.save(files().ours.c_str())) state.SkipWithError("save failed");
  }
  c.destroy();
  if (read_all(files().ours) != files().content) state.SkipWithError("saved file differs from the input");
}

void BM_save_simpleini(benchmark::State& state) {
  CSimpleIniA ini;
  ini.LoadFile(files().input.c_str());
  for (auto _ : state) {
    if (ini.SaveFile(files().simpleini.c_str()) != SI_OK) state.SkipWithError("save failed");
  }
  // SimpleIni writes its own layout; what it wrote reads back to the same values.
  CSimpleIniA back;
  back.LoadFile(files().simpleini.c_str());
  for (const lookup& l : files().lookups) {
    if (l.value != unquoted(back.GetValue(l.section.c_str(), l.key.c_str()))) state.SkipWithError("value differs");
  }
}

BENCHMARK(BM_load_brol)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_load_simpleini)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_load_inih)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_get_brol)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_get_simpleini)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_get_inih)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_save_brol)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_save_simpleini)->Unit(benchmark::kMillisecond);

}  // namespace

// The input is made before the first measurement and removed when the program ends.
int main(int argc, char** argv) {
  files();
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
