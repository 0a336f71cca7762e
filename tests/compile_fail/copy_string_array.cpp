// Two arrays would own the same elements.
#include "brol/string/brol_string_array.h"

void copy_row(brol_string_array& a, brol_string_array& b) {
#ifdef BROL_COMPILE_FAIL
  b = a;
#else
  (void)a;
  b.destroy();
#endif
}
