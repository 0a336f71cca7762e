// brol_parse_uint against strtoull and std::from_chars on the same number texts.
#include <benchmark/benchmark.h>

#include <charconv>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "brol/text/brol_parse.h"

namespace {

// 1024 texts of a kind: values below 10^digits (digits 0: any 64-bit value), written in base.
struct corpus {
  std::vector<std::string> texts;
};

const corpus& make_corpus(int kind) {
  static corpus corpora[3];
  corpus& c = corpora[kind];
  if (!c.texts.empty()) {
    return c;
  }
  std::mt19937_64 rng(static_cast<std::uint64_t>(kind) + 1);
  for (int i = 0; i < 1024; ++i) {
    char text[32];
    const std::uint64_t v = rng();
    if (kind == 0) {
      std::snprintf(text, sizeof text, "%" PRIu64, v % 100000);  // short: ports, ids, counts
    } else if (kind == 1) {
      std::snprintf(text, sizeof text, "%" PRIu64, v);  // up to 20 digits
    } else {
      std::snprintf(text, sizeof text, "%" PRIx64, v);
    }
    c.texts.emplace_back(text);
  }
  return c;
}

int base_of(int kind) { return kind == 2 ? 16 : 10; }

const char* kind_name(int kind) {
  static const char* const names[] = {"short decimal", "64-bit decimal", "64-bit hex"};
  return names[kind];
}

// True when the three parsers agree on every text of the corpus, so that all time the same work.
bool peers_agree(const corpus& c, int base) {
  for (const std::string& t : c.texts) {
    const char* end = nullptr;
    const std::uint64_t ours = brol_parse_uint(t.c_str(), &end, base);
    std::uint64_t theirs = 0;
    const auto result = std::from_chars(t.data(), t.data() + t.size(), theirs, base);
    if (*end != '\0' || result.ptr != t.data() + t.size() || ours != theirs ||
        ours != std::strtoull(t.c_str(), nullptr, base)) {
      return false;
    }
  }
  return true;
}

template <class Parse>
void run(benchmark::State& state, Parse parse) {
  const int kind = static_cast<int>(state.range(0));
  const corpus& c = make_corpus(kind);
  const int base = base_of(kind);
  if (!peers_agree(c, base)) {
    state.SkipWithError("the parsers disagree on the corpus");
    return;
  }
  for (auto _ : state) {
    std::uint64_t sum = 0;
    for (const std::string& t : c.texts) {
      sum += parse(t, base);
    }
    benchmark::DoNotOptimize(sum);
  }
  state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(c.texts.size()));
  state.SetLabel(kind_name(kind));
}

void BM_brol_parse_uint(benchmark::State& state) {
  run(state, [](const std::string& t, int base) {
    const char* end = nullptr;
    const std::uint64_t v = brol_parse_uint(t.c_str(), &end, base);
    benchmark::DoNotOptimize(end);
    return v;
  });
}

void BM_strtoull(benchmark::State& state) {
  run(state, [](const std::string& t, int base) {
    char* end = nullptr;
    const std::uint64_t v = std::strtoull(t.c_str(), &end, base);
    benchmark::DoNotOptimize(end);
    return v;
  });
}

void BM_from_chars(benchmark::State& state) {
  run(state, [](const std::string& t, int base) {
    std::uint64_t v = 0;
    const auto result = std::from_chars(t.data(), t.data() + t.size(), v, base);
    benchmark::DoNotOptimize(result.ptr);
    return v;
  });
}

BENCHMARK(BM_brol_parse_uint)->DenseRange(0, 2);
BENCHMARK(BM_strtoull)->DenseRange(0, 2);
BENCHMARK(BM_from_chars)->DenseRange(0, 2);

}  // namespace

BENCHMARK_MAIN();
