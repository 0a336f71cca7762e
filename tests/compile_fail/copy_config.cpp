// A configuration or one of its sections copied by the language would share its lines.
#include "brol/config/brol_config.h"

void copy_row(brol_config& c) {
#ifdef BROL_COMPILE_FAIL
  brol_config_section lines = c.global;
#else
  brol_config_section& lines = c.global;
#endif
  lines.clear();
}
