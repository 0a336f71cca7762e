// Helpers shared by the test programs: allocation failure sweeps and temporary folders.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "brol/platform/brol_alloc.h"

namespace brol_test {

// While alive, the n-th allocation of the library (counted from construction) fails; with
// persistent, every allocation from the n-th on. The seam is disarmed on destruction.
class alloc_failure {
 public:
  explicit alloc_failure(std::int64_t n, bool persistent = false) { brol_alloc_fail_at(n, persistent); }
  ~alloc_failure() { brol_alloc_fail_at(0); }
  alloc_failure(const alloc_failure&) = delete;
  alloc_failure& operator=(const alloc_failure&) = delete;
  // Allocations counted since construction.
  static std::int64_t calls() { return brol_alloc_test.calls.load(); }
};

// How many allocations `operation` makes when none fails.
std::int64_t count_allocations(const std::function<void()>& operation);

// Runs setup + operation once for every allocation the operation makes, failing that one, and hands
// the failing call's number to check (after setup, operation, in that order). setup runs with the
// seam disarmed. Returns how many failure points were tried (at least 1 when the operation allocates).
std::int64_t for_each_allocation_failure(const std::function<void()>& setup,
                                         const std::function<void()>& operation,
                                         const std::function<void(std::int64_t)>& check);

// A fresh, empty folder below the system's temporary folder, removed with everything in it when
// the object goes. path() ends without a separator.
class temp_dir {
 public:
  temp_dir();
  ~temp_dir();
  temp_dir(const temp_dir&) = delete;
  temp_dir& operator=(const temp_dir&) = delete;
  const std::string& path() const { return path_; }
  // path() joined with a name by the platform's separator.
  std::string file(const std::string& name) const;

 private:
  std::string path_;
};

}  // namespace brol_test
