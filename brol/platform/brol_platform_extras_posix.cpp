// The POSIX platform entries outside the call table: clock conversions, error numbers and texts, and
// the connected loopback socket pair.
#include "brol/platform/brol_platform.h"

#include <arpa/inet.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>

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

int brol_platform_error_number(std::uint32_t system_code) {
  const int code = static_cast<int>(system_code);
  return code == ENOTSOCK ? EBADF : code;
}

const char* brol_platform_error_text(int number) {
  // strerror makes up "Unknown error N" for numbers it does not know; this one says null instead.
  return ::strerrordesc_np(number);
}

namespace {

// A listening socket on 127.0.0.1 with a port the system chooses; its address goes to *address.
int loopback_listener(sockaddr_in* address) {
  const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (listener < 0) {
    return -1;
  }
  *address = sockaddr_in{};
  address->sin_family = AF_INET;
  address->sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof *address;
  const auto* any = reinterpret_cast<sockaddr*>(address);
  if (::bind(listener, any, length) != 0 || ::listen(listener, 1) != 0 ||
      ::getsockname(listener, reinterpret_cast<sockaddr*>(address), &length) != 0) {
    const int saved = errno;
    ::close(listener);
    errno = saved;
    return -1;
  }
  return listener;
}

}  // namespace

bool brol_platform_loopback_pair(brol_socket_handle* first, brol_socket_handle* second) {
  *first = *second = brol_invalid_socket;
  sockaddr_in address{};
  const int listener = loopback_listener(&address);
  if (listener < 0) {
    return false;
  }
  const int client = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  int server = -1;
  if (client >= 0 && ::connect(client, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
    server = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
  }
  const int saved = errno;
  ::close(listener);
  if (server < 0) {
    if (client >= 0) {
      ::close(client);
    }
    errno = saved;
    return false;
  }
  *first = static_cast<brol_socket_handle>(client);
  *second = static_cast<brol_socket_handle>(server);
  return true;
}
