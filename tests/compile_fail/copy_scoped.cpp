// A self-releasing record is neither copied nor moved: its destructor would release it twice.
#include <utility>

#include "brol/container/brol_scoped.h"
#include "brol/string/brol_string.h"

void copy_row() {
  brol_scoped<brol_string> s("text");
#ifdef BROL_COMPILE_FAIL
  brol_scoped<brol_string> t = std::move(s);
#else
  brol_scoped<brol_string> t;
  t.swap(s);
#endif
}
