// The only door to the operating system: plain functions over plain handles, with one backend per
// platform (brol_platform_posix.cpp, brol_platform_win32.cpp). Everything else in the library calls
// the system through here, so that it compiles identically for both targets.
#pragma once

#include <cstdint>
#include <ctime>

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <netinet/in.h>
#include <sys/socket.h>
#endif

// Socket address records (sockaddr, sockaddr_in, sockaddr_in6, sockaddr_storage) come from the
// system headers above, so callers can name them without platform conditionals.

// The calls the library makes of the system, as one table of function pointers. The defaults are the
// platform's own; a test swaps an entry (and restores it) to make a call fail, return short counts or
// report a chosen error. Every entry keeps the meaning of the Win32 call it stands for.
struct brol_platform_calls {
  // Seconds since 1970-01-01 UTC (like _time64).
  std::int64_t (*time_now)();
  // The calling process's id (like GetCurrentProcessId).
  std::uint32_t (*process_id)();
};

// The table in force. Tests may assign entries; brol_platform_defaults() gives the original set.
extern brol_platform_calls brol_os;
const brol_platform_calls& brol_platform_defaults();

// Breaks a time down into local time (with daylight saving as the runtime's time zone rules say) or
// UTC. False when the time cannot be represented; *out is then unchanged.
bool brol_platform_localtime(std::int64_t seconds, std::tm* out);
bool brol_platform_gmtime(std::int64_t seconds, std::tm* out);
