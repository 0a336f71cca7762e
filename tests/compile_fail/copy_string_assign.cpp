// Assigning one string to another by the language would leak the old buffer and share the new one.
#include "brol/string/brol_string.h"

void copy_row(brol_string& s, brol_string& t) {
#ifdef BROL_COMPILE_FAIL
  t = s;
#else
  t.assign_copy(s);
#endif
}
