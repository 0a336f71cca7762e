// The platform layer on Windows (Win32, Windows sockets, the C runtime).
#include "brol/platform/brol_platform.h"

#include <windows.h>

#include <sys/stat.h>

#include <cerrno>
#include <cstring>

namespace {

std::int64_t win32_time_now() { return static_cast<std::int64_t>(::_time64(nullptr)); }

std::uint32_t win32_process_id() { return static_cast<std::uint32_t>(::GetCurrentProcessId()); }

HANDLE handle_of(brol_file_handle file) { return reinterpret_cast<HANDLE>(file); }
SOCKET socket_of(brol_socket_handle socket) { return static_cast<SOCKET>(socket); }

// Translates the thread's last Win32 error into errno and returns failure.
template <class T>
T fail_with_last_error(T failure) {
  errno = brol_platform_error_number(::GetLastError());
  return failure;
}

template <class T>
T fail_with_socket_error(T failure) {
  errno = brol_platform_error_number(static_cast<std::uint32_t>(::WSAGetLastError()));
  return failure;
}

brol_file_handle win32_file_open(const char* path, std::uint32_t access, std::uint32_t disposition) {
  const HANDLE h = ::CreateFileA(path, access, 0, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    return fail_with_last_error(brol_invalid_file);
  }
  return reinterpret_cast<brol_file_handle>(h);
}

std::int32_t win32_file_read(brol_file_handle file, void* data, std::int32_t size) {
  DWORD got = 0;
  if (::ReadFile(handle_of(file), data, static_cast<DWORD>(size), &got, nullptr) == 0) {
    // A pipe whose writer has gone reports its end as this error; POSIX reads give 0 there.
    if (::GetLastError() == ERROR_BROKEN_PIPE) {
      return 0;
    }
    return fail_with_last_error(std::int32_t{-1});
  }
  return static_cast<std::int32_t>(got);
}

std::int32_t win32_file_write(brol_file_handle file, const void* data, std::int32_t size) {
  DWORD put = 0;
  if (::WriteFile(handle_of(file), data, static_cast<DWORD>(size), &put, nullptr) == 0) {
    return fail_with_last_error(std::int32_t{-1});
  }
  return static_cast<std::int32_t>(put);
}

std::int64_t win32_file_seek(brol_file_handle file, std::int64_t offset, int whence) {
  if (whence < 0 || whence > 2) {
    errno = EINVAL;
    return -1;
  }
  LARGE_INTEGER move;
  move.QuadPart = offset;
  LARGE_INTEGER at;
  if (::SetFilePointerEx(handle_of(file), move, &at, static_cast<DWORD>(whence)) == 0) {
    return fail_with_last_error(std::int64_t{-1});
  }
  return static_cast<std::int64_t>(at.QuadPart);
}

bool win32_file_close(brol_file_handle file) {
  return ::CloseHandle(handle_of(file)) != 0 || fail_with_last_error(false);
}

bool win32_file_stat(const char* path, brol_file_status* out) {
  struct _stat64 st {};
  if (::_stat64(path, &st) != 0) {
    return false;  // the runtime has set errno
  }
  out->size = static_cast<std::int64_t>(st.st_size);
  out->mode = static_cast<std::uint32_t>(st.st_mode);
  return true;
}

brol_file_handle win32_file_open_append(const char* path) {
  const DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
  // Append access without FILE_WRITE_DATA makes the system put every write at the current end; read
  // access is what byte-range locks ask of a handle.
  const DWORD access = FILE_APPEND_DATA | FILE_READ_DATA;
  const HANDLE h = ::CreateFileA(path, access, share, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    return fail_with_last_error(brol_invalid_file);
  }
  return reinterpret_cast<brol_file_handle>(h);
}

// Wine looks up the end and writes in two steps, so two appenders can land in the same place. A lock
// on one byte at 2^62, where no file reaches, makes appenders of every process take turns; readers
// are not affected. Where locks are not supported the write goes ahead unlocked.
std::int32_t win32_file_append(brol_file_handle file, const void* data, std::int32_t size) {
  OVERLAPPED turn{};
  turn.OffsetHigh = 0x40000000u;
  const bool locked = ::LockFileEx(handle_of(file), LOCKFILE_EXCLUSIVE_LOCK, 0, 1, 0, &turn) != 0;
  const std::int32_t written = win32_file_write(file, data, size);
  if (locked) {
    ::UnlockFileEx(handle_of(file), 0, 1, 0, &turn);  // errno already holds the write's outcome
  }
  return written;
}

bool win32_file_flush(brol_file_handle file) {
  return ::FlushFileBuffers(handle_of(file)) != 0 || fail_with_last_error(false);
}

// The file was open without sharing until here, so nobody could rename it or put another in its place.
bool win32_file_replace(brol_file_handle file, const char* from, const char* to) {
  if (!win32_file_close(file)) {
    return false;
  }
  const DWORD attributes = ::GetFileAttributesA(to);
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
    if (::ReplaceFileA(to, from, nullptr, REPLACEFILE_IGNORE_MERGE_ERRORS, nullptr, nullptr) != 0) {
      return true;
    }
    // The target vanished meanwhile, or ReplaceFileA removed it but could not rename the new file:
    // the plain move below still puts the new file in place.
    const DWORD error = ::GetLastError();
    if (error != ERROR_FILE_NOT_FOUND && error != ERROR_UNABLE_TO_MOVE_REPLACEMENT &&
        error != ERROR_UNABLE_TO_MOVE_REPLACEMENT_2) {
      return fail_with_last_error(false);
    }
  }
  const DWORD flags = MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH;
  return ::MoveFileExA(from, to, flags) != 0 || fail_with_last_error(false);
}

std::int64_t win32_file_read_link(const char*, char*, std::int64_t) {
  errno = EINVAL;
  return -1;
}

// Whether like may be written is asked the way a direct write would ask: an open for writing (which
// changes nothing), refused for the read-only attribute, the file's security or another program's
// sharing alike.
brol_file_handle win32_file_create_like(const char* path, const char* like) {
  const DWORD attributes = ::GetFileAttributesA(like);
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
    const HANDLE probe = ::CreateFileA(like, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                       nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (probe == INVALID_HANDLE_VALUE) {
      return fail_with_last_error(brol_invalid_file);
    }
    ::CloseHandle(probe);
  }
  return win32_file_open(path, brol_access_read | brol_access_write, brol_create_new);
}

bool win32_file_remove(const char* path) { return ::DeleteFileA(path) != 0 || fail_with_last_error(false); }

bool win32_dir_create(const char* path) {
  return ::CreateDirectoryA(path, nullptr) != 0 || fail_with_last_error(false);
}

std::uint32_t win32_logical_drives() {
  const DWORD drives = ::GetLogicalDrives();
  return drives != 0 ? static_cast<std::uint32_t>(drives) : fail_with_last_error(std::uint32_t{0});
}

std::int32_t win32_socket_recv(brol_socket_handle socket, void* data, std::int32_t size) {
  const int n = ::recv(socket_of(socket), static_cast<char*>(data), size, 0);
  return n == SOCKET_ERROR ? fail_with_socket_error(std::int32_t{-1}) : static_cast<std::int32_t>(n);
}

std::int32_t win32_socket_send(brol_socket_handle socket, const void* data, std::int32_t size) {
  const int n = ::send(socket_of(socket), static_cast<const char*>(data), size, 0);
  return n == SOCKET_ERROR ? fail_with_socket_error(std::int32_t{-1}) : static_cast<std::int32_t>(n);
}

bool win32_socket_shutdown(brol_socket_handle socket, int how) {
  return ::shutdown(socket_of(socket), how) == 0 || fail_with_socket_error(false);
}

bool win32_socket_close(brol_socket_handle socket) {
  return ::closesocket(socket_of(socket)) == 0 || fail_with_socket_error(false);
}

brol_socket_handle win32_socket_open(int family, int type, int protocol) {
  const SOCKET s = ::socket(family, type, protocol);
  if (s == INVALID_SOCKET) {
    return fail_with_socket_error(brol_invalid_socket);
  }
  ::SetHandleInformation(reinterpret_cast<HANDLE>(s), HANDLE_FLAG_INHERIT, 0);
  return static_cast<brol_socket_handle>(s);
}

bool win32_socket_bind(brol_socket_handle socket, const sockaddr* address, int length) {
  return ::bind(socket_of(socket), address, length) == 0 || fail_with_socket_error(false);
}

bool win32_socket_listen(brol_socket_handle socket, int backlog) {
  return ::listen(socket_of(socket), backlog) == 0 || fail_with_socket_error(false);
}

brol_socket_handle win32_socket_accept(brol_socket_handle socket, sockaddr* address, int* length) {
  const SOCKET s = ::accept(socket_of(socket), address, length);
  if (s == INVALID_SOCKET) {
    return fail_with_socket_error(brol_invalid_socket);
  }
  ::SetHandleInformation(reinterpret_cast<HANDLE>(s), HANDLE_FLAG_INHERIT, 0);
  return static_cast<brol_socket_handle>(s);
}

// connect waits for the system's own time-out whatever SO_SNDTIMEO says: with a bound set, the
// connect is made without blocking and waited for in select, up to the bound.
// FIONBIO's value does not fit the long that ioctlsocket takes; the bits are what it expects.
const long k_nonblocking = static_cast<long>(static_cast<unsigned long>(FIONBIO));

bool connect_within(SOCKET s, const sockaddr* address, int length, DWORD milliseconds) {
  u_long on = 1;
  if (::ioctlsocket(s, k_nonblocking, &on) != 0) {
    return fail_with_socket_error(false);
  }
  bool connected = ::connect(s, address, length) == 0;
  int error = connected ? 0 : ::WSAGetLastError();
  if (!connected && error == WSAEWOULDBLOCK) {
    fd_set writable, failed;
    FD_ZERO(&writable);
    FD_ZERO(&failed);
    FD_SET(s, &writable);
    FD_SET(s, &failed);
    timeval bound{static_cast<long>(milliseconds / 1000), static_cast<long>(milliseconds % 1000 * 1000)};
    const int ready = ::select(0, nullptr, &writable, &failed, &bound);
    int reason = 0;
    int size = sizeof reason;
    if (ready == 0) {
      error = WSAETIMEDOUT;
    } else if (ready < 0) {
      error = ::WSAGetLastError();
    } else if (::getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&reason), &size) != 0 || reason != 0) {
      error = reason != 0 ? reason : ::WSAGetLastError();
    } else {
      connected = true;
    }
  }
  u_long off = 0;
  ::ioctlsocket(s, k_nonblocking, &off);
  if (!connected) {
    errno = brol_platform_error_number(static_cast<std::uint32_t>(error));
  }
  return connected;
}

bool win32_socket_connect(brol_socket_handle socket, const sockaddr* address, int length) {
  DWORD bound = 0;
  int size = sizeof bound;
  if (::getsockopt(socket_of(socket), SOL_SOCKET, SO_SNDTIMEO, reinterpret_cast<char*>(&bound), &size) == 0 &&
      bound != 0) {
    return connect_within(socket_of(socket), address, length, bound);
  }
  return ::connect(socket_of(socket), address, length) == 0 || fail_with_socket_error(false);
}

bool win32_socket_set_timeout(brol_socket_handle socket, std::int64_t milliseconds) {
  const DWORD bound = static_cast<DWORD>(milliseconds);
  const char* value = reinterpret_cast<const char*>(&bound);
  return (::setsockopt(socket_of(socket), SOL_SOCKET, SO_RCVTIMEO, value, sizeof bound) == 0 &&
          ::setsockopt(socket_of(socket), SOL_SOCKET, SO_SNDTIMEO, value, sizeof bound) == 0) ||
         fail_with_socket_error(false);
}

bool win32_socket_local_address(brol_socket_handle socket, sockaddr* address, int* length) {
  return ::getsockname(socket_of(socket), address, length) == 0 || fail_with_socket_error(false);
}

// getaddrinfo reports its own codes; the ones without a Windows sockets counterpart in the error
// table are translated here.
int lookup_error_number(int code) {
  switch (code) {
    case WSAHOST_NOT_FOUND:
    case WSANO_DATA:
      return ENOENT;
    case WSATRY_AGAIN:
      return EAGAIN;
    case WSA_NOT_ENOUGH_MEMORY:
      return ENOMEM;
    default:
      return brol_platform_error_number(static_cast<std::uint32_t>(code));
  }
}

bool win32_host_lookup(const char* host, sockaddr_storage* out) {
  addrinfo* list = nullptr;
  const int code = ::getaddrinfo(host, nullptr, nullptr, &list);
  if (code != 0 || list == nullptr) {
    errno = code != 0 ? lookup_error_number(code) : ENOENT;
    return false;
  }
  const bool fits = list->ai_addrlen <= sizeof *out;
  if (fits) {
    *out = sockaddr_storage{};
    std::memcpy(out, list->ai_addr, list->ai_addrlen);
  }
  ::freeaddrinfo(list);
  if (!fits) {
    errno = EAFNOSUPPORT;
  }
  return fits;
}

bool win32_host_name(char* buffer, int size) {
  if (size <= 0) {
    errno = EINVAL;
    return false;
  }
  return ::gethostname(buffer, size) == 0 || fail_with_socket_error(false);
}

// Copies on Windows read and write through the caller.
std::int32_t win32_file_copy(brol_file_handle, brol_file_handle, std::int32_t) {
  errno = ENOSYS;
  return -1;
}

std::int32_t win32_file_send(brol_file_handle, brol_socket_handle, std::int32_t) {
  errno = ENOSYS;
  return -1;
}

const brol_platform_calls k_defaults = {
    .time_now = win32_time_now,
    .process_id = win32_process_id,
    .file_open = win32_file_open,
    .file_read = win32_file_read,
    .file_write = win32_file_write,
    .file_seek = win32_file_seek,
    .file_close = win32_file_close,
    .file_stat = win32_file_stat,
    .file_open_append = win32_file_open_append,
    .file_append = win32_file_append,
    .file_flush = win32_file_flush,
    .file_replace = win32_file_replace,
    .file_remove = win32_file_remove,
    .dir_create = win32_dir_create,
    .logical_drives = win32_logical_drives,
    .socket_recv = win32_socket_recv,
    .socket_send = win32_socket_send,
    .socket_shutdown = win32_socket_shutdown,
    .socket_close = win32_socket_close,
    .socket_open = win32_socket_open,
    .socket_bind = win32_socket_bind,
    .socket_listen = win32_socket_listen,
    .socket_accept = win32_socket_accept,
    .socket_connect = win32_socket_connect,
    .socket_local_address = win32_socket_local_address,
    .host_lookup = win32_host_lookup,
    .host_name = win32_host_name,
    .file_copy = win32_file_copy,
    .file_send = win32_file_send,
    .file_read_link = win32_file_read_link,
    .file_create_like = win32_file_create_like,
    .socket_set_timeout = win32_socket_set_timeout,
};

struct error_pair {
  std::uint32_t system;
  int number;
};

// Win32 errors (below 10000) and Windows sockets errors (WSAE..., from 10000 on) with an errno
// counterpart; every other code becomes EIO.
const error_pair k_errors[] = {
    {ERROR_FILE_NOT_FOUND, ENOENT},
    {ERROR_PATH_NOT_FOUND, ENOENT},
    {ERROR_TOO_MANY_OPEN_FILES, EMFILE},
    {ERROR_ACCESS_DENIED, EACCES},
    {ERROR_INVALID_HANDLE, EBADF},
    {ERROR_NOT_ENOUGH_MEMORY, ENOMEM},
    {ERROR_OUTOFMEMORY, ENOMEM},
    {ERROR_INVALID_DRIVE, ENOENT},
    {ERROR_NOT_SAME_DEVICE, EXDEV},
    {ERROR_WRITE_PROTECT, EACCES},
    {ERROR_SHARING_VIOLATION, EACCES},
    {ERROR_LOCK_VIOLATION, EACCES},
    {ERROR_HANDLE_EOF, EIO},
    {ERROR_HANDLE_DISK_FULL, ENOSPC},
    {ERROR_NOT_SUPPORTED, ENOSYS},
    {ERROR_BAD_NETPATH, ENOENT},
    {ERROR_FILE_EXISTS, EEXIST},
    {ERROR_INVALID_PARAMETER, EINVAL},
    {ERROR_BROKEN_PIPE, EPIPE},
    {ERROR_DISK_FULL, ENOSPC},
    {ERROR_INVALID_NAME, ENOENT},
    {ERROR_NEGATIVE_SEEK, EINVAL},
    {ERROR_DIR_NOT_EMPTY, ENOTEMPTY},
    {ERROR_ALREADY_EXISTS, EEXIST},
    {ERROR_FILENAME_EXCED_RANGE, ENAMETOOLONG},
    {ERROR_NO_DATA, EPIPE},
    {ERROR_DIRECTORY, ENOTDIR},
    {ERROR_OPERATION_ABORTED, EINTR},
    {ERROR_UNABLE_TO_REMOVE_REPLACED, EACCES},
    {WSAEINTR, EINTR},
    {WSAEBADF, EBADF},
    {WSAEACCES, EACCES},
    {WSAEFAULT, EFAULT},
    {WSAEINVAL, EINVAL},
    {WSAEMFILE, EMFILE},
    {WSAEWOULDBLOCK, EWOULDBLOCK},
    {WSAEINPROGRESS, EINPROGRESS},
    {WSAEALREADY, EALREADY},
    {WSAENOTSOCK, EBADF},
    {WSAEDESTADDRREQ, EDESTADDRREQ},
    {WSAEMSGSIZE, EMSGSIZE},
    {WSAEPROTOTYPE, EPROTOTYPE},
    {WSAENOPROTOOPT, ENOPROTOOPT},
    {WSAEPROTONOSUPPORT, EPROTONOSUPPORT},
    {WSAEOPNOTSUPP, EOPNOTSUPP},
    {WSAEAFNOSUPPORT, EAFNOSUPPORT},
    {WSAEADDRINUSE, EADDRINUSE},
    {WSAEADDRNOTAVAIL, EADDRNOTAVAIL},
    {WSAENETDOWN, ENETDOWN},
    {WSAENETUNREACH, ENETUNREACH},
    {WSAENETRESET, ENETRESET},
    {WSAECONNABORTED, ECONNABORTED},
    {WSAECONNRESET, ECONNRESET},
    {WSAENOBUFS, ENOBUFS},
    {WSAEISCONN, EISCONN},
    {WSAENOTCONN, ENOTCONN},
    {WSAESHUTDOWN, EPIPE},
    {WSAETIMEDOUT, ETIMEDOUT},
    {WSAECONNREFUSED, ECONNREFUSED},
    {WSAELOOP, ELOOP},
    {WSAENAMETOOLONG, ENAMETOOLONG},
    {WSAEHOSTDOWN, EHOSTUNREACH},
    {WSAEHOSTUNREACH, EHOSTUNREACH},
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

int brol_platform_error_number(std::uint32_t system_code) {
  for (const error_pair& pair : k_errors) {
    if (pair.system == system_code) {
      return pair.number;
    }
  }
  return EIO;
}

const char* brol_platform_error_text(int number) {
  // The runtime answers every number it does not know with this one text.
  const char* text = std::strerror(number);
  return text == nullptr || std::strcmp(text, "Unknown error") == 0 ? nullptr : text;
}

namespace {

SOCKET loopback_listener(sockaddr_in* address) {
  const SOCKET listener = ::socket(AF_INET, SOCK_STREAM, 0);
  if (listener == INVALID_SOCKET) {
    return fail_with_socket_error(INVALID_SOCKET);
  }
  *address = sockaddr_in{};
  address->sin_family = AF_INET;
  address->sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  int length = sizeof *address;
  if (::bind(listener, reinterpret_cast<sockaddr*>(address), length) != 0 || ::listen(listener, 1) != 0 ||
      ::getsockname(listener, reinterpret_cast<sockaddr*>(address), &length) != 0) {
    const int saved = brol_platform_error_number(static_cast<std::uint32_t>(::WSAGetLastError()));
    ::closesocket(listener);
    errno = saved;
    return INVALID_SOCKET;
  }
  return listener;
}

}  // namespace

bool brol_platform_loopback_pair(brol_socket_handle* first, brol_socket_handle* second) {
  *first = *second = brol_invalid_socket;
  sockaddr_in address{};
  const SOCKET listener = loopback_listener(&address);
  if (listener == INVALID_SOCKET) {
    return false;
  }
  const SOCKET client = ::socket(AF_INET, SOCK_STREAM, 0);
  SOCKET server = INVALID_SOCKET;
  if (client != INVALID_SOCKET && ::connect(client, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
    server = ::accept(listener, nullptr, nullptr);
  }
  const int saved = brol_platform_error_number(static_cast<std::uint32_t>(::WSAGetLastError()));
  ::closesocket(listener);
  if (server == INVALID_SOCKET) {
    if (client != INVALID_SOCKET) {
      ::closesocket(client);
    }
    errno = saved;
    return false;
  }
  *first = static_cast<brol_socket_handle>(client);
  *second = static_cast<brol_socket_handle>(server);
  return true;
}
