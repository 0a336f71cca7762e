// Replacing a file whole: a temporary file beside the target, then one replacing rename.
#include "brol/fs/brol_replace_file.h"

#include <cerrno>
#include <cstring>

#include "brol/platform/brol_alloc.h"
#include "brol/text/brol_random.h"

namespace {

constexpr char k_suffix[] = ".tmp";
constexpr std::int64_t k_random_letters = 8;
// What the temporary name adds to the target's: a dot, the letters and the suffix.
constexpr std::int64_t k_added = 1 + k_random_letters + static_cast<std::int64_t>(sizeof k_suffix) - 1;
// Eight letters or digits give 62^8 names; a taken one is a leftover or a concurrent writer, so a
// few draws are plenty, and a folder that refuses them all is reported rather than tried forever.
constexpr int k_attempts = 8;
// Links followed at most, as the systems allow before ELOOP.
constexpr int k_link_hops = 40;

std::int64_t length_of(const char* s) { return static_cast<std::int64_t>(std::strlen(s)); }

// Where the name of the last component of path begins.
std::int64_t name_start(const char* path, std::int64_t length) {
  for (std::int64_t i = length; i > 0; --i) {
    if (path[i - 1] == brol_path_separator || path[i - 1] == '/') return i;
  }
  return 0;
}

char* copy_of(const char* s, std::int64_t length) {
  char* copy = static_cast<char*>(brol_alloc(length + 1));
  if (copy == nullptr) {
    errno = ENOMEM;
    return nullptr;
  }
  std::memcpy(copy, s, static_cast<std::size_t>(length));
  copy[length] = '\0';
  return copy;
}

// The path of the file that path names through any symbolic links (a link's relative text counts from
// its folder), allocated; path itself when it is no link or names nothing yet. Null with errno set
// when a link cannot be read, links loop, a path grows longer than the system takes, or memory runs
// out.
char* final_path(const char* path) {
  char current[brol_path_max + 1];
  char text[brol_path_max + 1];
  std::int64_t length = length_of(path);
  if (length > brol_path_max) {
    return copy_of(path, length);  // no link can be read under it; the system judges the name
  }
  std::memcpy(current, path, static_cast<std::size_t>(length) + 1);
  for (int hop = 0;; ++hop) {
    const std::int64_t n = brol_os.file_read_link(current, text, brol_path_max + 1);
    if (n < 0 && (errno == EINVAL || errno == ENOENT)) {
      return copy_of(current, length);
    }
    if (n < 0) {
      return nullptr;
    }
    const bool absolute = n > 0 && (text[0] == brol_path_separator || text[0] == '/');
    const std::int64_t folder = absolute ? 0 : name_start(current, length);
    if (hop == k_link_hops || folder + n > brol_path_max) {
      errno = hop == k_link_hops ? ELOOP : ENAMETOOLONG;
      return nullptr;
    }
    std::memcpy(current + folder, text, static_cast<std::size_t>(n));
    length = folder + n;
    current[length] = '\0';
  }
}

// How many bytes of the target's last name the temporary name keeps: all of them unless the added
// bytes would make the name or the whole path longer than the system takes.
std::int64_t name_kept(std::int64_t length, std::int64_t name_length) {
  std::int64_t keep = name_length;
  if (keep > brol_name_max - k_added) keep = brol_name_max - k_added;
  if (length + k_added > brol_path_max && keep > name_length - (length + k_added - brol_path_max)) {
    keep = name_length - (length + k_added - brol_path_max);
  }
  return keep > 0 ? keep : 0;
}

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
  // Through a link the file it names is replaced, beside itself: the link stays a link.
  target = final_path(target_path);
  if (target == nullptr) {
    error_number = errno;
    return false;
  }
  const std::int64_t length = length_of(target);
  const std::int64_t folder = name_start(target, length);
  const std::int64_t kept = folder + name_kept(length, length - folder);
  temp_path = static_cast<char*>(brol_alloc(kept + k_added + 1));
  if (temp_path == nullptr) {
    error_number = ENOMEM;
    abort();
    return false;
  }
  std::memcpy(temp_path, target, static_cast<std::size_t>(kept));
  temp_path[kept] = '.';
  std::memcpy(temp_path + kept + 1 + k_random_letters, k_suffix, sizeof k_suffix);
  for (int attempt = 0; attempt < k_attempts; ++attempt) {
    brol_random_alnum(temp_path + kept + 1, k_random_letters);
    handle = brol_os.file_create_like(temp_path, target);
    if (handle != brol_invalid_file) {
      error_number = 0;
      return true;
    }
    if (errno != EEXIST) {
      break;
    }
  }
  error_number = errno;
  // Nothing was created: abort must not remove a name that another writer holds.
  brol_free(temp_path);
  temp_path = nullptr;
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
  // The handle is gone after either call, even a failed one: it is never closed twice. The
  // replacement goes through the handle, so that a name swapped meanwhile is never renamed.
  const bool replaced = flushed ? brol_os.file_replace(handle, temp_path, target) : brol_os.file_close(handle);
  handle = brol_invalid_file;
  if (!flushed || !replaced) {
    error_number = flushed ? errno : flush_error;
    errno = error_number;
    abort();
    return false;
  }
  error_number = 0;
  brol_free(temp_path);
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
  brol_free(temp_path);
  brol_free(target);
  target = nullptr;
  temp_path = nullptr;
  handle = brol_invalid_file;
  errno = saved;
}
