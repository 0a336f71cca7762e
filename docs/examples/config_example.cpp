// Examples of the API reference's start page: configuration files.
#include "brol/config/brol_config.h"
#include "brol/container/brol_scoped.h"
#include "brol/string/brol_string.h"

// [configuration]
// Reads [server] port from the file at path (5500 when the key is missing, refused when it is
// empty), stores the port it used back and saves the file with its other lines as they were.
int example_config(const char* path) {
  brol_scoped<brol_config> settings;
  if (!settings.load(path)) return -1;  // missing, unreadable, or out of memory
  const char* port = settings.find("server", "port", '=');  // null: no such key
  if (port != nullptr && *port == '\0') return -2;            // "port =" with no value
  brol_scoped<brol_string> used(port != nullptr ? port : "5500");  // copied: port points into a line
  if (!settings.set("server", "used_port", used.c_str(), '=', brol_cfg_unquoted)) return -3;
  return settings.save(nullptr) ? 0 : -4;  // replaces the file whole or leaves it as it was
}
// [configuration]
