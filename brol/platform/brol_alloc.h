// The library's one allocation pair, and the seam through which tests make allocations fail.
#pragma once

#include <atomic>
#include <cstdint>
#ifdef BROL_ALLOC_SITES
#include <source_location>
#endif

// Allocates size bytes (size 0 counts as 1). Returns null on failure, on a negative size, and when a
// test has chosen this call to fail; never throws. The block is released with brol_free.
//
// Builds configured for tests (BROL_ALLOC_SITES, set by the build on the library and everything that
// links it) also take the caller's source location, so that a test run can tell which allocation
// sites it reached and which it failed. Other builds have the one-argument form only, at no cost.
#ifdef BROL_ALLOC_SITES
void* brol_alloc(std::int64_t size, std::source_location site = std::source_location::current()) noexcept;
#else
// A block of size bytes from the system's allocator, or null when it fails, size is negative or the
// seam below makes this call fail. Release it with brol_free.
void* brol_alloc(std::int64_t size) noexcept;
#endif

// Releases a block of brol_alloc; null is ignored.
void brol_free(void* block) noexcept;

#ifdef BROL_TEST_HOOKS
// Test seam, compiled in only by builds with tests, fuzz targets or benchmarks (BROL_TEST_HOOKS, set
// by the build on the library and everything that links it); a shipping build has neither the counter
// nor the switch. `calls` counts every brol_alloc call since the seam was last armed; when `fail_at`
// is N > 0 the N-th call fails, and with `fail_from_then_on` every call after it as well. Unarmed, it
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
#endif

#ifdef BROL_ALLOC_SITES
// One allocation site as the process has seen it: the source file (as the compiler named it), the
// line, how often an allocation was asked for there and how often the seam failed it.
struct brol_alloc_site_record {
  const char* file;
  std::uint32_t line;
  std::int64_t reached;
  std::int64_t failed;
};

// Copies up to capacity records of the sites reached since the process started (in the order first
// reached) to out, which may be null when capacity is 0. Returns how many sites there are, which may
// exceed capacity. Sites past the table's room (512) are counted in no record, and the count
// returned is then 513. Safe to call while other threads allocate.
std::int64_t brol_alloc_sites(brol_alloc_site_record* out, std::int64_t capacity) noexcept;
#endif
