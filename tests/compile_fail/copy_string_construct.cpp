// A string initialised from another by the language would share its buffer and free it twice.
#include "brol/string/brol_string.h"

void copy_row(brol_string& s) {
#ifdef BROL_COMPILE_FAIL
  brol_string t = s;
#else
  brol_string t;
  t.init_copy(s);
#endif
  t.destroy();
}
