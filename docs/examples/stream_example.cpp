// Examples of the API reference's start page: streams.
#include "brol/container/brol_scoped.h"
#include "brol/stream/brol_stream.h"
#include "brol/string/brol_string.h"

// [streams]
// Writes two lines to path and reads them back; the lines read come back in out, joined by '|'.
bool example_stream(const char* path, brol_string& out) {
  brol_scoped<brol_stream> file(8192);  // init(8192): the buffer size; destroy closes the file
  if (!file.open(path, brol_open_write | brol_open_create)) return false;  // status, error_number say why
  file.write_text("first line\n");
  file.write_format("second line: ", brol_fmt_int, 4, 2, "\n");
  if (!file.close(false) || !file.open(path, brol_open_read)) return false;
  brol_scoped<brol_string> line;
  while (line.read_line(file) != 0) {  // the line without its LF
    if (!out.is_empty()) out.append_char('|');
    out.append_string(line);
    line.assign("");
  }
  return file.status == brol_stream_ok || file.status == brol_stream_end_of_data;
}
// [streams]
