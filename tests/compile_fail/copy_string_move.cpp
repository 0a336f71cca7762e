// std::move does not make a copy safe: the record has no move constructor, init_move hands over.
#include <utility>

#include "brol/string/brol_string.h"

void copy_row(brol_string& s) {
#ifdef BROL_COMPILE_FAIL
  brol_string t = std::move(s);
#else
  brol_string t;
  t.init_move(s);
#endif
  t.destroy();
}
