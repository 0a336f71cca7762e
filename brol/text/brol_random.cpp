// The process-wide generator: a 64-bit counter advanced atomically and mixed (splitmix64), so every
// thread draws distinct values without a lock.
#include "brol/text/brol_random.h"

#include <atomic>
#include <chrono>

#include "brol/platform/brol_platform.h"

namespace {

constexpr std::uint64_t k_golden = 0x9E3779B97F4A7C15u;

std::uint64_t mix(std::uint64_t z) noexcept {
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9u;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBu;
  return z ^ (z >> 31);
}

// Seconds alone repeat between processes started together; the process id, a fine clock and an
// address (which varies with address-space randomisation) keep them apart.
std::uint64_t initial_state() noexcept {
  const auto fine = static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
  std::uint64_t s = mix(static_cast<std::uint64_t>(brol_os.time_now()));
  s = mix(s ^ brol_os.process_id());
  s = mix(s ^ fine);
  return mix(s ^ reinterpret_cast<std::uintptr_t>(&s));
}

std::atomic<std::uint64_t>& state() noexcept {
  static std::atomic<std::uint64_t> s{initial_state()};
  return s;
}

constexpr char k_alnum[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";

}  // namespace

std::uint64_t brol_random_next() noexcept {
  return mix(state().fetch_add(k_golden, std::memory_order_relaxed) + k_golden);
}

void brol_random_alnum(char* destination, std::int64_t n) noexcept {
  if (destination == nullptr) {
    return;
  }
  std::uint64_t bits = 0;
  int left = 0;
  for (std::int64_t i = 0; i < n; ++i) {
    if (left == 0) {
      bits = brol_random_next();
      left = 2;
    }
    // 32 random bits scaled to 0..61 (multiply and shift: no modulo bias worth naming).
    const std::uint64_t draw = ((bits & 0xFFFFFFFFu) * 62u) >> 32;
    bits >>= 32;
    --left;
    destination[i] = k_alnum[draw];
  }
}
