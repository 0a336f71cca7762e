// The console's settings: the example, the line-by-line check that names a wrong line, and the values
// taken through the library's configuration type.
#include "technician/technician_settings.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "brol/config/brol_config.h"
#include "brol/container/brol_scoped.h"
#include "brol/platform/brol_platform.h"
#include "brol/stream/brol_stream.h"

namespace {

constexpr const char* k_example =
    "# The technician's console: which ID's connections arrive where, and the viewer each session starts.\n"
    "# Lines are \"key = value\"; a line that begins with '#' is a comment. A wrong line stops the console\n"
    "# with its number.\n"
    "\n"
    "[console]\n"
    "# The VNC viewer, started once per session in its normal (connecting) mode. A path with blanks goes\n"
    "# between double quotes.\n"
    "viewer = vncviewer\n"
    "# Its arguments, separated by blanks; {port} becomes the one-time port on 127.0.0.1 that the\n"
    "# console opens for this viewer alone.\n"
    "arguments = -ReconnectOnError=0 -AlertOnFatalError=0 127.0.0.1::{port}\n"
    "# The journal: one line per event (relative paths are beside this file).\n"
    "journal = technician-journal.log\n"
    "# Seconds a started viewer may take to connect before its session is ended.\n"
    "viewer_wait = 20\n"
    "\n"
    "[ids]\n"
    "# ID = the loopback port to which the tunnel server of that ID hands its connections\n"
    "# (its \"connect = 127.0.0.1:PORT\", with \"protocol = proxy\").\n"
    "301 = 5901\n";

constexpr std::int64_t k_line_room = 4096;

struct check_state {
  std::string file;  // the name used in messages
  std::string section;
  bool seen[4] = {false, false, false, false};  // viewer, arguments, journal, viewer_wait
  std::vector<std::string> ids;
  std::vector<long> ports;
  int sections_seen = 0;
};

constexpr const char* k_console_keys[4] = {"viewer", "arguments", "journal", "viewer_wait"};

std::string trimmed(const char* begin, const char* end) {
  while (begin < end && (*begin == ' ' || *begin == '\t')) {
    ++begin;
  }
  while (end > begin && (end[-1] == ' ' || end[-1] == '\t')) {
    --end;
  }
  return std::string(begin, end);
}

// The value as the configuration type reads it: after the blanks, between quotes or the rest.
std::string value_of(const char* after_separator) {
  while (*after_separator == ' ' || *after_separator == '\t') {
    ++after_separator;
  }
  if (*after_separator != '"') {
    return after_separator;
  }
  const char* close = std::strchr(after_separator + 1, '"');
  return close ? std::string(after_separator + 1, close) : std::string(after_separator + 1);
}

bool is_digits(const std::string& text, std::size_t most) {
  if (text.empty() || text.size() > most) {
    return false;
  }
  for (char c : text) {
    if (c < '0' || c > '9') {
      return false;
    }
  }
  return true;
}

// A number of at most 9 digits within [low, high], or -1.
long number_in(const std::string& text, long low, long high) {
  if (!is_digits(text, 9)) {
    return -1;
  }
  const long n = std::strtol(text.c_str(), nullptr, 10);
  return n >= low && n <= high ? n : -1;
}

bool check_console_line(check_state& state, const std::string& key, const std::string& value, std::string* why) {
  int which = -1;
  for (int i = 0; i < 4; ++i) {
    if (key == k_console_keys[i]) {
      which = i;
    }
  }
  if (which < 0) {
    *why = "unknown key \"" + key + "\" in [console] (known: viewer, arguments, journal, viewer_wait)";
  } else if (state.seen[which]) {
    *why = "\"" + key + "\" is given twice";
  } else if (value.empty()) {
    *why = "\"" + key + "\" has no value";
  } else if (which == 1 && value.find("{port}") == std::string::npos) {
    *why = "the viewer's arguments lack {port}, the one-time port it must connect to";
  } else if (which == 3 && number_in(value, 1, 3600) < 0) {
    *why = "viewer_wait must be a number of seconds from 1 to 3600, not \"" + value + "\"";
  }
  if (which >= 0) {
    state.seen[which] = true;
  }
  return why->empty();
}

bool check_id_line(check_state& state, const std::string& key, const std::string& value, std::string* why) {
  const long port = number_in(value, 1, 65535);
  if (!is_digits(key, 9)) {
    *why = "an ID is 1 to 9 digits, not \"" + key + "\"";
  } else if (port < 0) {
    *why = "the port of ID " + key + " must be a number from 1 to 65535, not \"" + value + "\"";
  } else {
    for (std::size_t i = 0; i < state.ids.size(); ++i) {
      if (state.ids[i] == key) {
        *why = "ID " + key + " is given twice";
      } else if (state.ports[i] == port) {
        *why = "port " + value + " is given to ID " + state.ids[i] + " already";
      }
    }
  }
  state.ids.push_back(key);
  state.ports.push_back(port);
  return why->empty();
}

// One line, trimmed; *why stays empty when it is right.
void check_line(check_state& state, const std::string& line, std::string* why) {
  if (line.empty() || line[0] == '#') {
    return;
  }
  if (line[0] == '[') {
    const std::size_t close = line.find(']');
    const std::string name = close == std::string::npos ? "" : line.substr(1, close - 1);
    if (close == std::string::npos || close + 1 != line.size() || (name != "console" && name != "ids")) {
      *why = "not a section of these settings: " + line + " (sections: [console], [ids])";
    }
    state.section = name;
    ++state.sections_seen;
    return;
  }
  if (line[0] == ';') {
    *why = "comments begin with '#'";
    return;
  }
  const std::size_t eq = line.find('=');
  if (eq == std::string::npos) {
    *why = "not a \"key = value\" line";
  } else if (state.section.empty()) {
    *why = "a setting before the first section ([console] or [ids])";
  } else if (state.section == "console") {
    check_console_line(state, trimmed(line.data(), line.data() + eq), value_of(line.c_str() + eq + 1), why);
  } else {
    check_id_line(state, trimmed(line.data(), line.data() + eq), value_of(line.c_str() + eq + 1), why);
  }
}

std::string system_reason(int number) {
  const char* text = brol_platform_error_text(number);
  return text ? text : "error " + std::to_string(number);
}

// Reads the file line by line and checks every line with its number.
bool check_file(const char* path, check_state& state, std::string* error) {
  brol_scoped<brol_stream> file(k_line_room);
  if (!file.open(path, brol_open_read)) {
    *error = "cannot read the settings " + std::string(path) + ": " + system_reason(file.error_number);
    return false;
  }
  std::vector<char> line(k_line_room);
  for (long number = 1; file.get_line(line.data(), k_line_room); ++number) {
    const char* text = line.data();
    if (number == 1 && std::memcmp(text, "\xEF\xBB\xBF", 3) == 0) {
      text += 3;  // a byte order mark, which the configuration type sets aside too
    }
    std::string why;
    check_line(state, trimmed(text, text + std::strlen(text)), &why);
    if (!why.empty()) {
      *error = state.file + " line " + std::to_string(number) + ": " + why;
      return false;
    }
  }
  if (file.status == brol_stream_io_failed) {
    *error = "cannot read the settings " + std::string(path) + ": " + system_reason(file.error_number);
    return false;
  }
  if (state.ids.empty()) {
    *error = state.file + ": no ID in [ids] (lines \"ID = PORT\")";
    return false;
  }
  return true;
}

std::vector<std::string> split_blanks(const std::string& text) {
  std::vector<std::string> out;
  std::size_t i = 0;
  while (i < text.size()) {
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) {
      ++i;
    }
    const std::size_t start = i;
    while (i < text.size() && text[i] != ' ' && text[i] != '\t') {
      ++i;
    }
    if (i > start) {
      out.push_back(text.substr(start, i - start));
    }
  }
  return out;
}

// The values, through the configuration type (the lines were checked before).
bool take_values(const char* path, tech_settings* out, std::string* error) {
  brol_scoped<brol_config> config;
  if (!config.load(path)) {
    *error = "cannot read the settings " + std::string(path) + ": " + system_reason(errno);
    return false;
  }
  auto value = [&](const char* key, const char* fallback) {
    const char* found = config.find("console", key, '=');
    return std::string(found ? found : fallback);
  };
  out->viewer = value("viewer", "vncviewer");
  out->arguments = split_blanks(value("arguments", "-ReconnectOnError=0 -AlertOnFatalError=0 127.0.0.1::{port}"));
  out->journal = value("journal", "technician-journal.log");
  out->viewer_wait_seconds = std::strtol(value("viewer_wait", "20").c_str(), nullptr, 10);
  brol_scoped<brol_list<brol_string>> keys;
  config.keys("ids", keys);
  out->ids.clear();
  brol_list_iter<brol_string> it;
  for (it.begin(keys); it.value() != nullptr; it.advance()) {
    brol_scoped<brol_string> key;
    key.assign_trimmed_copy(*it.value());
    const char* port = config.get("ids", key.c_str(), '=');
    out->ids.push_back({key.c_str(), static_cast<std::uint16_t>(std::strtol(port, nullptr, 10))});
  }
  return true;
}

}  // namespace

bool tech_settings_load(const char* path, tech_settings* out, std::string* error) {
  check_state state;
  state.file = path;
  const std::size_t slash = state.file.find_last_of("/\\");
  if (slash != std::string::npos) {
    state.file.erase(0, slash + 1);
  }
  return check_file(path, state, error) && take_values(path, out, error);
}

bool tech_settings_write_example(const char* path, std::string* error) {
  brol_scoped<brol_stream> file(4096);
  if (!file.open(path, brol_open_write | brol_open_create) || !file.write_text(k_example) || !file.close(false)) {
    *error = "cannot write the example settings " + std::string(path) + ": " + system_reason(file.error_number);
    return false;
  }
  return true;
}

const char* tech_settings_example_text() { return k_example; }

std::vector<std::string> tech_viewer_arguments(const tech_settings& settings, std::uint16_t port) {
  std::vector<std::string> out;
  const std::string number = std::to_string(port);
  for (std::string argument : settings.arguments) {
    for (std::size_t at = argument.find("{port}"); at != std::string::npos; at = argument.find("{port}", at)) {
      argument.replace(at, 6, number);
      at += number.size();
    }
    out.push_back(argument);
  }
  return out;
}

std::string tech_journal_path(const std::string& journal, const std::string& settings_path) {
  const bool absolute =
      !journal.empty() && (journal[0] == '/' || journal[0] == '\\' || (journal.size() > 1 && journal[1] == ':'));
  const std::size_t slash = settings_path.find_last_of("/\\");
  if (absolute || slash == std::string::npos) {
    return journal;
  }
  return settings_path.substr(0, slash + 1) + journal;
}
