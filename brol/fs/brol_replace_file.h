// brol_replace_file: writing a file so that its target is replaced whole or not at all.
//
// The new content goes into a temporary file beside the target; commit puts it in the target's place
// in one step, so a reader (or a crash) never sees a half-written target. A plain record: `init`
// before use, `destroy` after; it is never copied. Nothing throws. As with every replacement by
// rename, a second hard link to the target keeps naming the old content.
#pragma once

#include <cstdint>

#include "brol/platform/brol_platform.h"

struct brol_replace_file {
  char* target;               // owned: the file replaced (links followed), or null when nothing is begun
  char* temp_path;            // owned: the temporary file's path, or null
  brol_file_handle handle;    // the temporary file, open for reading and writing, or brol_invalid_file
  std::int32_t error_number;  // errno of the last failure, 0 after a successful begin or commit

  // Never copied by the language: two records would remove one temporary file and free its paths
  // twice. The default constructor leaves the fields as they are: init before use.
  brol_replace_file() = default;
  brol_replace_file(const brol_replace_file&) = delete;
  brol_replace_file& operator=(const brol_replace_file&) = delete;

  // Nothing begun: target and temp_path null, handle invalid, error_number 0.
  void init() noexcept;
  // abort(): a file begun and not committed is removed, the target stays as it was.
  void destroy() noexcept;

  // Aborts what was begun, then creates a new empty file beside the target. When target_path is a
  // symbolic link (or a chain of them) the target is the file it names, so the link stays and that
  // file gets the new content; otherwise target_path itself. The new file is in the target's folder,
  // named the target's name + "." + 8 random letters or digits + ".tmp" (the name cut short where
  // the name or the whole path would be longer than the system takes, so any name it accepts can be
  // replaced), never taking a name that exists (a taken name draws another, a few times). It is made
  // with brol_os.file_create_like: an existing target the caller may not write is refused (EACCES),
  // and the new file has the target's permission bits, and was never open to others, before the
  // first byte is written. On success handle is open for the caller's writes and temp_path names the
  // file; true. A stream may write through handle (attach_file), but must be closed with detach
  // before commit so that its pending bytes are written and the handle stays here. Failure: false
  // with error_number set (EINVAL for a null or empty target, ENOMEM when the paths cannot be
  // stored, EEXIST when every name drawn was taken, ELOOP for links that loop, else the system's
  // reason); nothing is left on disk and the record is as init leaves it but for error_number.
  bool begin(const char* target_path) noexcept;
  // Writes the temporary file through to the disk, closes it and puts it in the target's place (the
  // target keeps its attributes, see brol_os.file_replace). True on success. Any failure removes the
  // temporary file and leaves the target as it was: false with error_number set (EBADF when nothing
  // was begun). Either way the record is as init leaves it but for error_number.
  bool commit() noexcept;
  // Closes and removes the temporary file; the target is untouched. Harmless when nothing is begun.
  // error_number stays.
  void abort() noexcept;
};
