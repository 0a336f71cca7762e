// brol_replace_file: writing a file so that its target is replaced whole or not at all.
//
// The new content goes into a temporary file beside the target; commit puts it in the target's place
// in one step, so a reader (or a crash) never sees a half-written target. A plain record: `init`
// before use, `destroy` after; it is never copied. Nothing throws.
#pragma once

#include <cstdint>

#include "brol/platform/brol_platform.h"

struct brol_replace_file {
  char* target;               // owned: the target path, or null when nothing is begun
  char* temp_path;            // the temporary file's path (in target's block), or null
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

  // Aborts what was begun, then creates a new empty file beside target: in the same folder, named
  // target + "." + 8 random letters or digits + ".tmp", never taking a name that exists (a taken
  // name draws another, a few times). On success handle is open for the caller's writes and
  // temp_path names the file; true. A stream may write through handle (attach_file), but must be
  // closed with detach before commit so that its pending bytes are written and the handle stays
  // here. Failure: false with error_number set (EINVAL for a null or empty target, ENOMEM when the
  // paths cannot be stored, EEXIST when every name drawn was taken, else the system's reason);
  // nothing is left on disk and the record is as init leaves it but for error_number.
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
