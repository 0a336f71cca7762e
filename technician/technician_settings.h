// The console's settings: which loopback port serves each ID, the viewer and its arguments, the
// journal's file and how long a viewer may take to connect, read from an INI file.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// One ID the console serves: the tunnel server hands that ID's connections to 127.0.0.1:port.
struct tech_id_port {
  std::string id;
  std::uint16_t port;
};

struct tech_settings {
  std::vector<tech_id_port> ids;       // in file order, at least one, no ID or port twice
  std::string viewer;                  // the viewer program (a path, or a name the system looks up)
  std::vector<std::string> arguments;  // the viewer's arguments; "{port}" stands for the one-time port
  std::string journal;                 // the journal's file; relative to the settings file's folder
  std::int64_t viewer_wait_seconds;    // how long a started viewer may take to connect (1 to 3600)
};

// Reads the settings file at path. Every content line must be a known section header ([console],
// [ids]), a known key of [console] (viewer, arguments, journal, viewer_wait) given once, or in [ids]
// "ID = PORT" with an ID of 1 to 9 digits and a port of 1 to 65535, neither given twice. Missing
// [console] keys take the defaults of the example. False with *error a one-line reason that names
// the line ("technician.ini line 7: ...") or the file; *out is then unspecified.
bool tech_settings_load(const char* path, tech_settings* out, std::string* error);

// Writes the commented example to path (replacing a file there). False with *error the reason.
bool tech_settings_write_example(const char* path, std::string* error);

// The example's text (what tech_settings_write_example writes).
const char* tech_settings_example_text();

// The viewer's arguments with every "{port}" replaced by the one-time port.
std::vector<std::string> tech_viewer_arguments(const tech_settings& settings, std::uint16_t port);

// The journal's path: journal itself when absolute, else beside the settings file at settings_path.
std::string tech_journal_path(const std::string& journal, const std::string& settings_path);
