// Two lists would own the same elements; swap exchanges contents instead.
#include "brol/container/brol_list.h"

void copy_row(brol_list<brol_string>& a, brol_list<brol_string>& b) {
#ifdef BROL_COMPILE_FAIL
  b = a;
#else
  b.swap(a);
#endif
}
