// Shared test helpers: allocation failure sweeps and temporary folders.
#include "brol_test_support.h"

#include <atomic>
#include <filesystem>
#include <random>

namespace brol_test {

std::int64_t count_allocations(const std::function<void()>& operation) {
  brol_alloc_fail_at(0);
  operation();
  return brol_alloc_test.calls.load();
}

std::int64_t for_each_allocation_failure(const std::function<void()>& setup,
                                         const std::function<void()>& operation,
                                         const std::function<void(std::int64_t)>& check) {
  setup();
  const std::int64_t total = count_allocations(operation);
  for (std::int64_t n = 1; n <= total; ++n) {
    brol_alloc_fail_at(0);
    setup();
    {
      alloc_failure failing(n);
      operation();
    }
    check(n);
  }
  return total;
}

temp_dir::temp_dir() {
  static std::atomic<unsigned> serial{0};
  std::random_device rd;
  const auto base = std::filesystem::temp_directory_path();
  for (;;) {
    auto candidate = base / ("brol_test_" + std::to_string(rd()) + "_" + std::to_string(serial++));
    if (std::filesystem::create_directory(candidate)) {
      path_ = candidate.string();
      return;
    }
  }
}

temp_dir::~temp_dir() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

std::string temp_dir::file(const std::string& name) const {
  return (std::filesystem::path(path_) / name).string();
}

}  // namespace brol_test
