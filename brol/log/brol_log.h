// The logger: messages with a level, the caller's location and an error number, offered to an
// optional hook and appended as one line each to an optional log file.
//
// The using program configures it through the variables below and brol_log_level; with neither a file
// nor a hook nothing is logged. The variables are plain process-wide globals, read at every message:
// a change takes effect at the next message; set them before other threads log. Nothing that goes
// wrong in the logger is reported, and it never allocates memory, so running out of it can be logged.
//
// A file line is: the local date and time ("2026-12-06 01:58:45"), " (process id) ", brol_log_ident,
// the level's label, for levels 0 to 3 the location "[source function() line N] ", the message and a
// line feed. Levels 1 to 3 show as " FATAL: ", 0 as " DEBUG: ", 4 as " WARN: ", higher ones as ": ".
// Each line is written with one append to the end of the file, which stays shared for readers and
// other writers, so lines of several threads or processes never mix and none is lost to another.
#pragma once

#include <cstddef>
#include <cstdint>

// Levels by name; the numbers stay valid wherever a level or threshold is taken. A message passes a
// threshold when its level is at most the threshold, so debug (0) passes every threshold.
inline constexpr std::uint8_t brol_log_debug = 0;  // " DEBUG: ", with the location
inline constexpr std::uint8_t brol_log_fatal = 1;  // " FATAL: ", with the location (2 and 3 too)
inline constexpr std::uint8_t brol_log_warn = 4;   // " WARN: "
inline constexpr std::uint8_t brol_log_info = 5;   // ": ", the default thresholds
inline constexpr std::uint8_t brol_log_detail = 6; // ": ", the highest threshold brol_log_level sets

// Targets of brol_log_level.
inline constexpr std::uint8_t brol_log_to_both = 0;
inline constexpr std::uint8_t brol_log_to_file = 1;
inline constexpr std::uint8_t brol_log_to_hook = 2;

// Room of the entry's message: at most 2047 characters and the NUL.
inline constexpr std::size_t brol_log_message_size = 2048;

// One message, built on the logger's stack for one call and handed to the hook.
struct brol_log_entry {
  std::uint8_t level;                   // the message level (1 becomes 3 for an error-number message)
  std::int32_t error_number;            // the caller's error number, 0 for none
  char message[brol_log_message_size];  // the formatted message, NUL-terminated
  const char* function;                 // the caller's function name, never null ("" for none)
  const char* source;                   // the caller's source name, never null ("" for none)
  std::int64_t line;                    // the caller's source line
};

// A hook returns non-zero when it has taken the message; the file then sees nothing of it.
using brol_log_hook_function = std::int64_t (*)(const brol_log_entry* entry);

// Path of the log file, or null for no file output (default null). The file is opened for each line
// and closed again; it is created when missing.
extern const char* brol_log_file;
// First receiver of every message that passes brol_log_hook_level, or null (default null).
extern brol_log_hook_function brol_log_hook;
// Written after the process id in every file line; null counts as "" (the default).
extern const char* brol_log_ident;
// Thresholds: a message reaches the file or the hook when its level is at most this (default 5).
extern std::uint8_t brol_log_file_level;
extern std::uint8_t brol_log_hook_level;

// Logs one message. function and source name the caller (null counts as ""), line is its source
// line. The message is format applied to the arguments as printf does, cut at 2047 characters. A
// null format gives "unknown error", except at level 1 with a non-zero error_number: the message is
// then "error N: 'text'" with the runtime's text for that number, and the level becomes 3. The
// entry goes to the hook when one is set and the level passes brol_log_hook_level; unless the hook
// takes it, it is appended to brol_log_file when one is set and the level passes
// brol_log_file_level. In the file line, the source is cut at 38 characters and brol_log_ident and
// the function at 900, so that every line fits one 4 KiB area; errno is left as it was.
void brol_log(std::uint8_t level, const char* function, const char* source, std::int32_t line,
              std::int32_t error_number, const char* format, ...) noexcept __attribute__((format(gnu_printf, 6, 7)));

// Sets thresholds. level is first brought into range: 0 or less gives 0, 1 and 2 give 3, 3 to 6
// stay, above 6 gives 6. target 0 (brol_log_to_both) sets both thresholds, 1 (brol_log_to_file) the
// file's, 2 (brol_log_to_hook) the hook's; any other target sets nothing.
void brol_log_level(std::int64_t level, std::uint8_t target) noexcept;

namespace brol::detail {

template <std::size_t N>
struct log_source_text {
  char text[N];
};

// The base name of a source path without its folder ('/' or '\\') and extension, at compile time.
template <std::size_t N>
consteval log_source_text<N> log_source_name(const char (&path)[N]) {
  std::size_t start = 0;
  for (std::size_t i = 0; i + 1 < N; ++i) {
    if (path[i] == '/' || path[i] == '\\') {
      start = i + 1;
    }
  }
  std::size_t end = N - 1;
  for (std::size_t i = start + 1; i + 1 < N; ++i) {
    if (path[i] == '.') {
      end = i;
    }
  }
  log_source_text<N> name{};
  for (std::size_t i = start; i < end; ++i) {
    name.text[i - start] = path[i];
  }
  return name;
}

}  // namespace brol::detail

// Logs with the calling function's name, the base name of the source file without extension
// ("brol_mkdir" for brol/fs/brol_mkdir.cpp) and the line of the call:
// BROL_LOG(level, error_number, format, arguments...), format possibly nullptr.
#define BROL_LOG(level, error_number, ...)                                                                \
  do {                                                                                                    \
    static constexpr auto brol_log_source_ = ::brol::detail::log_source_name(__FILE__);                   \
    ::brol_log(static_cast<std::uint8_t>(level), __func__, brol_log_source_.text, __LINE__, error_number, \
               __VA_ARGS__);                                                                              \
  } while (false)
