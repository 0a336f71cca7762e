// Two records would each remove the one temporary file.
#include "brol/fs/brol_replace_file.h"

#ifdef BROL_COMPILE_FAIL
brol_replace_file keep(brol_replace_file& r) { return r; }
#else
brol_replace_file& keep(brol_replace_file& r) { return r; }
#endif
