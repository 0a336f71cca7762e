// Examples of the API reference's start page: HTTP.
#include <cstdint>

#include "brol/container/brol_scoped.h"
#include "brol/net/brol_httpget.h"
#include "brol/stream/brol_stream.h"
#include "brol/string/brol_string.h"

// [http]
// Fetches /status from host:port into out, and then the same document into the file file_name.
// (On Windows the program starts the socket library with WSAStartup first; the library never does.)
bool example_http(const char* host, std::uint16_t port, const char* file_name, brol_string& out) {
  brol_scoped<brol_stream> answer(4096);
  if (!brol_httpget(host, "status", answer, port)) return false;  // the reason went to the logger
  brol_scoped<brol_string> line;
  while (line.read_until(answer, "") > 0) {  // no terminator: the body up to its end
    out.append_string(line);
    line.assign("");
  }
  return brol_httpget_file(host, "status", file_name, port);  // the whole body or no change
}
// [http]
