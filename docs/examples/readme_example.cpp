// The example of the README's "Using the library", shown there between the markers and run by the test
// of the examples, which also checks that the README still shows it as it stands here.
// [readme]
#include <cstdint>

#include "brol/config/brol_config.h"
#include "brol/container/brol_scoped.h"
#include "brol/string/brol_string.h"

// One line of a report from a settings file: "ID   301: 12 sessions, 37.5%". False when the file
// cannot be read or an allocation failed; line then holds what was made before.
bool report_line(const char* settings_path, std::int32_t sessions, double share, brol_string& line) {
  brol_scoped<brol_config> settings;                     // init, and destroy at the end of the scope
  if (!settings.load(settings_path)) return false;       // missing, unreadable, or out of memory
  const char* id = settings.find("session", "id", '=');  // null (read as empty): no such key
  line.assign("ID ");
  line.append_format(brol_fmt_right, 5, id, ": ",               // a text right-aligned in 5 columns
                     brol_fmt_int, 4, sessions, " sessions, ",  // size code 4: a 32-bit integer
                     brol_fmt_frac, 1, 1,                       // at least and at most 1 fraction digit
                     brol_fmt_float, 8, share * 100.0, "%");    // size code 8: a double
  return line.error == 0;
}
// [readme]
