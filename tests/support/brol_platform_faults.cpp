// Counting wrappers around every platform call, for the failure sweeps.
#include "brol_platform_faults.h"

#include <gtest/gtest.h>

#include <array>
#include <cerrno>
#include <map>
#include <mutex>
#include <set>
#include <thread>
#include <tuple>
#include <type_traits>

namespace brol_test {

namespace {

struct fault_plan {
  std::mutex lock;
  std::thread::id owner;
  bool armed = false;
  std::int64_t calls = 0;
  std::int64_t n = 0;
  platform_fault fault = platform_fault::fail;
  int error_number = EIO;
  bool hit = false;
  std::string hit_entry;
  std::vector<std::string> trace;
  std::set<std::int64_t> files;
  std::set<std::uint64_t> sockets;
  std::map<std::string, std::array<std::int64_t, 3>> faults;  // per entry, per kind of fault
};
fault_plan plan;
brol_platform_calls saved;

// Whether this call gets the fault: counted only on the arming thread.
bool chosen(const char* entry, bool applies) {
  const std::lock_guard<std::mutex> guard(plan.lock);
  if (!plan.armed || std::this_thread::get_id() != plan.owner) {
    return false;
  }
  ++plan.calls;
  plan.trace.emplace_back(entry);
  if (plan.calls != plan.n) {
    return false;
  }
  plan.hit = true;
  plan.hit_entry = entry;
  if (applies) {
    ++plan.faults[entry][static_cast<std::size_t>(plan.fault)];
  }
  return applies;
}

template <class R>
R failure_result() {
  if constexpr (std::is_same_v<R, bool>) {
    return false;
  } else if constexpr (std::is_same_v<R, std::uint32_t>) {
    return 0;
  } else {
    return static_cast<R>(-1);
  }
}

void note_handle(const char* entry, std::int64_t result) {
  const std::lock_guard<std::mutex> guard(plan.lock);
  const std::string e = entry;
  if ((e == "file_open" || e == "file_open_append" || e == "file_create_like") && result != brol_invalid_file) {
    plan.files.insert(result);
  } else if ((e == "socket_open" || e == "socket_accept") &&
             static_cast<std::uint64_t>(result) != brol_invalid_socket) {
    plan.sockets.insert(static_cast<std::uint64_t>(result));
  }
}

void forget_handle(const char* entry, std::uint64_t handle) {
  const std::lock_guard<std::mutex> guard(plan.lock);
  if (std::string(entry) == "file_close") {
    plan.files.erase(static_cast<std::int64_t>(handle));
  } else {
    plan.sockets.erase(handle);
  }
}

// A handle argument as a number; other arguments (a path) give 0.
template <class T>
std::uint64_t as_handle(T value) {
  if constexpr (std::is_integral_v<T>) {
    return static_cast<std::uint64_t>(value);
  } else {
    return 0;
  }
}

bool is_close(const char* entry) { return std::string(entry) == "file_close" || std::string(entry) == "socket_close"; }

template <auto Member>
struct wrapper;

// One wrapper per entry: counts the call, applies the plan, passes on to the saved entry.
template <class R, class... A, R (*brol_platform_calls::*Member)(A...)>
struct wrapper<Member> {
  static inline const char* name = "";
  static constexpr bool is_count = sizeof...(A) == 3 && std::is_same_v<R, std::int32_t>;
  static constexpr bool closes_file = [] {
    using replace_type = decltype(&brol_platform_calls::file_replace);
    if constexpr (std::is_same_v<decltype(Member), replace_type>) {
      return Member == &brol_platform_calls::file_replace;
    } else {
      return false;
    }
  }();
  static R call(A... a) {
    const bool fault = chosen(name, plan.fault == platform_fault::fail || is_count);
    if constexpr (closes_file) {
      // The replacement closes the new file whatever its outcome.
      forget_handle("file_close", as_handle(std::get<0>(std::tuple<A...>(a...))));
      if (fault && plan.fault == platform_fault::fail) {
        saved.file_close(std::get<0>(std::tuple<A...>(a...)));
      }
    }
    if (fault && plan.fault == platform_fault::fail) {
      if constexpr (sizeof...(A) == 1 && std::is_same_v<R, bool>) {
        if (is_close(name)) {
          (saved.*Member)(a...);  // the handle goes even though the call reports a failure
          forget_handle(name, as_handle(a...));
        }
      }
      errno = plan.error_number;
      return failure_result<R>();
    }
    if constexpr (is_count) {
      if (fault) {
        return shortened(a...);
      }
    }
    const R result = (saved.*Member)(a...);
    after(result, a...);
    return result;
  }
  static R shortened(A... a) {
    if constexpr (is_count) {
      auto [handle, data, size] = std::tuple<A...>(a...);
      if (plan.fault == platform_fault::zero) {
        return 0;
      }
      return (saved.*Member)(handle, data, size > 1 ? size / 2 : size);
    } else {
      return failure_result<R>();
    }
  }
  static void after(R result, A... a) {
    if constexpr (std::is_integral_v<R> && !std::is_same_v<R, bool>) {
      note_handle(name, static_cast<std::int64_t>(result));
    }
    if constexpr (sizeof...(A) == 1 && std::is_same_v<R, bool>) {
      if (result && is_close(name)) {
        forget_handle(name, as_handle(a...));
      }
    }
  }
};

template <auto Member>
void install(const char* name) {
  wrapper<Member>::name = name;
  brol_os.*Member = &wrapper<Member>::call;
}

#define BROL_WRAP(entry) install<&brol_platform_calls::entry>(#entry)

void install_all() {
  BROL_WRAP(time_now);
  BROL_WRAP(process_id);
  BROL_WRAP(file_open);
  BROL_WRAP(file_read);
  BROL_WRAP(file_write);
  BROL_WRAP(file_seek);
  BROL_WRAP(file_close);
  BROL_WRAP(file_stat);
  BROL_WRAP(file_open_append);
  BROL_WRAP(file_append);
  BROL_WRAP(file_flush);
  BROL_WRAP(file_replace);
  BROL_WRAP(file_read_link);
  BROL_WRAP(file_create_like);
  BROL_WRAP(socket_set_timeout);
  BROL_WRAP(file_remove);
  BROL_WRAP(dir_create);
  BROL_WRAP(logical_drives);
  BROL_WRAP(socket_recv);
  BROL_WRAP(socket_send);
  BROL_WRAP(socket_shutdown);
  BROL_WRAP(socket_close);
  BROL_WRAP(socket_open);
  BROL_WRAP(socket_bind);
  BROL_WRAP(socket_listen);
  BROL_WRAP(socket_accept);
  BROL_WRAP(socket_connect);
  BROL_WRAP(socket_local_address);
  BROL_WRAP(host_lookup);
  BROL_WRAP(host_name);
  BROL_WRAP(file_copy);
  BROL_WRAP(file_send);
}

#undef BROL_WRAP

}  // namespace

platform_watch::platform_watch() {
  saved = brol_os;
  {
    const std::lock_guard<std::mutex> guard(plan.lock);
    plan.armed = false;
    plan.files.clear();
    plan.sockets.clear();
  }
  install_all();
}

platform_watch::~platform_watch() { brol_os = saved; }

void platform_watch::arm(std::int64_t n, platform_fault fault, int error_number) {
  const std::lock_guard<std::mutex> guard(plan.lock);
  plan.owner = std::this_thread::get_id();
  plan.calls = 0;
  plan.n = n;
  plan.fault = fault;
  plan.error_number = error_number;
  plan.hit = false;
  plan.hit_entry.clear();
  plan.trace.clear();
  plan.armed = true;
}

void platform_watch::disarm() {
  const std::lock_guard<std::mutex> guard(plan.lock);
  plan.armed = false;
}

const std::vector<std::string>& platform_watch::trace() { return plan.trace; }

std::map<std::string, std::array<std::int64_t, 3>> platform_faults_given() {
  const std::lock_guard<std::mutex> guard(plan.lock);
  return plan.faults;
}

std::int64_t open_handles() {
  const std::lock_guard<std::mutex> guard(plan.lock);
  return static_cast<std::int64_t>(plan.files.size() + plan.sockets.size());
}

bool platform_trial::run(const std::function<bool()>& operation) {
  platform_watch::arm(n, fault, error_number);
  const bool result = operation();
  platform_watch::disarm();
  hit = plan.hit;
  entry = plan.hit_entry;
  return result;
}

std::int64_t sweep_platform_calls(platform_fault fault, int error_number,
                                  const std::function<void(platform_trial&)>& body) {
  constexpr std::int64_t limit = 10000;
  for (std::int64_t n = 1; n <= limit; ++n) {
    platform_trial trial{n, fault, error_number, false, {}};
    {
      const platform_watch watch;
      body(trial);
      EXPECT_EQ(open_handles(), 0) << "a handle stayed open after call " << n << " (" << trial.entry << ")";
    }
    if (!trial.hit) {
      return n - 1;
    }
  }
  ADD_FAILURE() << "the operation still calls the platform after " << limit << " points";
  return limit;
}

}  // namespace brol_test
