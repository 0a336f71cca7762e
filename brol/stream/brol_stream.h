// brol_stream: the library's one stream, over a file handle or a socket, with one byte buffer that
// serves reading and, when asked for, buffered writing; and the process-wide blocking-call watch.
//
// A plain record: `init` before use, `destroy` after; it is never copied. Operations report success
// as a result and leave the details in `status` (a code below) and `error_number` (the C library's
// errno of the last failed system call, in the same numbering on every system). Nothing throws. A
// failed allocation gives status 515 and leaves the stream otherwise as it was, except `set_name`,
// which closes the stream. Texts are NUL-terminated; a null text counts as the empty text.
#pragma once

#include <atomic>
#include <cstdarg>
#include <cstdint>

#include "brol/format/brol_format_core.h"
#include "brol/platform/brol_platform.h"

// Status codes. get_byte returns a byte (0 to 255) or one of 513 to 516, so a value above 512 is
// never a byte.
inline constexpr std::int64_t brol_stream_ok = 0;
inline constexpr std::int64_t brol_stream_end_of_data = 513;
inline constexpr std::int64_t brol_stream_io_failed = 514;
inline constexpr std::int64_t brol_stream_no_memory = 515;
inline constexpr std::int64_t brol_stream_not_open = 516;
inline constexpr std::int64_t brol_stream_op_connect = 517;  // watch operations
inline constexpr std::int64_t brol_stream_op_read = 518;
inline constexpr std::int64_t brol_stream_op_write = 519;
inline constexpr std::int64_t brol_stream_aborted = 520;
inline constexpr std::int64_t brol_stream_open_failed = 521;
inline constexpr std::int64_t brol_stream_is_directory = 522;
inline constexpr std::int64_t brol_stream_no_directory = 523;

// Flags of `open`, with the values of the C runtime's _O_WRONLY, _O_RDWR, _O_CREAT and _O_TRUNC.
inline constexpr int brol_open_read = 0;
inline constexpr int brol_open_write = 0x1;
inline constexpr int brol_open_read_write = 0x2;
inline constexpr int brol_open_create = 0x100;
inline constexpr int brol_open_truncate = 0x200;

struct brol_stream {
  sockaddr* address;             // owned peer or local address (16 or 28 bytes), or null
  char* name;                    // owned: the file's path, the attached name or the peer's address
  std::int64_t timeout_ticks;    // watch ticks a blocking call may last (owner sets it; init: 4)
  std::int64_t status;           // code of the last operation
  brol_file_handle file;         // brol_invalid_file when none
  brol_socket_handle socket;     // brol_invalid_socket when none
  unsigned char* buffer;         // owned, allocated on first need, kept across close
  std::int64_t fill;             // valid bytes the last read put into buffer
  std::int64_t cursor;           // reading: next unread byte; buffered writing: pending bytes
  std::int64_t buffer_size;      // size of buffer, or of the next allocation
  std::int64_t wanted_size;      // a read buffer is replaced by one of this size when next empty
  std::uint64_t at_end;          // 1: end of data seen; reads answer 513 without a system call
  std::int64_t mark;             // a saved position
  std::int64_t position;         // bytes handed out by reads since open, or the position moved to
  std::uint64_t written;         // bytes passed to the file or socket since open
  std::uint64_t file_size;       // size of the file when opened, 0 when unknown
  std::uint64_t write_buffered;  // 1: writes collect in buffer
  std::uint64_t is_socket;       // 1: the stream uses socket, 0: file
  std::int32_t error_number;     // errno of the last failure, 0 after a successful open
  std::int64_t deadline;         // steady-clock milliseconds when socket calls stop (set_time_limit), or 0

  // Never copied by the language: two records would close one handle and free one buffer twice. The
  // default constructor leaves the fields as they are: init before use.
  brol_stream() = default;
  brol_stream(const brol_stream&) = delete;
  brol_stream& operator=(const brol_stream&) = delete;

  // --- Life cycle --------------------------------------------------------------------------------
  // Every field as listed above: closed, no buffer, timeout_ticks 4, buffer_size and wanted_size both
  // buffer_size (values below 1 become 1 and above 2^31 - 1 become 2^31 - 1: one system read fills at
  // most that much).
  void init(std::int64_t buffer_size) noexcept;
  // close(false), then frees buffer, name and address. The record is left as init leaves it (with
  // buffer_size and wanted_size both the last wanted size), so releasing twice is harmless.
  void destroy() noexcept;
  // Writes out pending buffered bytes (buffered writing then ends), then closes the handle (a socket
  // is shut down both ways first) unless detach, in which case its other owner keeps it. Afterwards
  // cursor, fill, at_end, mark and is_socket are 0, both handles invalid and the time limit ended
  // (deadline 0: the record's next use starts without one); buffer, sizes, name, address, position,
  // written, file_size and error_number stay. True and status 0, except when the final write-out
  // failed: false, status 514 and error_number kept. A stream that the watch aborted only forgets
  // its handle, which the watch has already closed.
  bool close(bool detach) noexcept;
  // Opens the file path (null: reopen the stored name) with brol_open_* flags: write, else
  // read-write, else read; create or truncate (either) creates the file or empties it, otherwise it
  // must exist. An open stream is closed first. On success the stream starts clean (status,
  // error_number, position, written, cursor, fill, at_end and mark 0; file_size from the file system)
  // and a given path becomes name. Failures leave the stream closed, with the previous name kept: 521
  // with no name to reopen or when the system refuses (error_number set), 522 for a directory
  // (error_number EISDIR), 515 when the name cannot be stored.
  bool open(const char* path, int flags) noexcept;
  // close(false), frees address, formats the path printf-style into a 512-byte area and opens it. A
  // path that does not fit (511 characters at most) or cannot be formatted is never opened cut:
  // status 521, error_number ENAMETOOLONG (EINVAL for a formatting error), false.
  bool open_format(const char* format, int flags, ...) noexcept __attribute__((format(gnu_printf, 2, 4)));
  // close(false), frees address, stores name (false if that fails), then uses handle as its file;
  // position, written and file_size start at 0. The handle is not checked. True.
  bool attach_file(brol_file_handle handle, const char* name) noexcept;
  // As attach_file for a socket descriptor; a negative descriptor leaves the stream closed (still
  // true when the name was stored).
  bool attach_socket(std::int64_t descriptor, const char* name) noexcept;
  // Stores a copy of text as name, reusing the current allocation when it is large enough. text may
  // point into the current name. Allocation failure: the old name stays, the stream is closed, status
  // 515, false.
  bool set_name(const char* text) noexcept;

  // An open stream has the handle its is_socket selects, and has not been aborted by the watch.
  bool is_open() const noexcept;

  // --- Reading (the buffer is allocated on first need) -------------------------------------------
  // A stream in buffered-write mode that is read from first writes its pending bytes out and leaves
  // that mode: one buffer cannot serve both directions at once.
  //
  // The next byte (0 to 255), or 516 when not open, 513 at the end of the data (status untouched),
  // 514 when the read failed (error_number set) or 515 when no buffer could be had (both stored in
  // status). A read from the system fills up to buffer_size bytes.
  std::uint16_t get_byte() noexcept;
  // Reads a line into dest, which holds capacity - 1 bytes, consuming at most capacity - 2 bytes (CR
  // included). LF ends the line and is consumed, not stored; CR is dropped wherever it stands. True
  // for a line (also one cut at the limit, whose rest stays for the next call) and for capacity 2 (an
  // empty text, nothing read); capacity below 2 stores nothing and is true. At the end of the data or
  // on any failure at_end is set and the result says whether anything was stored. With at_end already
  // set: false, dest untouched.
  bool get_line(char* dest, std::int64_t capacity) noexcept;
  // As get_line, ending at any byte of terminators instead of LF; CR is dropped unless it is one.
  bool get_until(char* dest, std::int64_t capacity, const char* terminators) noexcept;
  // Up to *count bytes without copying: a pointer into buffer, valid until the next operation, and
  // *count the bytes taken. Null with *count a code: 516 when *count <= 0 or not open, 513 at the
  // end, 514 or 515 (stored in status) as for get_byte. An empty buffer smaller than *count is
  // replaced by one of *count bytes, and one system read asks for *count bytes. A null count: null.
  const unsigned char* get_block(std::int32_t* count) noexcept;
  // Exactly count bytes into dest; false at the first failure, with the bytes read so far stored. A
  // null dest skips count bytes by a relative seek (true when position grew by count; so false on a
  // socket for any positive count). False with at_end set.
  bool get_bytes(void* dest, std::int64_t count) noexcept;

  // --- Writing -------------------------------------------------------------------------------------
  // Writes count bytes. Not open: status 516, false. A negative count (or null data with a positive
  // count) is false and writes nothing; count 0 is true. In buffered-write mode bytes collect in the
  // buffer and go out in writes of buffer_size bytes (or directly, when more than a buffer remains);
  // otherwise they are written at once, repeating partial writes. A failed write: status 514,
  // error_number set, false; EBADF also closes the stream; a system write of 0 bytes counts as
  // failing with EIO. After a failed write-out no pending bytes are kept.
  bool write_bytes(const void* data, std::int64_t count) noexcept;
  bool write_text(const char* text) noexcept;
  bool write_char(char c) noexcept;
  // printf-style. Formats into a 512-byte area, or a heap area for longer texts, and writes exactly
  // the formatted length, whatever length the C library reports. Not open: 516; no memory: 515; a
  // text that cannot be formatted: 514 with error_number EINVAL (a runtime that reports no length for
  // a too-small area is retried with doubled areas up to 16 MiB).
  bool write_printf(const char* format, ...) noexcept __attribute__((format(gnu_printf, 2, 3)));
  bool write_vprintf(const char* format, std::va_list arguments) noexcept __attribute__((format(gnu_printf, 2, 0)));
  // The formatting engine over an item list (the items as for brol_format, checked at compile time as
  // there, closed by 0); the text goes out with write_bytes, so a closed stream answers 516. No memory
  // for a text of 512 bytes or more: 515.
  template <class First, class... Items>
  bool write_format(First first, Items... items) noexcept {
    const auto rest = brol::detail::rest_items(first, items...);
    return write_vformat(brol::detail::first_item(first, items...),
                         brol_fmt_cursor{rest.items, rest.items + sizeof...(Items) + 1});
  }
  bool write_vformat(brol_item first, brol_fmt_cursor cursor) noexcept;

  // --- Buffer control and error text -------------------------------------------------------------
  // Starts buffered-write mode: allocates buffer_size bytes. False when a buffer already exists
  // (buffered writing starts before the first read) or the allocation fails (status untouched).
  bool enable_write_buffer() noexcept;
  // Without a buffer, buffer_size and wanted_size become n. Buffered writing: pending bytes go out,
  // the buffer is replaced by one of n bytes (failure: no buffer, buffered writing ends, status 515,
  // false). Reading: wanted_size = n, the buffer is replaced when next found empty. n is limited as
  // in init.
  bool set_buffer_size(std::int64_t n) noexcept;
  // The C library's message for the current errno (not error_number).
  static const char* error_text() noexcept;

  // --- Positioning (files only; on a socket or a closed stream nothing happens) ------------------
  // None of these returns a result or changes status. Pending buffered bytes are written out before
  // the file pointer moves (a failure there is ignored). A move the system refuses changes nothing.
  // Offsets are 64-bit.
  //
  // mark = position (also on a socket).
  void set_mark() noexcept;
  // Moves to mark; the buffer is dropped and at_end cleared.
  void reset_to_mark() noexcept;
  // Moves by offset from the start (whence 0), the current position (1) or the end (2); other whence
  // values do nothing. A target inside the buffered bytes keeps the buffer; at_end is cleared.
  // Relative moves count from the reading position; with nothing buffered, from the file's own
  // pointer (so a writer's seek(0, 1) stays at its end).
  void seek(std::int64_t offset, int whence) noexcept;
  // Moves to the start; the buffer is dropped, position and at_end 0.
  void rewind() noexcept;
  // Moves to the end; the buffer is dropped and at_end set, so reads answer 513 at once.
  void seek_end() noexcept;

  // --- Copying (either stream a file or a socket) ------------------------------------------------
  // The transfer area is the destination's buffer (unless it holds input read ahead and not yet
  // handed out, which stays there for the destination's later reads), else the source's, else 16 KiB,
  // else 1 KiB;
  // pending buffered output of either stream is written out first and bytes the source holds unread
  // go to the destination before any further read. The source's position advances by every byte
  // taken from it. Codes go to the status of the stream the operation is called on: 516 when either
  // stream is not open, 515 when no area can be had, 514 with error_number when a read or a write
  // fails (a read of 0 bytes is the normal end), 0 on success. Each blocking call arms the watch
  // with the stream whose handle it uses.
  //
  // Called on the destination: copies until the source ends. From a file source, once the unread
  // and pending bytes are out, the system copies the rest where it can (to a file or a socket; not
  // on Windows), without the area; each such call is watched as a write of the destination and
  // counts as one read for copy_count's read_limit. Where the system refuses the two handles the copy
  // goes on through the area from where it stood.
  bool copy_all(brol_stream& source) noexcept;
  // Called on the destination: copies up to count bytes, with at most read_limit system reads
  // (negative: no limit). Enough unread bytes in the source's buffer finish it without any read.
  bool copy_count(brol_stream& source, std::int64_t count, std::int16_t read_limit) noexcept;
  // Called on the source: copies up to the delimiter, which is consumed but not written. The end of
  // the data without a delimiter is success (at_end set); with at_end already set: 513, false.
  bool copy_until(char delimiter, brol_stream& destination) noexcept;

  // --- The process-wide watch -----------------------------------------------------------------------
  // Stores stream and operation (517 to 519) and loads ticks_left with the low 16 bits of the
  // stream's timeout_ticks; a null stream does nothing. Arming replaces any earlier stream.
  static void arm(brol_stream* stream, std::uint16_t operation) noexcept;
  static void disarm() noexcept;
  // Called periodically by a host (another thread or a timer). When armed, counts ticks_left down; at
  // 0 it disarms, sets the stream's status to 520, closes its handle under the blocked call and
  // returns the operation. Otherwise 0. An aborted stream answers 516 to every later operation and
  // keeps status 520 until close, which never uses the old handle again.
  static std::uint16_t tick() noexcept;

  // --- Time limit ---------------------------------------------------------------------------------
  // From now on, milliseconds later every socket call of this stream (connect, each read and write,
  // also of later connections) fails with ETIMEDOUT, as a failed call of that kind fails (a read or a
  // write: 514); each call waits at most the time left. 0 or less: no limit (init's default). The
  // limit stays until set again or close (a connect, listen or accept that replaces a connection, and
  // a failed one, keep it); file calls are never limited. False only when a limit is lifted
  // from an open socket that refuses to drop its time bound (error_number then says why).
  bool set_time_limit(std::int64_t milliseconds) noexcept;

  // --- Sockets (TCP over IPv4 and IPv6) ----------------------------------------------------------
  // On Windows the program starts the socket library (WSAStartup) before the first of these; the
  // library never does. None of them sets status except 515 for a failed allocation (error_number
  // ENOMEM); every other failure is false with the reason in error_number. A connected or accepted
  // stream starts with position, written and error_number 0, is read and written like a file
  // (positioning does nothing on it) and closed by close; sending to a peer that has gone fails with
  // 514 and never stops the process.
  //
  // Makes address the record for host, port 0: null or empty is the IPv4 wildcard 0.0.0.0; a text
  // of digits with exactly three dots is a dotted IPv4 address, taken without a lookup when each of
  // its four fields has 1 to 3 digits and a value up to 255 and otherwise refused with EINVAL (no
  // lookup); any other text is looked up and the first IPv4 or IPv6 answer is taken. False leaves
  // address null: EINVAL, the lookup's error (ENOENT for an unknown name), EAFNOSUPPORT for an answer
  // of another family, or 515.
  bool resolve(const char* host) noexcept;
  // Makes address the IPv6 wildcard (::, port 0), so that listen listens on IPv6. False (515) when
  // the record cannot be had; address is then null.
  bool set_any_ipv6() noexcept;
  // resolve(host), then connect_address to port of it.
  bool connect(const char* host, std::uint16_t port) noexcept;
  // Closes the stream and connects it to peer (an IPv4 or IPv6 record, port included), which
  // becomes address (it may be address itself). name becomes the peer's numeric address text (also
  // when the connect then fails). The
  // connect is watched as operation 517: an abort ends it with false and status 520 (kept until the
  // next close). False: EINVAL for a null peer or another family, the system's reason for a refused
  // socket or connect, or 515; the stream is then closed and no socket is left open.
  bool connect_address(const sockaddr* peer) noexcept;
  // Closes the stream and listens on port of the interface and family that address selects (no
  // address: the IPv4 wildcard, which is then recorded), with 10 connections waiting at most. On
  // success address holds the bound address with the port the system chose when port was 0; name
  // is untouched. False leaves the stream closed with no socket open: EINVAL for another family,
  // else the system's reason.
  bool listen(std::uint16_t port) noexcept;
  // Closes this stream and waits (unwatched) for a peer on listener, a stream on which listen
  // succeeded. On success this stream is connected to the peer, address holds the peer's record (16
  // bytes for IPv4, 28 for IPv6) and name its numeric text. False: EINVAL for a null listener or one
  // that is not an open socket (before any system call), else the system's reason or 515; this
  // stream is then closed with address null.
  bool accept(brol_stream* listener) noexcept;

  // --- Maildir delivery ------------------------------------------------------------------------------
  // Closes the stream, frees address and opens a new file with a name that exists neither in
  // directory/new, nor in directory/cur, nor in the target directory/subdirectory (directory itself
  // when subdirectory is null or empty), with the flags of open. Names of name_style 1 are
  // "<seconds>.<process id>.<delivery counter>.<host name>." (the counter of the process grows by
  // one per name; "localhost" when the host name cannot be had); any other style takes 12 random
  // letters and digits (brol_random_text). When flags ask for creation the file is created
  // exclusively, so a name that another process takes between the checks and the creation counts as
  // taken and another is drawn: two deliveries never share a file. On success name is the file's
  // path. Failures: 523 when the target directory does not exist (error_number from the system),
  // 521 with ENAMETOOLONG when a path would exceed 511 characters (nothing is opened cut), 521 with
  // EEXIST when 1000 names in a row were taken, else the failure of open. Null texts count as empty.
  bool open_maildir_file(int name_style, std::uint16_t flags, const char* directory, const char* subdirectory) noexcept;
};

// n random letters and digits (n outside 1 to 31 means 31) from the process-wide generator, in an
// area of 32 bytes that belongs to the calling thread and is overwritten by its next call. Two calls
// in the same second give different texts.
const char* brol_random_text(int n) noexcept;

// The watch record: one for the process, disarmed at start. It does not own the stream.
struct brol_stream_watch {
  std::atomic<brol_stream*> stream;
  std::atomic<std::uint16_t> ticks_left;
  std::atomic<std::uint16_t> operation;
};
extern brol_stream_watch brol_watch;
