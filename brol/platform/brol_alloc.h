// The library's one allocation pair, and the seam through which tests make allocations fail.
#pragma once

#include <atomic>
#include <cstdint>

// Allocates size bytes (size 0 counts as 1). Returns null on failure, on a negative size, and when a
// test has chosen this call to fail; never throws. The block is released with brol_free.
void* brol_alloc(std::int64_t size) noexcept;

// Releases a block of brol_alloc; null is ignored.
void brol_free(void* block) noexcept;

// Test seam. `calls` counts every brol_alloc call since the seam was last armed; when `fail_at` is
// N > 0 the N-th call fails, and with `fail_from_then_on` every call after it as well. Unarmed, it
// costs one relaxed counter increment per allocation.
struct brol_alloc_seam {
  std::atomic<std::int64_t> calls;
  std::atomic<std::int64_t> fail_at;
  std::atomic<bool> fail_from_then_on;
};
extern brol_alloc_seam brol_alloc_test;

// Arms the seam: the n-th allocation counted from now fails (n <= 0 disarms). With persistent, that
// call and all later ones fail until the seam is disarmed.
void brol_alloc_fail_at(std::int64_t n, bool persistent = false) noexcept;
