// Examples of the API reference's start page: directories.
#include "brol/container/brol_scoped.h"
#include "brol/fs/brol_mkdir.h"
#include "brol/string/brol_string.h"

// [directories]
// Makes base/logs/2026 with every missing folder; the result is what the path then names.
int example_directories(const char* base) {
  brol_scoped<brol_string> path(base);
  path.append_path("logs");
  path.append_path("2026");
  if (path.error != 0 || !brol_mkdir(path.c_str())) return 0;  // failures go to the logger
  return brol_path_kind(path.c_str());                        // 2: a directory
}
// [directories]
