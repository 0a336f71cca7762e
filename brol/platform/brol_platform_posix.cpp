// The platform layer on POSIX systems (Linux).
#include "brol/platform/brol_platform.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <signal.h>
#include <sys/sendfile.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>

namespace {

std::int64_t posix_time_now() { return static_cast<std::int64_t>(::time(nullptr)); }

std::uint32_t posix_process_id() { return static_cast<std::uint32_t>(::getpid()); }

int fd_of(brol_file_handle file) { return static_cast<int>(file); }
int fd_of_socket(brol_socket_handle socket) { return static_cast<int>(socket); }

// Leaves the library's number for the current errno in errno and returns failure.
template <class T>
T fail_with_errno(T failure) {
  errno = brol_platform_error_number(static_cast<std::uint32_t>(errno));
  return failure;
}

// open(2) with flags and mode (0666 unless given), retried when a signal interrupts it. CreateFileA
// never opens a directory as a file, while POSIX opens one for reading: that is refused here with
// EISDIR.
brol_file_handle open_not_directory(const char* path, int flags, mode_t mode = 0666) {
  int fd;
  do {
    fd = ::open(path, flags, mode);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) {
    return fail_with_errno(brol_invalid_file);
  }
  struct stat st {};
  if (::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
    ::close(fd);
    errno = EISDIR;
    return brol_invalid_file;
  }
  return static_cast<brol_file_handle>(fd);
}

brol_file_handle posix_file_open(const char* path, std::uint32_t access, std::uint32_t disposition) {
  int flags = O_CLOEXEC;
  if ((access & brol_access_read) != 0 && (access & brol_access_write) != 0) {
    flags |= O_RDWR;
  } else if ((access & brol_access_write) != 0) {
    flags |= O_WRONLY;
  } else {
    flags |= O_RDONLY;
  }
  if (disposition == brol_create_always) {
    flags |= O_CREAT | O_TRUNC;
  } else if (disposition == brol_create_new) {
    flags |= O_CREAT | O_EXCL;
  }
  return open_not_directory(path, flags);
}

// A descriptor that is open but not for this direction gives EBADF on POSIX and
// ERROR_ACCESS_DENIED on Windows: the library sees EACCES for it, and EBADF only for a dead handle.
template <class T>
T fail_with_access(int fd, T failure) {
  if (errno == EBADF && ::fcntl(fd, F_GETFL) >= 0) {
    errno = EACCES;
    return failure;
  }
  return fail_with_errno(failure);
}

std::int32_t posix_file_read(brol_file_handle file, void* data, std::int32_t size) {
  ssize_t n;
  do {
    n = ::read(fd_of(file), data, static_cast<std::size_t>(size));
  } while (n < 0 && errno == EINTR);
  return n < 0 ? fail_with_access(fd_of(file), std::int32_t{-1}) : static_cast<std::int32_t>(n);
}

std::int32_t posix_file_write(brol_file_handle file, const void* data, std::int32_t size) {
  ssize_t n;
  do {
    n = ::write(fd_of(file), data, static_cast<std::size_t>(size));
  } while (n < 0 && errno == EINTR);
  return n < 0 ? fail_with_access(fd_of(file), std::int32_t{-1}) : static_cast<std::int32_t>(n);
}

std::int64_t posix_file_seek(brol_file_handle file, std::int64_t offset, int whence) {
  static const int origins[] = {SEEK_SET, SEEK_CUR, SEEK_END};
  if (whence < 0 || whence > 2) {
    errno = EINVAL;
    return -1;
  }
  const off_t at = ::lseek(fd_of(file), static_cast<off_t>(offset), origins[whence]);
  return at < 0 ? fail_with_errno(std::int64_t{-1}) : static_cast<std::int64_t>(at);
}

// On Linux a close interrupted by a signal has still released the descriptor (it must never be closed
// again), so EINTR counts as success, as CloseHandle knows no such case.
bool close_descriptor(int fd) { return ::close(fd) == 0 || errno == EINTR || fail_with_errno(false); }

bool posix_file_close(brol_file_handle file) { return close_descriptor(fd_of(file)); }

bool posix_file_stat(const char* path, brol_file_status* out) {
  struct stat st {};
  if (::stat(path, &st) != 0) {
    return fail_with_errno(false);
  }
  out->size = static_cast<std::int64_t>(st.st_size);
  out->mode = static_cast<std::uint32_t>(st.st_mode);
  return true;
}

brol_file_handle posix_file_open_append(const char* path) {
  return open_not_directory(path, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC);
}

// O_APPEND makes finding the end and writing one step.
std::int32_t posix_file_append(brol_file_handle file, const void* data, std::int32_t size) {
  return posix_file_write(file, data, size);
}

bool posix_file_flush(brol_file_handle file) {
  int result;
  do {
    result = ::fsync(fd_of(file));
  } while (result != 0 && errno == EINTR);
  return result == 0 || fail_with_errno(false);
}

// The folder part of path ("." for none), in folder of size bytes; false when it does not fit.
bool folder_of(const char* path, char* folder, std::size_t size) {
  const char* slash = std::strrchr(path, '/');
  const std::size_t length = slash == nullptr ? 0 : slash == path ? 1 : static_cast<std::size_t>(slash - path);
  if (length + 2 > size) {
    return false;
  }
  std::memcpy(folder, slash == nullptr ? "." : path, slash == nullptr ? 1 : length);
  folder[slash == nullptr ? 1 : length] = '\0';
  return true;
}

// Makes a rename in the folder of path durable, as MOVEFILE_WRITE_THROUGH does. The rename has
// happened either way, so a folder that cannot be synced is no failure of the caller's move.
void sync_parent_folder(const char* path) {
  char folder[PATH_MAX];
  if (!folder_of(path, folder, sizeof folder)) {
    return;
  }
  const int fd = ::open(folder, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd >= 0) {
    ::fsync(fd);
    ::close(fd);
  }
}

// Whether path, links not followed, names the file open as fd.
bool names_file(const char* path, int fd) {
  struct stat open_file {};
  struct stat named {};
  return ::fstat(fd, &open_file) == 0 && ::lstat(path, &named) == 0 && open_file.st_dev == named.st_dev &&
         open_file.st_ino == named.st_ino;
}

bool posix_file_replace(brol_file_handle file, const char* from, const char* to) {
  const int fd = fd_of(file);
  // Someone who may write the folder can rename the new file and put a link under its name: only the
  // file written is renamed, and its bits are set through the descriptor, never through a name.
  if (!names_file(from, fd)) {
    close_descriptor(fd);
    errno = ENOENT;
    return false;
  }
  // ReplaceFileA keeps the target's attributes; here that is its permission bits.
  struct stat target {};
  if (::stat(to, &target) == 0 && S_ISREG(target.st_mode)) {
    ::fchmod(fd, target.st_mode & 07777);
  }
  if (!close_descriptor(fd)) {
    return false;
  }
  if (::rename(from, to) != 0) {
    return fail_with_errno(false);
  }
  sync_parent_folder(to);
  return true;
}

// Whether Linux's protected_symlinks would refuse to follow the link at path: it lies in a sticky
// folder that all may write, and belongs neither to the follower nor to the folder's owner.
bool protected_link(const char* path, const struct stat& link) {
  char folder[PATH_MAX];
  struct stat in {};
  if (!folder_of(path, folder, sizeof folder) || ::stat(folder, &in) != 0) {
    return false;  // the readlink that follows reports what is wrong with the path
  }
  const bool shared = (in.st_mode & S_ISVTX) != 0 && (in.st_mode & S_IWOTH) != 0;
  return shared && link.st_uid != ::geteuid() && link.st_uid != in.st_uid;
}

std::int64_t posix_file_read_link(const char* path, char* out, std::int64_t size) {
  struct stat link {};
  if (::lstat(path, &link) == 0 && S_ISLNK(link.st_mode) && protected_link(path, link)) {
    errno = EACCES;
    return -1;
  }
  const ssize_t n = ::readlink(path, out, static_cast<std::size_t>(size));
  return n < 0 ? fail_with_errno(std::int64_t{-1}) : static_cast<std::int64_t>(n);
}

brol_file_handle posix_file_create_like(const char* path, const char* like) {
  const int flags = O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC;
  struct stat target {};
  if (::stat(like, &target) != 0 || !S_ISREG(target.st_mode)) {
    return open_not_directory(path, flags);
  }
  // The user's right to write the target, as an open for writing would check it.
  if (::faccessat(AT_FDCWD, like, W_OK, AT_EACCESS) != 0) {
    return fail_with_errno(brol_invalid_file);
  }
  const mode_t bits = target.st_mode & 07777;
  const brol_file_handle file = open_not_directory(path, flags, bits & 0600);
  if (file == brol_invalid_file) {
    return file;
  }
  // The owner first (it would clear set-id bits after fchmod); only a privileged process can give a
  // file away, so another owner is kept where the system allows it.
  if (target.st_uid != ::geteuid() || target.st_gid != ::getegid()) {
    (void)::fchown(fd_of(file), target.st_uid, target.st_gid);
  }
  if (::fchmod(fd_of(file), bits) != 0) {
    const int reason = errno;
    ::close(fd_of(file));
    ::unlink(path);
    errno = reason;
    return fail_with_errno(brol_invalid_file);
  }
  return file;
}

bool posix_file_remove(const char* path) {
  // unlink removes a directory on no Linux file system, but says EISDIR; DeleteFileA says access
  // denied, and so does this.
  if (::unlink(path) == 0) {
    return true;
  }
  if (errno == EISDIR) {
    errno = EACCES;
    return false;
  }
  return fail_with_errno(false);
}

bool posix_dir_create(const char* path) { return ::mkdir(path, 0777) == 0 || fail_with_errno(false); }

std::uint32_t posix_logical_drives() { return 0; }

// A blocking socket says EAGAIN only when the bound of socket_set_timeout ran out; Windows says
// WSAETIMEDOUT.
template <class T>
T fail_with_timeout(T failure) {
  if (errno == EAGAIN || errno == EWOULDBLOCK) {
    errno = ETIMEDOUT;
    return failure;
  }
  return fail_with_errno(failure);
}

std::int32_t posix_socket_recv(brol_socket_handle socket, void* data, std::int32_t size) {
  ssize_t n;
  do {
    n = ::recv(fd_of_socket(socket), data, static_cast<std::size_t>(size), 0);
  } while (n < 0 && errno == EINTR);
  return n < 0 ? fail_with_timeout(std::int32_t{-1}) : static_cast<std::int32_t>(n);
}

std::int32_t posix_socket_send(brol_socket_handle socket, const void* data, std::int32_t size) {
  ssize_t n;
  do {
    n = ::send(fd_of_socket(socket), data, static_cast<std::size_t>(size), MSG_NOSIGNAL);
  } while (n < 0 && errno == EINTR);
  return n < 0 ? fail_with_timeout(std::int32_t{-1}) : static_cast<std::int32_t>(n);
}

bool posix_socket_shutdown(brol_socket_handle socket, int how) {
  static const int hows[] = {SHUT_RD, SHUT_WR, SHUT_RDWR};
  if (how < 0 || how > 2) {
    errno = EINVAL;
    return false;
  }
  return ::shutdown(fd_of_socket(socket), hows[how]) == 0 || fail_with_errno(false);
}

bool posix_socket_close(brol_socket_handle socket) { return close_descriptor(fd_of_socket(socket)); }

brol_socket_handle posix_socket_open(int family, int type, int protocol) {
  const int fd = ::socket(family, type | SOCK_CLOEXEC, protocol);
  if (fd < 0) {
    return fail_with_errno(brol_invalid_socket);
  }
  // Windows sockets of AF_INET6 carry IPv6 only; Linux would let them take IPv4 too.
  const int on = 1;
  if (family == AF_INET6 && ::setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &on, sizeof on) != 0) {
    const int saved = errno;
    ::close(fd);
    errno = saved;
    return fail_with_errno(brol_invalid_socket);
  }
  return static_cast<brol_socket_handle>(fd);
}

bool posix_socket_bind(brol_socket_handle socket, const sockaddr* address, int length) {
  // On Linux this only lets a port with lingering closed connections be bound again, which Windows
  // allows without asking; an active listener still holds its port.
  const int on = 1;
  ::setsockopt(fd_of_socket(socket), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  return ::bind(fd_of_socket(socket), address, static_cast<socklen_t>(length)) == 0 || fail_with_errno(false);
}

bool posix_socket_listen(brol_socket_handle socket, int backlog) {
  return ::listen(fd_of_socket(socket), backlog) == 0 || fail_with_errno(false);
}

brol_socket_handle posix_socket_accept(brol_socket_handle socket, sockaddr* address, int* length) {
  socklen_t size = static_cast<socklen_t>(*length);
  int fd;
  do {
    fd = ::accept4(fd_of_socket(socket), address, &size, SOCK_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) {
    return fail_with_errno(brol_invalid_socket);
  }
  *length = static_cast<int>(size);
  return static_cast<brol_socket_handle>(fd);
}

// A connect interrupted by a signal goes on in the background and must not be started again: its
// outcome is awaited instead.
bool finish_interrupted_connect(int fd) {
  pollfd wait{fd, POLLOUT, 0};
  int n;
  do {
    n = ::poll(&wait, 1, -1);
  } while (n < 0 && errno == EINTR);
  int error = 0;
  socklen_t size = sizeof error;
  if (n < 0 || ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size) != 0) {
    return fail_with_errno(false);
  }
  errno = error;
  return error == 0 || fail_with_errno(false);
}

bool posix_socket_connect(brol_socket_handle socket, const sockaddr* address, int length) {
  const int fd = fd_of_socket(socket);
  if (::connect(fd, address, static_cast<socklen_t>(length)) == 0) {
    return true;
  }
  // Linux ends a connect that outlasts SO_SNDTIMEO with EINPROGRESS.
  if (errno == EINPROGRESS) {
    errno = ETIMEDOUT;
    return false;
  }
  return errno == EINTR ? finish_interrupted_connect(fd) : fail_with_errno(false);
}

bool posix_socket_set_timeout(brol_socket_handle socket, std::int64_t milliseconds) {
  timeval bound{};
  bound.tv_sec = static_cast<time_t>(milliseconds / 1000);
  bound.tv_usec = static_cast<suseconds_t>(milliseconds % 1000 * 1000);
  const int fd = fd_of_socket(socket);
  return (::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &bound, sizeof bound) == 0 &&
          ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &bound, sizeof bound) == 0) ||
         fail_with_errno(false);
}

bool posix_socket_local_address(brol_socket_handle socket, sockaddr* address, int* length) {
  socklen_t size = static_cast<socklen_t>(*length);
  if (::getsockname(fd_of_socket(socket), address, &size) != 0) {
    return fail_with_errno(false);
  }
  *length = static_cast<int>(size);
  return true;
}

int lookup_error_number(int code) {
  switch (code) {
    case EAI_NONAME:
    case EAI_NODATA:
    case EAI_ADDRFAMILY:
      return ENOENT;
    case EAI_AGAIN:
      return EAGAIN;
    case EAI_MEMORY:
      return ENOMEM;
    case EAI_FAMILY:
      return EAFNOSUPPORT;
    case EAI_SYSTEM:
      return errno;
    default:
      return EIO;
  }
}

bool posix_host_lookup(const char* host, sockaddr_storage* out) {
  addrinfo* list = nullptr;
  const int code = ::getaddrinfo(host, nullptr, nullptr, &list);
  if (code != 0 || list == nullptr) {
    errno = code != 0 ? lookup_error_number(code) : ENOENT;
    return fail_with_errno(false);
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

bool posix_host_name(char* buffer, int size) {
  if (size <= 0 || ::gethostname(buffer, static_cast<std::size_t>(size)) != 0) {
    errno = size <= 0 ? EINVAL : errno;
    return fail_with_errno(false);
  }
  // POSIX leaves a cut name unterminated.
  if (std::memchr(buffer, '\0', static_cast<std::size_t>(size)) == nullptr) {
    buffer[0] = '\0';
    errno = ENAMETOOLONG;
    return false;
  }
  return true;
}

bool cannot_copy(int number) { return number == ENOSYS || number == EINVAL || number == EXDEV || number == EOPNOTSUPP; }

// copy_file_range copies within the kernel (on some file systems without copying at all); between
// files it cannot serve (another file system on older kernels, special files) sendfile copies through
// the page cache. An append-only destination takes neither: reported as EINVAL, nothing moved.
std::int32_t posix_file_copy(brol_file_handle from, brol_file_handle to, std::int32_t size) {
  const auto n = static_cast<std::size_t>(size);
  ssize_t moved;
  do {
    moved = ::copy_file_range(fd_of(from), nullptr, fd_of(to), nullptr, n, 0);
  } while (moved < 0 && errno == EINTR);
  if (moved < 0 && cannot_copy(errno)) {
    do {
      moved = ::sendfile(fd_of(to), fd_of(from), nullptr, n);
    } while (moved < 0 && errno == EINTR);
  }
  if (moved < 0 && errno == EBADF) {
    const int flags = ::fcntl(fd_of(to), F_GETFL);
    if (flags >= 0 && (flags & O_APPEND) != 0) errno = EINVAL;
  }
  return moved < 0 ? fail_with_errno(std::int32_t{-1}) : static_cast<std::int32_t>(moved);
}

// sendfile has no MSG_NOSIGNAL: SIGPIPE is held back for the call, and one that the call raised (also
// with a partial count, when the peer went away midway) is taken before the mask is restored, so
// that a peer gone away is EPIPE and never the signal. One that was pending before is left alone.
std::int32_t posix_file_send(brol_file_handle from, brol_socket_handle to, std::int32_t size) {
  sigset_t pipe_only;
  sigset_t old_mask;
  sigset_t pending;
  sigemptyset(&pipe_only);
  sigaddset(&pipe_only, SIGPIPE);
  sigpending(&pending);
  const bool was_pending = sigismember(&pending, SIGPIPE) == 1;
  pthread_sigmask(SIG_BLOCK, &pipe_only, &old_mask);
  ssize_t sent;
  do {
    sent = ::sendfile(fd_of_socket(to), fd_of(from), nullptr, static_cast<std::size_t>(size));
  } while (sent < 0 && errno == EINTR);
  const int number = errno;
  sigpending(&pending);
  if (!was_pending && sigismember(&pending, SIGPIPE) == 1) {
    const timespec none{0, 0};
    ::sigtimedwait(&pipe_only, nullptr, &none);
  }
  pthread_sigmask(SIG_SETMASK, &old_mask, nullptr);
  errno = number;
  return sent < 0 ? fail_with_errno(std::int32_t{-1}) : static_cast<std::int32_t>(sent);
}

const brol_platform_calls k_defaults = {
    .time_now = posix_time_now,
    .process_id = posix_process_id,
    .file_open = posix_file_open,
    .file_read = posix_file_read,
    .file_write = posix_file_write,
    .file_seek = posix_file_seek,
    .file_close = posix_file_close,
    .file_stat = posix_file_stat,
    .file_open_append = posix_file_open_append,
    .file_append = posix_file_append,
    .file_flush = posix_file_flush,
    .file_replace = posix_file_replace,
    .file_remove = posix_file_remove,
    .dir_create = posix_dir_create,
    .logical_drives = posix_logical_drives,
    .socket_recv = posix_socket_recv,
    .socket_send = posix_socket_send,
    .socket_shutdown = posix_socket_shutdown,
    .socket_close = posix_socket_close,
    .socket_open = posix_socket_open,
    .socket_bind = posix_socket_bind,
    .socket_listen = posix_socket_listen,
    .socket_accept = posix_socket_accept,
    .socket_connect = posix_socket_connect,
    .socket_local_address = posix_socket_local_address,
    .host_lookup = posix_host_lookup,
    .host_name = posix_host_name,
    .file_copy = posix_file_copy,
    .file_send = posix_file_send,
    .file_read_link = posix_file_read_link,
    .file_create_like = posix_file_create_like,
    .socket_set_timeout = posix_socket_set_timeout,
};

}  // namespace

brol_platform_calls brol_os = k_defaults;

const brol_platform_calls& brol_platform_defaults() { return k_defaults; }
