// Examples of the API reference's start page: the string. The test of the examples runs them.
#include "brol/container/brol_scoped.h"
#include "brol/string/brol_string.h"

// [string]
// A settings path built from a trimmed user entry; the text comes back in out.
void example_string(brol_string& out) {
  brol_scoped<brol_string> name("  Fernwartung \t");  // init_from, and destroy at the end of the scope
  name.trim();                                        // "Fernwartung"
  name.lower_from(0);                                 // "fernwartung"
  out.assign("settings");
  out.append_path(name.c_str());                      // "settings/fernwartung" ('\' on Windows)
  out.append(".ini");
  out.append_printf(" (%lld bytes)", static_cast<long long>(out.length()));
  if (out.error != 0) {
    // an allocation failed somewhere above; out holds what was appended before it
  }
}
// [string]
