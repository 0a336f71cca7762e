// The platform layer on Windows (Win32, Windows sockets, the C runtime).
#include "brol/platform/brol_platform.h"

#include <windows.h>

namespace {

std::int64_t win32_time_now() { return static_cast<std::int64_t>(::_time64(nullptr)); }

std::uint32_t win32_process_id() { return static_cast<std::uint32_t>(::GetCurrentProcessId()); }

const brol_platform_calls k_defaults = {
    win32_time_now,
    win32_process_id,
};

}  // namespace

brol_platform_calls brol_os = k_defaults;

const brol_platform_calls& brol_platform_defaults() { return k_defaults; }

bool brol_platform_localtime(std::int64_t seconds, std::tm* out) {
  const __time64_t t = static_cast<__time64_t>(seconds);
  std::tm tmp{};
  if (::_localtime64_s(&tmp, &t) != 0) {
    return false;
  }
  *out = tmp;
  return true;
}

bool brol_platform_gmtime(std::int64_t seconds, std::tm* out) {
  const __time64_t t = static_cast<__time64_t>(seconds);
  std::tm tmp{};
  if (::_gmtime64_s(&tmp, &t) != 0) {
    return false;
  }
  *out = tmp;
  return true;
}
