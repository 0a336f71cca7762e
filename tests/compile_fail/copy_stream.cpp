// Two streams would close one handle and free one buffer twice.
#include "brol/stream/brol_stream.h"

void copy_row(brol_stream& s) {
#ifdef BROL_COMPILE_FAIL
  brol_stream t(s);
#else
  brol_stream t;
  t.init(s.buffer_size);
#endif
  t.destroy();
}
