// Replacing a file whole: a temporary file beside the target, then one replacing rename.
#include "brol/fs/brol_replace_file.h"

#include <cerrno>
#include <cstring>

#include "brol/platform/brol_alloc.h"
#include "brol/text/brol_random.h"

namespace {

constexpr char k_suffix[] = ".tmp";
constexpr std::int64_t k_random_letters = 8;
// Eight letters or digits give 62^8 names; a taken one is a leftover or a concurrent writer, so a
// few draws are plenty, and a folder that refuses them all is reported rather than tried forever.
constexpr int k_attempts = 8;

}  // namespace

void brol_replace_file::init() noexcept {
  target = nullptr;
  temp_path = nullptr;
  handle = brol_invalid_file;
  error_number = 0;
}

void brol_replace_file::destroy() noexcept { abort(); }

bool brol_replace_file::begin(const char* target_path) noexcept {
  abort();
  if (target_path == nullptr || target_path[0] == '\0') {
    error_number = EINVAL;
    return false;
  }
  // One block holds the target, its NUL and the temporary name built on a copy of it.
  const std::int64_t length = static_cast<std::int64_t>(std::strlen(target_path));
  const std::int64_t temp_length = length + 1 + k_random_letters + static_cast<std::int64_t>(sizeof k_suffix) - 1;
  target = static_cast<char*>(brol_alloc(length + 1 + temp_length + 1));
  if (target == nullptr) {
    error_number = ENOMEM;
    return false;
  }
  std::memcpy(target, target_path, static_cast<std::size_t>(length) + 1);
  temp_path = target + length + 1;
  std::memcpy(temp_path, target_path, static_cast<std::size_t>(length));
  temp_path[length] = '.';
  std::memcpy(temp_path + length + 1 + k_random_letters, k_suffix, sizeof k_suffix);
  for (int attempt = 0; attempt < k_attempts; ++attempt) {
    brol_random_alnum(temp_path + length + 1, k_random_letters);
    handle = brol_os.file_open(temp_path, brol_access_read | brol_access_write, brol_create_new);
    if (handle != brol_invalid_file) {
      error_number = 0;
      return true;
    }
    if (errno != EEXIST) {
      break;
    }
  }
  error_number = errno;
  abort();
  return false;
}

bool brol_replace_file::commit() noexcept {
  if (handle == brol_invalid_file) {
    error_number = EBADF;
    abort();
    return false;
  }
  const bool flushed = brol_os.file_flush(handle);
  const int flush_error = errno;
  // The handle is gone after a close, even a failed one: it is never closed twice.
  const bool closed = brol_os.file_close(handle);
  handle = brol_invalid_file;
  if (!flushed || !closed || !brol_os.file_replace(temp_path, target)) {
    error_number = flushed ? errno : flush_error;
    errno = error_number;
    abort();
    return false;
  }
  error_number = 0;
  temp_path = nullptr;
  abort();
  return true;
}

void brol_replace_file::abort() noexcept {
  // The caller's error number is what callers read after a failure; cleaning up must not change it.
  const int saved = errno;
  if (handle != brol_invalid_file) {
    brol_os.file_close(handle);
  }
  if (temp_path != nullptr) {
    brol_os.file_remove(temp_path);
  }
  brol_free(target);
  target = nullptr;
  temp_path = nullptr;
  handle = brol_invalid_file;
  errno = saved;
}
