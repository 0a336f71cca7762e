// Platform call failures for tests: every entry of the brol_os table counted and, at a chosen call,
// failed, cut short or answered with 0; and the file and socket handles the library holds open.
#pragma once

#include <array>
#include <cerrno>
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "brol/platform/brol_platform.h"

namespace brol_test {

// What happens at the chosen call. fail: the entry's failure result (-1, the invalid handle, false,
// 0 for the 32-bit unsigned entries) with errno set; a failing close still closes, so the system
// keeps no handle. short_count: a read, write, append, recv or send moves at most half of what was
// asked (at least 1 byte). zero: such a call returns 0. short_count and zero leave other entries alone.
enum class platform_fault { fail, short_count, zero };

// While alive, every brol_os entry goes through a counting wrapper that also keeps the file and socket
// handles opened and not yet closed through the table; the table is restored on destruction. Once
// armed, calls from the arming thread are counted (other threads, such as a test's server, pass
// straight through) and the n-th (n > 0) gets fault, with errno error_number for fail.
class platform_watch {
 public:
  platform_watch();
  ~platform_watch();
  platform_watch(const platform_watch&) = delete;
  platform_watch& operator=(const platform_watch&) = delete;
  static void arm(std::int64_t n, platform_fault fault, int error_number);
  static void disarm();
  // The entry of each counted call since arming, in order ("file_open", "socket_send", ...).
  static const std::vector<std::string>& trace();
};

// File and socket handles opened through the table (while watched) and not yet closed through it.
std::int64_t open_handles();

// How often each entry was given each fault (indexed by platform_fault) since the process started.
std::map<std::string, std::array<std::int64_t, 3>> platform_faults_given();

// One run of an operation in a platform sweep: run() arms the watch for it and records whether the
// n-th call was reached, and which entry it was.
struct platform_trial {
  std::int64_t n;
  platform_fault fault;
  int error_number;
  bool hit = false;
  std::string entry;  // the entry of the n-th call, when hit
  bool run(const std::function<bool()>& operation);
};
// Runs body (which calls run() once) under a fresh watch for n = 1, 2, ... until a run no longer
// reaches its n-th call; after each run no handle opened through the table may stay open. Returns the
// points tried.
std::int64_t sweep_platform_calls(platform_fault fault, int error_number,
                                  const std::function<void(platform_trial&)>& body);

}  // namespace brol_test
