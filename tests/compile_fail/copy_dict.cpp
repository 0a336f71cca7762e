// Two dictionaries would own the same entries, which name the first one's embedded root table.
#include "brol/container/brol_dict.h"

void copy_row(brol_dict<int>& d) {
#ifdef BROL_COMPILE_FAIL
  brol_dict<int> e = d;
#else
  brol_dict<int> e;
  e.init();
  e.swap(d);
#endif
  e.destroy();
}
