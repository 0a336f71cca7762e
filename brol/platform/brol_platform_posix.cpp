// The platform layer on POSIX systems (Linux).
#include "brol/platform/brol_platform.h"

#include <unistd.h>

namespace {

std::int64_t posix_time_now() { return static_cast<std::int64_t>(::time(nullptr)); }

std::uint32_t posix_process_id() { return static_cast<std::uint32_t>(::getpid()); }

const brol_platform_calls k_defaults = {
    posix_time_now,
    posix_process_id,
};

}  // namespace

brol_platform_calls brol_os = k_defaults;

const brol_platform_calls& brol_platform_defaults() { return k_defaults; }

bool brol_platform_localtime(std::int64_t seconds, std::tm* out) {
  const std::time_t t = static_cast<std::time_t>(seconds);
  std::tm tmp{};
  if (::localtime_r(&t, &tmp) == nullptr) {
    return false;
  }
  *out = tmp;
  return true;
}

bool brol_platform_gmtime(std::int64_t seconds, std::tm* out) {
  const std::time_t t = static_cast<std::time_t>(seconds);
  std::tm tmp{};
  if (::gmtime_r(&t, &tmp) == nullptr) {
    return false;
  }
  *out = tmp;
  return true;
}
