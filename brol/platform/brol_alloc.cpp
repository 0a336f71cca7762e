// The allocation pair of the library and its failure seam for tests.
#include "brol/platform/brol_alloc.h"

#include <cstdlib>

brol_alloc_seam brol_alloc_test{};

void brol_alloc_fail_at(std::int64_t n, bool persistent) noexcept {
  brol_alloc_test.calls.store(0, std::memory_order_relaxed);
  brol_alloc_test.fail_from_then_on.store(persistent && n > 0, std::memory_order_relaxed);
  brol_alloc_test.fail_at.store(n > 0 ? n : 0, std::memory_order_relaxed);
}

void* brol_alloc(std::int64_t size) noexcept {
  const std::int64_t call = brol_alloc_test.calls.fetch_add(1, std::memory_order_relaxed) + 1;
  const std::int64_t fail_at = brol_alloc_test.fail_at.load(std::memory_order_relaxed);
  if (fail_at > 0 && call >= fail_at) {
    if (call == fail_at || brol_alloc_test.fail_from_then_on.load(std::memory_order_relaxed)) {
      return nullptr;
    }
  }
  if (size < 0) {
    return nullptr;
  }
  return std::malloc(size == 0 ? 1 : static_cast<std::size_t>(size));
}

void brol_free(void* block) noexcept { std::free(block); }
