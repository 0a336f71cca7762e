// Streams on TCP sockets: resolving host texts into addresses, connecting, listening and accepting.
#include <cerrno>
#include <chrono>
#include <cstring>

#include "brol/platform/brol_alloc.h"
#include "brol/stream/brol_stream.h"
#include "brol/stream/brol_stream_detail.h"
#include "brol/text/brol_gentext.h"

namespace {

constexpr int listen_backlog = 10;

// The size of the record for family: 16 bytes for IPv4, 28 for IPv6, 0 for any other.
int record_length(int family) {
  if (family == AF_INET) {
    return static_cast<int>(sizeof(sockaddr_in));
  }
  return family == AF_INET6 ? static_cast<int>(sizeof(sockaddr_in6)) : 0;
}

// Replaces s.address by a zeroed record of family (IPv4 or IPv6) filled from the first bytes of
// from when given. Null, with status 515 and address null, when no memory can be had.
sockaddr* new_record(brol_stream& s, int family, const void* from = nullptr) {
  const int length = record_length(family);
  auto* record = static_cast<sockaddr*>(brol_alloc(length));
  if (record != nullptr) {
    std::memset(record, 0, static_cast<std::size_t>(length));
    if (from != nullptr) {
      std::memcpy(record, from, static_cast<std::size_t>(length));
    }
    record->sa_family = static_cast<decltype(record->sa_family)>(family);
  }
  brol_free(s.address);
  s.address = record;
  if (record == nullptr) {
    s.error_number = ENOMEM;
    s.status = brol_stream_no_memory;
  }
  return record;
}

bool fail(brol_stream& s, int error_number) {
  s.error_number = error_number;
  return false;
}

// Closes a socket that never reached the stream.
bool fail_closing(brol_stream& s, brol_socket_handle socket, int error_number) {
  brol_os.socket_close(socket);
  return fail(s, error_number);
}

// True when host is made of digits and exactly three dots, the form taken for a dotted address.
bool looks_dotted(const char* host) {
  int dots = 0;
  for (const char* p = host; *p != '\0'; ++p) {
    if (*p == '.') {
      ++dots;
    } else if (*p < '0' || *p > '9') {
      return false;
    }
  }
  return dots == 3;
}

// The four bytes of a dotted address whose fields each have 1 to 3 digits and a value up to 255.
// False for any other text of that form: a cut or empty field would name a different host.
bool parse_dotted(const char* host, unsigned char out[4]) {
  const char* p = host;
  for (int field = 0; field < 4; ++field) {
    int value = 0;
    int digits = 0;
    for (; *p >= '0' && *p <= '9'; ++p, ++digits) {
      value = value * 10 + (*p - '0');
    }
    if (digits < 1 || digits > 3 || value > 255 || *p != (field < 3 ? '.' : '\0')) {
      return false;
    }
    out[field] = static_cast<unsigned char>(value);
    ++p;
  }
  return true;
}

void set_port(sockaddr* record, std::uint16_t port) {
  if (record->sa_family == AF_INET6) {
    reinterpret_cast<sockaddr_in6*>(record)->sin6_port = htons(port);
  } else {
    reinterpret_cast<sockaddr_in*>(record)->sin_port = htons(port);
  }
}

// A new connection starts counting afresh, as an opened file does.
void start_connection(brol_stream& s, brol_socket_handle socket) {
  s.socket = socket;
  s.is_socket = 1;
  s.position = 0;
  s.written = 0;
  s.file_size = 0;
  s.error_number = 0;
  s.status = brol_stream_ok;
}

}  // namespace

bool brol_stream::resolve(const char* host) noexcept {
  brol_free(address);
  address = nullptr;
  if (host == nullptr || *host == '\0') {
    return new_record(*this, AF_INET) != nullptr;
  }
  if (looks_dotted(host)) {
    sockaddr_in dotted{};
    if (!parse_dotted(host, reinterpret_cast<unsigned char*>(&dotted.sin_addr))) {
      return fail(*this, EINVAL);
    }
    return new_record(*this, AF_INET, &dotted) != nullptr;
  }
  sockaddr_storage found{};
  if (!brol_os.host_lookup(host, &found)) {
    return fail(*this, errno);
  }
  if (record_length(found.ss_family) == 0) {
    return fail(*this, EAFNOSUPPORT);
  }
  if (new_record(*this, found.ss_family, &found) == nullptr) {
    return false;
  }
  set_port(address, 0);
  return true;
}

bool brol_stream::set_any_ipv6() noexcept { return new_record(*this, AF_INET6) != nullptr; }

bool brol_stream::connect(const char* host, std::uint16_t port) noexcept {
  if (!resolve(host)) {
    return false;
  }
  set_port(address, port);
  return connect_address(address);
}

bool brol_stream::connect_address(const sockaddr* peer) noexcept {
  brol::detail::stream_close(*this, false);
  const int length = peer != nullptr ? record_length(peer->sa_family) : 0;
  if (length == 0) {
    return fail(*this, EINVAL);
  }
  if (peer != address && new_record(*this, peer->sa_family, peer) == nullptr) {
    return false;
  }
  char text[brol_addr_text_size];
  brol_addr_text(text, address);
  const brol_socket_handle connection = brol_os.socket_open(address->sa_family, SOCK_STREAM, 0);
  if (connection == brol_invalid_socket) {
    return fail(*this, errno);
  }
  if (!set_name(text)) {
    return fail_closing(*this, connection, ENOMEM);
  }
  // The socket is the stream's before the connect, so that the watch can close it under the call.
  socket = connection;
  is_socket = 1;
  if (!brol::detail::stream_bound_call(*this, connection)) {
    const int reason = errno;
    brol::detail::stream_close(*this, false);
    return fail(*this, reason);
  }
  arm(this, static_cast<std::uint16_t>(brol_stream_op_connect));
  const bool connected = brol_os.socket_connect(connection, address, length);
  disarm();
  const int reason = errno;
  if (brol::detail::stream_aborted(*this)) {
    brol::detail::stream_close(*this, false);  // forgets the socket the watch has closed
    status = brol_stream_aborted;
    return fail(*this, connected ? EINTR : reason);
  }
  if (!connected) {
    brol::detail::stream_close(*this, false);
    return fail(*this, reason);
  }
  start_connection(*this, connection);
  return true;
}

bool brol_stream::listen(std::uint16_t port) noexcept {
  brol::detail::stream_close(*this, false);
  if (address == nullptr && new_record(*this, AF_INET) == nullptr) {
    return false;
  }
  int length = record_length(address->sa_family);
  if (length == 0) {
    return fail(*this, EINVAL);
  }
  set_port(address, port);
  const brol_socket_handle listener = brol_os.socket_open(address->sa_family, SOCK_STREAM, 0);
  if (listener == brol_invalid_socket) {
    return fail(*this, errno);
  }
  if (!brol_os.socket_bind(listener, address, length) || !brol_os.socket_local_address(listener, address, &length) ||
      !brol_os.socket_listen(listener, listen_backlog)) {
    return fail_closing(*this, listener, errno);
  }
  socket = listener;
  is_socket = 1;
  return true;
}

bool brol_stream::accept(brol_stream* listener) noexcept {
  brol::detail::stream_close(*this, false);
  brol_free(address);
  address = nullptr;
  if (listener == nullptr || listener->is_socket == 0 || !listener->is_open()) {
    return fail(*this, EINVAL);
  }
  sockaddr_storage peer{};
  int length = sizeof peer;
  const brol_socket_handle connection =
      brol_os.socket_accept(listener->socket, reinterpret_cast<sockaddr*>(&peer), &length);
  if (connection == brol_invalid_socket) {
    return fail(*this, errno);
  }
  char text[brol_addr_text_size];
  const char* peer_name = text;
  if (peer.ss_family == AF_UNIX) {
    peer_name = listener->name;
  } else if (record_length(peer.ss_family) == 0) {
    return fail_closing(*this, connection, EINVAL);
  } else if (new_record(*this, peer.ss_family, &peer) == nullptr) {
    return fail_closing(*this, connection, ENOMEM);
  } else {
    brol_addr_text(text, address);
  }
  if (!set_name(peer_name)) {
    return fail_closing(*this, connection, ENOMEM);
  }
  start_connection(*this, connection);
  return true;
}

// --- Time limit -----------------------------------------------------------------------------------------

namespace {

std::int64_t steady_milliseconds() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

}  // namespace

bool brol::detail::stream_bound_call(const brol_stream& s, brol_socket_handle socket) noexcept {
  if (s.deadline == 0) {
    return true;
  }
  const std::int64_t left = s.deadline - steady_milliseconds();
  if (left <= 0) {
    errno = ETIMEDOUT;
    return false;
  }
  return brol_os.socket_set_timeout(socket, left);
}

bool brol_stream::set_time_limit(std::int64_t milliseconds) noexcept {
  // A deadline of 0 means none, so a limit that starts at the clock's 0 is moved by a millisecond.
  deadline = milliseconds > 0 ? steady_milliseconds() + milliseconds : 0;
  deadline = milliseconds > 0 && deadline == 0 ? 1 : deadline;
  if (milliseconds <= 0 && is_socket != 0 && is_open() && !brol_os.socket_set_timeout(socket, 0)) {
    error_number = errno;
    return false;
  }
  return true;
}
