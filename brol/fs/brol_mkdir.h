// Directory creation with every missing parent (like a recursive mkdir), and what a path names.
//
// Paths follow the system's syntax (brol_path_separator in brol/platform/brol_platform.h). In the
// Windows build only the backslash separates components (a forward slash is an ordinary character),
// "C:\" is a drive's root and "C:" a drive; in the POSIX build '/' separates, "/" is the root and
// there are no drive letters, so "C:" and "Q:\x" are ordinary relative names. Failures are logged at
// level 1 through the logger (brol/log/brol_log.h) from the source "brol_mkdir".
#pragma once

#include <cstdint>

// Creates the directory path and every missing directory above it. Separators at the end are
// ignored ("a\b\" creates a\b), except the one of a root ("\", "C:\" or "/"). True when path is a
// directory afterwards, also when it already was or when another process created some part
// meanwhile. False, logged: a null or empty path ("brol_mkdir(%s) wrong parameter", EINVAL), no
// memory for the private copy of the path (error ENOMEM, logged as its error text at level 3), or
// what brol_mkdir_step reports. Directories created before a failure stay.
bool brol_mkdir(const char* path) noexcept;

// The step of brol_mkdir, on a writable path that it cuts and restores in place: an empty (or null)
// path is true; an existing directory is true; an existing non-directory is false, logged as
// "mkdir(%s) is a file" with ENOTDIR. Otherwise the part before the last separator (and any
// separators directly before it) is made first, unless that separator follows a drive ("C:\x"),
// then path itself is created; a failure is logged as "mkdir(%s) could not create directory, %s"
// with the system's error number, translated, and its text. On success path is as it was; after a
// failure above path it is left cut at the separator below the failing part.
bool brol_mkdir_step(char* path) noexcept;

// What path names: 0 nothing (also for a null or empty path), 1 a regular file, 2 a directory. In
// the Windows build a drive letter with its colon and nothing else ("c:") gives 2 when the drive is
// in use (GetLogicalDrives) and 0 when not, without looking at the file system.
int brol_path_kind(const char* path) noexcept;
