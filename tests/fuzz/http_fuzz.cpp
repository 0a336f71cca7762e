// HTTP GET against a loopback server of this program that answers with the fuzzer's bytes, read
// through system reads cut into random pieces. The answer is accepted exactly when its status line
// (the first 18 bytes, CR left out) holds "200" and an empty line ends the header; the body read from
// the stream is then the rest of the answer, byte for byte (a head past brol_http_head_limit is refused;
// the fuzzer's inputs reach that only with -max_len above 64 KiB).
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <thread>

#include "brol/net/brol_httpget.h"
#include "fuzz_check.h"
#include "http_model.h"

namespace {

std::uint64_t cut_state = 1;

std::int32_t cut_recv(brol_socket_handle socket, void* data, std::int32_t size) {
  cut_state ^= cut_state << 13;
  cut_state ^= cut_state >> 7;
  cut_state ^= cut_state << 17;
  if (size > 1) size = 1 + static_cast<std::int32_t>(cut_state % static_cast<std::uint64_t>(size));
  return brol_platform_defaults().socket_recv(socket, data, size);
}

// A listener on 127.0.0.1 with a port the system chose, made once.
int listener(std::uint16_t* port) {
  static std::uint16_t bound = 0;
  static const int fd = [] {
    const int s = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof a;
    FUZZ_CHECK(s >= 0 && bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 && listen(s, 4) == 0);
    FUZZ_CHECK(getsockname(s, reinterpret_cast<sockaddr*>(&a), &length) == 0);
    bound = ntohs(a.sin_port);
    return s;
  }();
  *port = bound;
  return fd;
}

// Takes one connection, reads the whole request (so that closing never resets it), sends the answer
// and closes.
void serve(int listening, const std::string& answer) {
  const int c = accept(listening, nullptr, nullptr);
  FUZZ_CHECK(c >= 0);
  std::string request;
  char chunk[512];
  while (request.find("\r\n\r\n") == std::string::npos) {
    const ssize_t n = recv(c, chunk, sizeof chunk, 0);
    if (n <= 0) break;
    request.append(chunk, static_cast<std::size_t>(n));
  }
  FUZZ_CHECK(request.starts_with("GET /doc HTTP/1.0\r\nHost: 127.0.0.1:"));
  for (std::size_t at = 0; at < answer.size();) {
    const ssize_t n = send(c, answer.data() + at, answer.size() - at, MSG_NOSIGNAL);
    if (n <= 0) break;  // the client has given up on this answer
    at += static_cast<std::size_t>(n);
  }
  shutdown(c, SHUT_WR);
  while (recv(c, chunk, sizeof chunk, 0) > 0) {
  }
  close(c);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz::input in(data, size);
  const std::int64_t buffer_size = 1 + in.byte() % 64;
  cut_state = in.u64() | 1;
  const std::string answer = in.rest();
  std::uint16_t port = 0;
  const int listening = listener(&port);
  std::thread server(serve, listening, answer);
  brol_os.socket_recv = cut_recv;
  brol_stream stream;
  stream.init(buffer_size);
  const bool ok = brol_httpget("127.0.0.1", "doc", stream, port);
  std::string body;
  std::int32_t count = 0;
  while (ok) {
    count = 100;
    const unsigned char* block = stream.get_block(&count);
    if (block == nullptr) break;
    body.append(reinterpret_cast<const char*>(block), static_cast<std::size_t>(count));
  }
  stream.destroy();
  brol_os.socket_recv = brol_platform_defaults().socket_recv;
  server.join();
  std::string expected;
  FUZZ_CHECK(ok == fuzz::expected_body(answer, &expected));
  FUZZ_CHECK(!ok || (count == brol_stream_end_of_data && body == expected));
  return 0;
}
