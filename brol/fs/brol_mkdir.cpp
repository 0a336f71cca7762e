// Directory creation with every missing parent, and what a path names.
#include "brol/fs/brol_mkdir.h"

#include <cerrno>
#include <cstring>

#include "brol/log/brol_log.h"
#include "brol/platform/brol_alloc.h"
#include "brol/platform/brol_platform.h"

namespace {

constexpr char k_separator = brol_path_separator;

bool is_directory(const char* path) noexcept {
  brol_file_status status{};
  return brol_os.file_stat(path, &status) && (status.mode & brol_mode_type_mask) == brol_mode_directory;
}

bool is_drive_letter(char c) noexcept { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

// True when the separator at position `at` is the one of a drive's root ("C:\").
bool is_drive_root_separator(const char* path, std::size_t at) noexcept {
  return brol_path_drive_letters && at == 2 && path[1] == ':' && is_drive_letter(path[0]);
}

// Drops separators at the end, but never the one that makes a root ("\", "/", "C:\").
void drop_trailing_separators(char* path, std::size_t length) noexcept {
  while (length > 1 && path[length - 1] == k_separator && !is_drive_root_separator(path, length - 1)) {
    path[--length] = '\0';
  }
}

const char* error_text(int number) noexcept {
  const char* text = brol_platform_error_text(number);
  return text != nullptr ? text : "unknown error";
}

// Makes the parent of path, cut off at its last separator run and put back on success. A separator
// right after a drive ("C:\x") has no parent to make. False when the parent failed, the text then
// left cut there.
bool make_parent(char* path) noexcept {
  char* cut = std::strrchr(path, k_separator);
  if (cut == nullptr) {
    return true;
  }
  // A doubled separator is one: the parent ends before the whole run.
  while (cut > path && cut[-1] == k_separator && !is_drive_root_separator(path, static_cast<std::size_t>(cut - path))) {
    --cut;
  }
  if (is_drive_root_separator(path, static_cast<std::size_t>(cut - path))) {
    return true;
  }
  *cut = '\0';
  if (!brol_mkdir_step(path)) {
    return false;
  }
  *cut = k_separator;
  return true;
}

}  // namespace

bool brol_mkdir(const char* path) noexcept {
  if (path == nullptr || path[0] == '\0') {
    BROL_LOG(1, EINVAL, "brol_mkdir(%s) wrong parameter", path != nullptr ? path : "(null)");
    return false;
  }
  const std::size_t length = std::strlen(path);
  char* copy = static_cast<char*>(brol_alloc(static_cast<std::int64_t>(length) + 1));
  if (copy == nullptr) {
    BROL_LOG(1, ENOMEM, nullptr);
    return false;
  }
  std::memcpy(copy, path, length + 1);
  drop_trailing_separators(copy, length);
  const bool made = brol_mkdir_step(copy);
  brol_free(copy);
  return made;
}

bool brol_mkdir_step(char* path) noexcept {
  if (path == nullptr || path[0] == '\0') {
    return true;
  }
  brol_file_status status{};
  if (brol_os.file_stat(path, &status)) {
    if ((status.mode & brol_mode_type_mask) == brol_mode_directory) {
      return true;
    }
    BROL_LOG(1, ENOTDIR, "mkdir(%s) is a file", path);
    return false;
  }
  if (!make_parent(path)) {
    return false;
  }
  if (brol_os.dir_create(path)) {
    return true;
  }
  const int error = errno;
  // Another process may have made it since the look above: the directory is there all the same.
  if (is_directory(path)) {
    return true;
  }
  BROL_LOG(1, error, "mkdir(%s) could not create directory, %s", path, error_text(error));
  return false;
}

int brol_path_kind(const char* path) noexcept {
  if (path == nullptr || path[0] == '\0') {
    return 0;
  }
  if (brol_path_drive_letters && is_drive_letter(path[0]) && path[1] == ':' && path[2] == '\0') {
    const int letter = (path[0] >= 'a' ? path[0] - 'a' : path[0] - 'A');
    return ((brol_os.logical_drives() >> letter) & 1u) != 0 ? 2 : 0;
  }
  brol_file_status status{};
  if (!brol_os.file_stat(path, &status)) {
    return 0;
  }
  const std::uint32_t type = status.mode & brol_mode_type_mask;
  return type == brol_mode_directory ? 2 : type == brol_mode_regular ? 1 : 0;
}
