// Maildir delivery: streams opened on new files with names unique in a maildir-style directory.
#include <atomic>
#include <cerrno>
#include <cstdio>

#include "brol/platform/brol_alloc.h"
#include "brol/stream/brol_stream.h"
#include "brol/stream/brol_stream_detail.h"
#include "brol/text/brol_random.h"

namespace {

constexpr int path_room = 512;
constexpr int random_name_length = 12;
// Far beyond any real run of taken names; a directory that answers "taken" to everything ends here.
constexpr int max_attempts = 1000;

// The process's delivery counter, advanced once per name of style 1.
std::atomic<std::int32_t> delivery_counter{0};

// snprintf into a 512-byte area: false when the text was cut (or could not be formatted).
template <class... Arguments>
bool format_path(char (&out)[path_room], const char* format, Arguments... arguments) {
  const int n = std::snprintf(out, sizeof out, format, arguments...);
  return n >= 0 && n < path_room;
}

bool exists(const char* path) {
  brol_file_status info{};
  return brol_os.file_stat(path, &info);
}

bool make_name(int style, char (&out)[path_room]) {
  if (style != 1) {
    return format_path(out, "%s", brol_random_text(random_name_length));
  }
  const std::int32_t counter = delivery_counter.fetch_add(1) + 1;
  char host[path_room];
  if (!brol_os.host_name(host, sizeof host)) {
    std::snprintf(host, sizeof host, "%s", "localhost");
  }
  const auto seconds = static_cast<std::int32_t>(static_cast<std::uint32_t>(brol_os.time_now()));
  return format_path(out, "%ld.%lu.%ld.%s.", static_cast<long>(seconds),
                     static_cast<unsigned long>(brol_os.process_id()), static_cast<long>(counter), host);
}

bool too_long(brol_stream& s) {
  s.error_number = ENAMETOOLONG;
  s.status = brol_stream_open_failed;
  return false;
}

enum class attempt { opened, taken, failed };

attempt name_too_long(brol_stream& s) {
  too_long(s);
  return attempt::failed;
}

// Tries one name: taken when new/ or cur/ holds it or the target has it (found by the check, or by
// the exclusive creation when flags create).
attempt try_name(brol_stream& s, int style, std::uint16_t flags, const char* directory, const char* subdirectory) {
  char name[path_room];
  char path[path_room];
  if (!make_name(style, name) || !format_path(path, "%s/new/%s", directory, name)) {
    return name_too_long(s);
  }
  if (exists(path)) {
    return attempt::taken;
  }
  if (!format_path(path, "%s/cur/%s", directory, name)) {
    return name_too_long(s);
  }
  if (exists(path)) {
    return attempt::taken;
  }
  if (!format_path(path, "%s%s%s/%s", directory, *subdirectory != '\0' ? "/" : "", subdirectory, name)) {
    return name_too_long(s);
  }
  const bool creates = (flags & (brol_open_create | brol_open_truncate)) != 0;
  if (!creates && exists(path)) {
    return attempt::taken;
  }
  if (brol::detail::stream_open(s, path, flags, creates)) {
    return attempt::opened;
  }
  return creates && s.error_number == EEXIST ? attempt::taken : attempt::failed;
}

}  // namespace

const char* brol_random_text(int n) noexcept {
  thread_local char area[32];
  if (n < 1 || n > 31) {
    n = 31;
  }
  brol_random_alnum(area, n);
  area[n] = '\0';
  return area;
}

bool brol_stream::open_maildir_file(int name_style, std::uint16_t flags, const char* directory,
                                    const char* subdirectory) noexcept {
  brol::detail::stream_close(*this, false);
  brol_free(address);
  address = nullptr;
  directory = directory != nullptr ? directory : "";
  subdirectory = subdirectory != nullptr ? subdirectory : "";
  char target[path_room];
  const bool fits = *subdirectory != '\0' ? format_path(target, "%s/%s", directory, subdirectory)
                                          : format_path(target, "%s", directory);
  if (!fits) {
    return too_long(*this);
  }
  if (!exists(target)) {
    error_number = errno;
    status = brol_stream_no_directory;
    return false;
  }
  for (int i = 0; i < max_attempts; ++i) {
    const attempt result = try_name(*this, name_style, flags, directory, subdirectory);
    if (result != attempt::taken) {
      return result == attempt::opened;
    }
  }
  error_number = EEXIST;
  status = brol_stream_open_failed;
  return false;
}
