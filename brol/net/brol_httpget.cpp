// HTTP GET: one HTTP/1.0 request over a stream socket, the answer's body into a stream or a file.
#include "brol/net/brol_httpget.h"

#include <cstring>

#include "brol/fs/brol_replace_file.h"
#include "brol/log/brol_log.h"

namespace {

constexpr std::int64_t connection_buffer_size = 2097152;
constexpr std::int64_t file_buffer_size = 8192;
// The part of the status line that is examined and logged.
constexpr int status_text_length = 18;

// A text that goes into the request must not hold CR, LF or any other control byte: it could end
// the request line early and add lines of the caller's choosing.
bool fits_request(const char* text) {
  for (const unsigned char* p = reinterpret_cast<const unsigned char*>(text); *p != '\0'; ++p) {
    if (*p < 0x20) {
      return false;
    }
  }
  return true;
}

bool send_request(brol_stream& s, const char* host, const char* path, std::uint16_t port) {
  // An IPv6 address text is bracketed in the Host header, where its colons would read as a port.
  const bool bracket = std::strchr(host, ':') != nullptr;
  const char* open = bracket ? "[" : "";
  const char* close = bracket ? "]" : "";
  if (port == brol_http_port) {
    return s.write_printf("GET /%s HTTP/1.0\r\nHost: %s%s%s\r\n\r\n", path, open, host, close);
  }
  return s.write_printf("GET /%s HTTP/1.0\r\nHost: %s%s%s:%u\r\n\r\n", path, open, host, close,
                        static_cast<unsigned>(port));
}

enum class status_line { none, read, cut_off };

// Reads the status line through its LF, keeping its first 18 bytes (CR left out) in text and counting
// every byte taken against *budget. none: nothing arrived; cut_off: the data ended, or the budget ran
// out, before the LF.
status_line read_status_line(brol_stream& s, char (&text)[status_text_length + 1], std::int64_t* budget) {
  int consumed = 0;
  int stored = 0;
  for (;;) {
    const std::uint16_t c = *budget > 0 ? s.get_byte() : static_cast<std::uint16_t>(brol_stream_end_of_data);
    if (c > 512) {
      text[stored] = '\0';
      return consumed == 0 && *budget > 0 ? status_line::none : status_line::cut_off;
    }
    --*budget;
    if (c == '\n') {
      text[stored] = '\0';
      return status_line::read;
    }
    if (consumed++ < status_text_length && c != '\r') {
      text[stored++] = static_cast<char>(c);
    }
  }
}

// Skips header lines up to and including the first empty one (CR ignored), every byte counted against
// *budget. False when the data ends or fails, or the budget runs out, first.
bool skip_header(brol_stream& s, std::int64_t* budget) {
  std::int64_t length = 0;
  for (; *budget > 0; --*budget) {
    const std::uint16_t c = s.get_byte();
    if (c > 512) {
      return false;
    }
    if (c == '\n') {
      if (length == 0) {
        --*budget;
        return true;
      }
      length = 0;
    } else if (c != '\r') {
      ++length;
    }
  }
  return false;
}

}  // namespace

bool brol_httpget(const char* host, const char* path, brol_stream& stream, std::uint16_t port,
                  std::int64_t time_limit_ms) noexcept {
  host = host != nullptr ? host : "";
  path = path != nullptr ? path : "";
  if (!fits_request(host) || !fits_request(path)) {
    BROL_LOG(4, 0, "could not send");
    return false;
  }
  // 0 lifts a limit the record may still hold from an earlier use.
  stream.set_time_limit(time_limit_ms);
  if (!stream.connect(host, port)) {
    BROL_LOG(4, 0, "could not connect to '%s'", host);
    return false;
  }
  if (!send_request(stream, host, path, port)) {
    BROL_LOG(4, 0, "could not send");
    return false;
  }
  char first[status_text_length + 1];
  std::int64_t budget = brol_http_head_limit;
  const status_line got = read_status_line(stream, first, &budget);
  if (got == status_line::none) {
    BROL_LOG(4, 0, "could not get first line");
    return false;
  }
  if (std::strstr(first, "200") == nullptr) {
    BROL_LOG(4, 0, "first line was '%s'", first);
    return false;
  }
  if (got == status_line::cut_off || !skip_header(stream, &budget)) {
    BROL_LOG(4, 0, "could not get body");
    return false;
  }
  return true;
}

namespace {

// Copies the body into the replacement file; true when all of it arrived and was written.
bool store_body(brol_stream& connection, brol_replace_file& target, const char* file_name) {
  brol_stream file;
  file.init(file_buffer_size);
  bool ok = file.attach_file(target.handle, file_name) && file.copy_all(connection);
  // Detached: the replacement record owns the handle and closes it itself.
  ok = file.close(true) && ok;
  file.destroy();
  return ok;
}

}  // namespace

bool brol_httpget_file(const char* host, const char* path, const char* file_name, std::uint16_t port,
                       std::int64_t time_limit_ms) noexcept {
  brol_replace_file target;
  target.init();
  if (!target.begin(file_name)) {
    target.destroy();
    return false;
  }
  brol_stream connection;
  connection.init(connection_buffer_size);
  const bool downloaded =
      brol_httpget(host, path, connection, port, time_limit_ms) && store_body(connection, target, file_name);
  connection.destroy();
  const bool ok = downloaded && target.commit();
  target.destroy();  // removes the new file unless it took the target's place
  return ok;
}
