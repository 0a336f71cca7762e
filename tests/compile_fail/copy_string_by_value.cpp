// A string passed by value is a copy: the callee's destroy would free the caller's buffer.
#include "brol/string/brol_string.h"

#ifdef BROL_COMPILE_FAIL
void take(brol_string s) { s.destroy(); }
#else
void take(brol_string& s) { s.destroy(); }
#endif

void copy_row(brol_string& s) { take(s); }
