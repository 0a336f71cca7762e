// brol_dict against std::unordered_map<std::string, int>: find (hit and miss) and find_or_add of N
// unique keys of 8 and 24 bytes, and brol_hash alone over the same keys, so that the dictionary's own
// cost (its time minus the hash) can be read apart from the fixed hash.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "brol/container/brol_dict.h"

namespace {

// N different keys of one length, and N more that are none of them, both in a random order.
struct key_set {
  std::vector<std::string> present;
  std::vector<std::string> absent;
};

const key_set& keys_for(std::int64_t n, std::int64_t length) {
  static std::unordered_map<std::int64_t, key_set> cache;
  key_set& keys = cache[n * 1000 + length];
  if (!keys.present.empty()) {
    return keys;
  }
  std::mt19937_64 rng(static_cast<std::uint64_t>(n * 31 + length));
  static const char alphabet[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789_.";
  std::unordered_set<std::string> seen;
  while (seen.size() < static_cast<std::size_t>(2 * n)) {
    std::string key;
    for (std::int64_t i = 0; i < length; ++i) {
      key += alphabet[rng() % 64];
    }
    if (seen.insert(key).second) {
      (seen.size() <= static_cast<std::size_t>(n) ? keys.present : keys.absent).push_back(key);
    }
  }
  return keys;
}

// The lookup order: every key once, shuffled, so that neither structure is walked in the order its
// memory was allocated.
std::vector<const std::string*> shuffled(const std::vector<std::string>& keys) {
  std::vector<const std::string*> order;
  for (const std::string& k : keys) {
    order.push_back(&k);
  }
  std::shuffle(order.begin(), order.end(), std::mt19937_64(5));
  return order;
}

void BM_hash(benchmark::State& state) {
  const auto order = shuffled(keys_for(state.range(0), state.range(1)).present);
  std::size_t i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(brol_hash(order[i]->c_str()));
    i = i + 1 == order.size() ? 0 : i + 1;
  }
}

void brol_find(benchmark::State& state, bool hit) {
  const key_set& keys = keys_for(state.range(0), state.range(1));
  brol_dict<int> dict;
  dict.init();
  for (const std::string& k : keys.present) {
    if (int* value = dict.find_or_add(k.c_str())) {
      *value = 1;
    }
  }
  const auto order = shuffled(hit ? keys.present : keys.absent);
  std::size_t i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(dict.find(order[i]->c_str()));
    i = i + 1 == order.size() ? 0 : i + 1;
  }
  dict.destroy();
}

// The trie walk and key comparison alone: the hashes are computed before the timing.
void brol_find_hashed(benchmark::State& state, bool hit) {
  const key_set& keys = keys_for(state.range(0), state.range(1));
  brol_dict<int> dict;
  dict.init();
  for (const std::string& k : keys.present) {
    dict.find_or_add(k.c_str());
  }
  const auto order = shuffled(hit ? keys.present : keys.absent);
  std::vector<std::uint32_t> hashes;
  for (const std::string* k : order) {
    hashes.push_back(brol_hash(k->c_str()));
  }
  std::size_t i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(dict.find_hashed(order[i]->c_str(), hashes[i]));
    i = i + 1 == order.size() ? 0 : i + 1;
  }
  dict.destroy();
}

void std_find(benchmark::State& state, bool hit) {
  const key_set& keys = keys_for(state.range(0), state.range(1));
  std::unordered_map<std::string, int> map;
  for (const std::string& k : keys.present) {
    map[k] = 1;
  }
  const auto order = shuffled(hit ? keys.present : keys.absent);
  std::size_t i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(map.find(*order[i]));
    i = i + 1 == order.size() ? 0 : i + 1;
  }
}

void BM_brol_find_hit(benchmark::State& state) { brol_find(state, true); }
void BM_brol_find_miss(benchmark::State& state) { brol_find(state, false); }
void BM_brol_structure_hit(benchmark::State& state) { brol_find_hashed(state, true); }
void BM_brol_structure_miss(benchmark::State& state) { brol_find_hashed(state, false); }
void BM_std_find_hit(benchmark::State& state) { std_find(state, true); }
void BM_std_find_miss(benchmark::State& state) { std_find(state, false); }

// One iteration fills an empty container with the N keys and releases it again; the time is
// reported per key.
void BM_brol_find_or_add(benchmark::State& state) {
  const auto order = shuffled(keys_for(state.range(0), state.range(1)).present);
  for (auto _ : state) {
    brol_dict<int> dict;
    dict.init();
    for (const std::string* k : order) {
      benchmark::DoNotOptimize(dict.find_or_add(k->c_str()));
    }
    dict.destroy();
  }
  state.counters["per_key"] = benchmark::Counter(static_cast<double>(order.size()),
                                                 benchmark::Counter::kIsIterationInvariantRate |
                                                     benchmark::Counter::kInvert);
}

void BM_std_find_or_add(benchmark::State& state) {
  const auto order = shuffled(keys_for(state.range(0), state.range(1)).present);
  for (auto _ : state) {
    std::unordered_map<std::string, int> map;
    for (const std::string* k : order) {
      benchmark::DoNotOptimize(&map.try_emplace(*k).first->second);
    }
  }
  state.counters["per_key"] = benchmark::Counter(static_cast<double>(order.size()),
                                                 benchmark::Counter::kIsIterationInvariantRate |
                                                     benchmark::Counter::kInvert);
}

void sizes(benchmark::internal::Benchmark* b) {
  for (std::int64_t length : {8, 24}) {
    for (std::int64_t n : {16, 1000, 100000}) {
      b->Args({n, length});
    }
  }
  b->ArgNames({"n", "len"});
}

BENCHMARK(BM_hash)->Apply(sizes);
BENCHMARK(BM_brol_find_hit)->Apply(sizes);
BENCHMARK(BM_brol_structure_hit)->Apply(sizes);
BENCHMARK(BM_std_find_hit)->Apply(sizes);
BENCHMARK(BM_brol_find_miss)->Apply(sizes);
BENCHMARK(BM_brol_structure_miss)->Apply(sizes);
BENCHMARK(BM_std_find_miss)->Apply(sizes);
BENCHMARK(BM_brol_find_or_add)->Apply(sizes);
BENCHMARK(BM_std_find_or_add)->Apply(sizes);

}  // namespace

BENCHMARK_MAIN();
