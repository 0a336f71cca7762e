// Helpers shared by the test programs: allocation failure sweeps, temporary folders, random texts
// and the socket library's start.
#pragma once

#include <cstdint>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "brol/container/brol_scoped.h"
#include "brol/platform/brol_alloc.h"
#include "brol/string/brol_string.h"

namespace brol_test {

// The library's self-releasing string, also made from a std::string, with its text as one.
struct owned_string : brol_scoped<brol_string> {
  owned_string() = default;
  explicit owned_string(const char* s) : brol_scoped(s) {}
  explicit owned_string(const std::string& s) : brol_scoped(s.c_str()) {}
  std::string s() const { return c_str(); }
};

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
std::int64_t for_each_allocation_failure(const std::function<void()>& setup, const std::function<void()>& operation,
                                         const std::function<void(std::int64_t)>& check);

// One run of an operation in an allocation sweep: run() performs it with the n-th allocation failing
// (with persistent, that one and every later one) and records whether that allocation was reached.
struct alloc_trial {
  std::int64_t n;
  bool persistent;
  bool hit = false;  // the chosen allocation was asked for during run()
  bool run(const std::function<bool()>& operation) {
    bool result;
    {
      alloc_failure failing(n, persistent);
      result = operation();
      hit = alloc_failure::calls() >= n;
    }
    return result;
  }
};

// Calls body with n = 1, 2, ... until a run completes without reaching its n-th allocation (body must
// call run() once). Returns how many failure points were tried. A run that never stops (more than
// 100000 points) fails the test.
std::int64_t sweep_allocations(bool persistent, const std::function<void(alloc_trial&)>& body);

// The allocation sites of the library as recorded since the process started, joined by file and line;
// file is the path below the source tree ("brol/string/brol_string.cpp").
struct alloc_site {
  std::string file;
  std::uint32_t line;
  std::int64_t reached;
  std::int64_t failed;
};
std::vector<alloc_site> recorded_alloc_sites();
// Every call of brol_alloc in the library's sources (below BROL_TEST_SOURCE_DIR/../brol), found by
// reading them, with reached and failed 0. The allocation pair's own file is left out.
std::vector<alloc_site> library_alloc_sites();

// The whole content of the file at path, or "<missing>" when it cannot be opened.
std::string read_file(const std::string& path);
// Creates or empties the file at path and writes content into it (a failed test when that fails).
void write_file(const std::string& path, const std::string& content);

// Up to max_length bytes drawn from alphabet, the length itself drawn from 0 to max_length.
std::string random_text(std::mt19937& rng, const char* alphabet, std::size_t max_length);

// Whether the socket library is started: the program starts it (WSAStartup on Windows; the library
// never does), once, before main.
extern const bool sockets_started;

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
