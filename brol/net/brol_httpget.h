// A minimal HTTP/1.0 client: one GET, the status line checked, the header skipped, the body left in
// a stream or stored in a file.
#pragma once

#include <cstdint>

#include "brol/stream/brol_stream.h"

// The port of brol_httpget and brol_httpget_file when none is given.
inline constexpr std::uint16_t brol_http_port = 80;
// The most bytes the status line and the header may take together, their line ends included.
inline constexpr std::int64_t brol_http_head_limit = 65536;

// Connects stream (constructed; its buffer size is the caller's choice) to port of host (a name or
// a numeric address text) and sends "GET /<path> HTTP/1.0" with a Host header naming host (and the
// port when it is not 80; an IPv6 text in brackets). path is the document's path without its leading
// slash; null counts as empty. The response is accepted when its first 18 bytes (CR left out)
// contain "200"; the rest of the status line and the header, up to and including its first empty
// line (CR ignored, also right after the status line), are skipped. True leaves the stream
// connected at the first byte of the body, which the caller reads to the end of the data and closes.
// False logs one message through the logger at level 4 with error number 0:
//   "could not send" for a host or path holding a byte below 0x20 (refused before connecting, so no
//   caller text can add request lines) or a request that cannot be written;
//   "could not connect to '<host>'"; "could not get first line" when nothing arrives;
//   "first line was '<first 18 bytes>'" for another status or a malformed answer;
//   "could not get body" when the answer ends or fails inside the header, or when the status line
//   and the header together take more than brol_http_head_limit bytes (so a server that sends an
//   endless header cannot keep the caller reading; the status is still checked first).
// There are no redirects and no chunked decoding. time_limit_ms > 0 bounds the whole download: the
// stream's time limit (set_time_limit) is set before connecting and stays, so connect, status line,
// header and the caller's reads of the body all end by then; past it a call fails as a failed read
// does (logged as above for the step it stopped). 0 or less: no limit (one left on the stream is
// lifted; the watch serves).
bool brol_httpget(const char* host, const char* path, brol_stream& stream, std::uint16_t port = brol_http_port,
                  std::int64_t time_limit_ms = 0) noexcept;

// Downloads the body of the document into the file file_name. The body goes into a new file beside
// it, which replaces file_name only when the whole body has arrived (the server closed the
// connection normally) and was written. On any failure (no connection, status other than 200, a
// read failure or reset during the body, a write failure, or the file cannot be made) the result
// is false, an existing file_name is untouched and no partial file remains; where there was no file
// before, there is none after. Failures of brol_httpget are logged as it logs them; the others are
// not logged. The connection is read through a 2 MiB buffer. time_limit_ms > 0 bounds the whole
// download (connect, header and body) as for brol_httpget: a download that has not ended by then
// fails, with file_name as it was.
bool brol_httpget_file(const char* host, const char* path, const char* file_name, std::uint16_t port = brol_http_port,
                       std::int64_t time_limit_ms = 0) noexcept;
