// The allocation pair of the library and its failure seam for tests.
#include "brol/platform/brol_alloc.h"

#include <cstdlib>

#ifdef BROL_TEST_HOOKS

brol_alloc_seam brol_alloc_test{};

void brol_alloc_fail_at(std::int64_t n, bool persistent) noexcept {
  brol_alloc_test.calls.store(0, std::memory_order_relaxed);
  brol_alloc_test.fail_from_then_on.store(persistent && n > 0, std::memory_order_relaxed);
  brol_alloc_test.fail_at.store(n > 0 ? n : 0, std::memory_order_relaxed);
}

#endif

namespace {

// True when the seam chooses this call to fail.
bool seam_fails() noexcept {
#ifdef BROL_TEST_HOOKS
  const std::int64_t call = brol_alloc_test.calls.fetch_add(1, std::memory_order_relaxed) + 1;
  const std::int64_t fail_at = brol_alloc_test.fail_at.load(std::memory_order_relaxed);
  if (fail_at > 0 && call >= fail_at) {
    return call == fail_at || brol_alloc_test.fail_from_then_on.load(std::memory_order_relaxed);
  }
#endif
  return false;
}

void* allocate(std::int64_t size) noexcept {
  if (size < 0) {
    return nullptr;
  }
  return std::malloc(size == 0 ? 1 : static_cast<std::size_t>(size));
}

}  // namespace

#ifdef BROL_ALLOC_SITES

namespace {

constexpr std::int64_t site_room = 512;

// The site table, guarded by a spin lock: allocations come from any thread, and a test build may take
// the small cost. The file name pointer and the line identify a site (a call site's location is one
// constant object of its translation unit, so equal sites share the pointer; inline code may give a
// site one record per translation unit, which the report joins by file and line).
struct site_table {
  std::atomic_flag busy = ATOMIC_FLAG_INIT;
  brol_alloc_site_record sites[site_room];
  std::int64_t count = 0;
  bool overflowed = false;
};
site_table table;

class table_lock {
 public:
  table_lock() noexcept {
    while (table.busy.test_and_set(std::memory_order_acquire)) {
    }
  }
  ~table_lock() { table.busy.clear(std::memory_order_release); }
  table_lock(const table_lock&) = delete;
  table_lock& operator=(const table_lock&) = delete;
};

void record(const std::source_location& site, bool failed) noexcept {
  const table_lock lock;
  for (std::int64_t i = 0; i < table.count; ++i) {
    brol_alloc_site_record& r = table.sites[i];
    if (r.file == site.file_name() && r.line == site.line()) {
      ++r.reached;
      r.failed += failed ? 1 : 0;
      return;
    }
  }
  if (table.count == site_room) {
    table.overflowed = true;
    return;
  }
  table.sites[table.count++] = brol_alloc_site_record{site.file_name(), site.line(), 1, failed ? 1 : 0};
}

}  // namespace

void* brol_alloc(std::int64_t size, std::source_location site) noexcept {
  const bool fails = seam_fails();
  record(site, fails);
  return fails ? nullptr : allocate(size);
}

std::int64_t brol_alloc_sites(brol_alloc_site_record* out, std::int64_t capacity) noexcept {
  const table_lock lock;
  for (std::int64_t i = 0; i < table.count && i < capacity; ++i) {
    out[i] = table.sites[i];
  }
  return table.overflowed ? site_room + 1 : table.count;
}

// A caller compiled without the site argument (a program built against the installed headers
// without the build's definitions) still links; its allocations count under this file.
void* brol_alloc(std::int64_t size) noexcept { return brol_alloc(size, std::source_location::current()); }

#else

void* brol_alloc(std::int64_t size) noexcept { return seam_fails() ? nullptr : allocate(size); }

#endif

void brol_free(void* block) noexcept { std::free(block); }
