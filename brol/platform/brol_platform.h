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

// Socket address records (sockaddr, sockaddr_in, sockaddr_in6, sockaddr_storage) come from the system
// headers above, so callers can name them without platform conditionals.

// Handles as plain integers, the same type on both systems. A file handle is a Win32 HANDLE or a
// POSIX file descriptor; a socket is a SOCKET or a descriptor. The invalid values have all bits set
// (INVALID_HANDLE_VALUE, INVALID_SOCKET).
using brol_file_handle = std::intptr_t;
inline constexpr brol_file_handle brol_invalid_file = -1;
using brol_socket_handle = std::uint64_t;
inline constexpr brol_socket_handle brol_invalid_socket = ~std::uint64_t{0};

// Access and disposition of file_open, with the values of GENERIC_READ, GENERIC_WRITE, CREATE_NEW,
// CREATE_ALWAYS and OPEN_EXISTING.
inline constexpr std::uint32_t brol_access_read = 0x80000000u;
inline constexpr std::uint32_t brol_access_write = 0x40000000u;
inline constexpr std::uint32_t brol_create_new = 1;
inline constexpr std::uint32_t brol_create_always = 2;
inline constexpr std::uint32_t brol_open_existing = 3;

// The system's path syntax: Windows separates components with a backslash and names drives by letter
// ("C:", "C:\"); POSIX separates with '/' and has no drive letters ("C:" is an ordinary name).
// The longest path the system's calls take (MAX_PATH less its NUL for the A functions; PATH_MAX less
// its NUL) and the longest name of one component.
#ifdef _WIN32
inline constexpr char brol_path_separator = '\\';
inline constexpr bool brol_path_drive_letters = true;
inline constexpr std::int64_t brol_path_max = 259;
#else
inline constexpr char brol_path_separator = '/';        // between the components of a path
inline constexpr bool brol_path_drive_letters = false;  // whether "C:" names a drive
inline constexpr std::int64_t brol_path_max = 4095;     // the longest path the system accepts
#endif
inline constexpr std::int64_t brol_name_max = 255;  // the longest name of one component

// Origins of file_seek (FILE_BEGIN, FILE_CURRENT, FILE_END) and the `how` of socket_shutdown that
// ends both directions (SD_BOTH).
inline constexpr int brol_seek_begin = 0;
inline constexpr int brol_seek_current = 1;
inline constexpr int brol_seek_end = 2;
inline constexpr int brol_shutdown_both = 2;

// What file_stat reports: the size in bytes and the mode, whose type bits (mask 0xF000) are 0x4000
// for a directory and 0x8000 for a regular file on both systems (as _stat64 reports them).
struct brol_file_status {
  std::int64_t size;
  std::uint32_t mode;
};
inline constexpr std::uint32_t brol_mode_type_mask = 0xF000;
inline constexpr std::uint32_t brol_mode_directory = 0x4000;
inline constexpr std::uint32_t brol_mode_regular = 0x8000;

// The calls the library makes of the system, as one table of function pointers. The defaults are the
// platform's own; a test swaps an entry (and restores it) to make a call fail, return short counts or
// report a chosen error. Every entry keeps the meaning of the Win32 call it stands for.
struct brol_platform_calls {
  // Seconds since 1970-01-01 UTC (like _time64).
  std::int64_t (*time_now)();
  // The calling process's id (like GetCurrentProcessId).
  std::uint32_t (*process_id)();

  // Files and sockets. Every call that fails leaves the reason in errno, in the C library's numbering
  // (Win32 and socket errors are translated once, here), and returns -1, the invalid handle or false.
  // Counts are limited to 32 bits, as ReadFile, WriteFile, recv and send take them.

  // Opens a file like CreateFileA with share mode 0, no security attributes and
  // FILE_ATTRIBUTE_NORMAL: access is brol_access_read and/or brol_access_write; disposition
  // brol_create_new creates the file and fails with EEXIST when the name is taken (by a file, a
  // directory or a dangling link), brol_create_always creates the file or empties an existing one,
  // brol_open_existing needs it to exist. A directory is never opened. The handle does not pass to
  // child processes.
  brol_file_handle (*file_open)(const char* path, std::uint32_t access, std::uint32_t disposition);
  // Reads up to size bytes (ReadFile): the count, 0 at the end of the data, -1 on failure.
  std::int32_t (*file_read)(brol_file_handle file, void* data, std::int32_t size);
  // Writes up to size bytes (WriteFile): the count written, -1 on failure.
  std::int32_t (*file_write)(brol_file_handle file, const void* data, std::int32_t size);
  // Moves the file pointer (SetFilePointerEx) by offset from whence (brol_seek_*): the new offset
  // from the start, -1 on failure (the pointer then stays where it was).
  std::int64_t (*file_seek)(brol_file_handle file, std::int64_t offset, int whence);
  // Closes a file handle (CloseHandle).
  bool (*file_close)(brol_file_handle file);
  // Size and type of the file or directory at path (_stat64).
  bool (*file_stat)(const char* path, brol_file_status* out);
  // Opens or creates the file at path for appending (CreateFileA with FILE_APPEND_DATA and the
  // FILE_READ_DATA that locks ask for, OPEN_ALWAYS, sharing for reading, writing and deleting;
  // O_WRONLY | O_APPEND | O_CREAT): every write lands at the file's real end, also past 4 GiB.
  // Readers and other appenders may hold the file open meanwhile, and they do not block this open. A
  // directory is never opened. Write with file_append.
  brol_file_handle (*file_open_append)(const char* path);
  // Writes size bytes to a file_open_append handle at the file's end as one piece: no write of
  // another appender (thread or process) lands inside it or in the same place. The count written,
  // -1 on failure. (Appenders on Windows take turns through a byte-range lock far beyond any end,
  // since not every system finds the end and writes in one step; Wine does not.)
  std::int32_t (*file_append)(brol_file_handle file, const void* data, std::int32_t size);
  // Writes the file's data through to the disk (FlushFileBuffers, fsync).
  bool (*file_flush)(brol_file_handle file);
  // Gives the file open as file, made under the name from, the name to, replacing a file of that name
  // in one step: a reader sees the old content or the new one, never a mix or no file. The target
  // keeps its attributes (ReplaceFileA; on POSIX its permission bits, set through the handle); without
  // a target the file is renamed (MoveFileExA with MOVEFILE_REPLACE_EXISTING |
  // MOVEFILE_WRITE_THROUGH; rename). The move is on the disk when the call returns. Both names must
  // lie on one volume; a directory at to is never replaced. The handle is closed in every case. Only
  // the file written is ever renamed: when from no longer names it (someone who may write the folder
  // renamed it and put another file or a link there), the call fails with ENOENT and touches neither
  // name. (Windows: the file was open without sharing, so nobody could rename it meanwhile.) On
  // failure the target is as it was and from still exists.
  bool (*file_replace)(brol_file_handle file, const char* from, const char* to);
  // Removes the file at path (DeleteFileA, unlink); never a directory.
  bool (*file_remove)(const char* path);
  // Creates one directory (CreateDirectoryA without security attributes; mkdir with mode 0777, less
  // the umask). A name that exists already fails with EEXIST; a missing parent with ENOENT.
  bool (*dir_create)(const char* path);
  // The drive letters in use as bits, bit 0 for A: (GetLogicalDrives). POSIX has no drive letters:
  // always 0. 0 on failure too, with errno set.
  std::uint32_t (*logical_drives)();
  // Receives up to size bytes (recv with no flags): the count, 0 when the peer has ended its side, -1
  // on failure.
  std::int32_t (*socket_recv)(brol_socket_handle socket, void* data, std::int32_t size);
  // Sends up to size bytes (send with no flags): the count sent, -1 on failure. A peer that has gone
  // away is a failure (EPIPE or ECONNRESET), never a signal.
  std::int32_t (*socket_send)(brol_socket_handle socket, const void* data, std::int32_t size);
  // Ends one or both directions of a connection (shutdown).
  bool (*socket_shutdown)(brol_socket_handle socket, int how);
  // Closes a socket (closesocket).
  bool (*socket_close)(brol_socket_handle socket);
  // Creates a socket (socket) of family AF_INET or AF_INET6, type SOCK_STREAM and protocol 0 or
  // another. An IPv6 socket carries IPv6 only, as on Windows. The handle does not pass to child
  // processes.
  brol_socket_handle (*socket_open)(int family, int type, int protocol);
  // Binds a socket to the local address of length bytes (bind). A port whose old connections still
  // linger after closing can be bound again, as Windows allows; one in use by a listener cannot.
  bool (*socket_bind)(brol_socket_handle socket, const sockaddr* address, int length);
  // Makes a bound socket accept connections, with up to backlog of them waiting (listen).
  bool (*socket_listen)(brol_socket_handle socket, int backlog);
  // Waits for a connection on a listening socket (accept): the new socket, or the invalid one. The
  // peer's address goes to address, which has room for *length bytes; *length becomes its size.
  brol_socket_handle (*socket_accept)(brol_socket_handle socket, sockaddr* address, int* length);
  // Connects a socket to the address of length bytes (connect), blocking until the peer accepts or
  // refuses. Closing the socket from another thread ends the wait with a failure.
  bool (*socket_connect)(brol_socket_handle socket, const sockaddr* address, int length);
  // The local address a socket is bound to (getsockname), written as socket_accept writes the peer's.
  bool (*socket_local_address)(brol_socket_handle socket, sockaddr* address, int* length);
  // Looks a host name or numeric address text up (getaddrinfo with no service and no hints, then
  // freeaddrinfo) and copies the first result's address, of whatever family, to *out. Lookup errors
  // become errno values: ENOENT for a name that has no address, EAGAIN for a temporary failure,
  // ENOMEM, EAFNOSUPPORT, and EIO for anything else.
  bool (*host_lookup)(const char* host, sockaddr_storage* out);
  // This computer's name (gethostname), NUL-terminated in buffer of size bytes; false when it does
  // not fit.
  bool (*host_name)(char* buffer, int size);

  // Copies inside the system, without passing the bytes through the caller: up to size bytes from
  // the file `from`, read at its file pointer, to the file `to` (file_copy) or the socket `to`
  // (file_send, the counterpart of TransmitFile), written at its file pointer; both pointers advance
  // by the count. The count moved, 0 at the end of from's data, -1 on failure. ENOSYS, EINVAL,
  // EXDEV and EOPNOTSUPP mean the system cannot copy between these two handles this way (nothing was
  // moved; read and write instead); any other errno is a failed read or write. Windows keeps to
  // reading and writing: both always fail with ENOSYS.
  std::int32_t (*file_copy)(brol_file_handle from, brol_file_handle to, std::int32_t size);
  std::int32_t (*file_send)(brol_file_handle from, brol_socket_handle to, std::int32_t size);

  // The text of the symbolic link at path (readlink): up to size bytes of it go to out, without a
  // NUL; the count stored (size itself when the text may be longer), -1 on failure: EINVAL when path
  // names no symbolic link, ENOENT when it names nothing, EACCES where the system's protection of
  // links in shared folders would refuse to follow it (the folder is sticky and writable by all, and
  // the link belongs neither to this process's user nor to the folder's owner), whether or not the
  // system has that protection switched on. Windows: always -1 with EINVAL (the library follows no
  // links there).
  std::int64_t (*file_read_link)(const char* path, char* out, std::int64_t size);
  // Creates the new file path, open for reading and writing, as file_open with brol_create_new does,
  // to take the place of the file like later. When like is a regular file: EACCES (or the system's
  // reason) when this process may not write like, as a direct open for writing would fail; the new
  // file gets like's permission bits (and, where the system allows it, its owner) before the handle
  // is returned, and is created with those of 0600 that like has, so that nobody like does not admit
  // can open it in between; when the bits cannot be set the new file is removed and the call fails.
  // Otherwise the file is created as file_open creates it. Windows: like is opened for writing (and
  // closed, unchanged) to learn whether a direct write would be allowed; ReplaceFileA gives the new
  // file like's attributes at the replacement.
  brol_file_handle (*file_create_like)(const char* path, const char* like);
  // Bounds every later blocking socket_recv, socket_send and socket_connect of socket to milliseconds
  // each (SO_RCVTIMEO and SO_SNDTIMEO; 0: no bound). A call that runs out fails with ETIMEDOUT.
  bool (*socket_set_timeout)(brol_socket_handle socket, std::int64_t milliseconds);
};

// The table in force. Tests may assign entries; brol_platform_defaults() gives the original set.
extern brol_platform_calls brol_os;
const brol_platform_calls& brol_platform_defaults();

// Breaks a time down into local time (with daylight saving as the runtime's time zone rules say) or
// UTC. False when the time cannot be represented; *out is then unchanged.
bool brol_platform_localtime(std::int64_t seconds, std::tm* out);
bool brol_platform_gmtime(std::int64_t seconds, std::tm* out);

// The C library's error number for a system error code: on Windows a Win32 or Windows sockets error
// (ERROR_FILE_NOT_FOUND gives ENOENT, WSAECONNRESET gives ECONNRESET, unknown codes EIO); on POSIX an
// errno value, unchanged except ENOTSOCK, which becomes EBADF as WSAENOTSOCK does on Windows.
int brol_platform_error_number(std::uint32_t system_code);

// The C runtime's message text for an errno number (strerror's wording on each platform), or null
// when the runtime has no text of its own for it. The text is constant or per thread: safe to use
// from several threads, valid until the thread's next call.
const char* brol_platform_error_text(int number);

// Two connected TCP sockets over the IPv4 loopback interface (for tests and tools). False, with errno
// set and both handles invalid, when the system refuses. On Windows the program must have started the
// socket library (WSAStartup) first; the library never does.
bool brol_platform_loopback_pair(brol_socket_handle* first, brol_socket_handle* second);
