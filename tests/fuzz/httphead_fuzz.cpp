// The head of an HTTP answer (status line and header) against a model, with heads far longer than
// the input: the answer is built from pieces repeated up to thousands of times, so that it reaches
// and passes the 64 KiB limit of the head. No network: the socket entries of the platform table are
// replaced by a peer that hands out the answer in pieces of the fuzzer's sizes and then ends or fails.
// Accepted exactly when the first 18 bytes of the status line (CR left out) hold "200", an empty line
// ends the header, and the head with its line ends takes at most brol_http_head_limit bytes; the body
// read from the stream is then the rest of the answer, byte for byte.
#include <cerrno>
#include <cstring>
#include <string>

#include "brol/net/brol_httpget.h"
#include "fuzz_check.h"
#include "http_model.h"

namespace {

struct fake_peer {
  std::string answer;
  std::size_t at = 0;
  std::string cuts;  // sizes of the successive receives, cycled
  std::size_t next_cut = 0;
  bool fails_at_end = false;
  std::string request;
} peer;

brol_socket_handle fake_open(int, int, int) { return 7; }
bool fake_connect(brol_socket_handle, const sockaddr*, int) { return true; }
bool fake_true(brol_socket_handle) { return true; }
bool fake_shutdown(brol_socket_handle, int) { return true; }

std::int32_t fake_send(brol_socket_handle, const void* data, std::int32_t size) {
  peer.request.append(static_cast<const char*>(data), static_cast<std::size_t>(size));
  return size;
}

std::int32_t fake_recv(brol_socket_handle, void* data, std::int32_t size) {
  if (peer.at == peer.answer.size()) {
    if (!peer.fails_at_end) return 0;
    errno = ECONNRESET;
    return -1;
  }
  std::size_t n = static_cast<std::size_t>(size);
  if (!peer.cuts.empty()) {
    // Long answers come in pieces of at least 64 bytes, so that an input stays well under a second.
    const std::size_t least = peer.answer.size() > 4096 ? 64 : 1;
    const std::size_t cut = least + static_cast<unsigned char>(peer.cuts[peer.next_cut++ % peer.cuts.size()]) * 97u;
    n = std::min(n, cut);
  }
  n = std::min(n, peer.answer.size() - peer.at);
  std::memcpy(data, peer.answer.data() + peer.at, n);
  peer.at += n;
  return static_cast<std::int32_t>(n);
}

// Answers stop growing here, three times the head limit: enough to pass it, little enough to stay fast.
constexpr std::size_t k_answer_max = 3 * static_cast<std::size_t>(brol_http_head_limit);

constexpr const char* k_pieces[] = {"HTTP/1.0 200 OK\r\n", "HTTP/1.1 404 Not found\r\n", "200", "\r\n", "\n", "\r",
                                    "X-Pad: ",             "aaaaaaaaaaaaaaaa",           " ",   ":", "body"};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz::input in(data, size);
  const std::int64_t buffer_size = 1 + static_cast<std::int64_t>(in.below(4096));
  peer = fake_peer{};
  peer.fails_at_end = in.byte() & 1;
  peer.cuts = in.text(8);
  // Pieces, each repeated 1 to 65536 times (two bytes), or a few raw bytes.
  for (std::size_t n = in.below(16); n > 0 && !in.empty(); --n) {
    const std::size_t kind = in.below(sizeof k_pieces / sizeof k_pieces[0] + 1);
    if (kind == sizeof k_pieces / sizeof k_pieces[0]) {
      peer.answer += in.text(8);
      continue;
    }
    const std::size_t times = 1 + (in.byte() < 128 ? in.below(4) : in.below(65536));
    for (std::size_t i = 0; i < times && peer.answer.size() < k_answer_max; ++i) peer.answer += k_pieces[kind];
  }
  const brol_platform_calls saved = brol_os;
  brol_os.socket_open = fake_open;
  brol_os.socket_connect = fake_connect;
  brol_os.socket_send = fake_send;
  brol_os.socket_recv = fake_recv;
  brol_os.socket_shutdown = fake_shutdown;
  brol_os.socket_close = fake_true;
  brol_stream stream;
  stream.init(buffer_size);
  const bool ok = brol_httpget("127.0.0.1", "doc", stream, 8080);
  std::string body;
  std::int32_t count = 0;
  while (ok) {
    count = 1000;
    const unsigned char* block = stream.get_block(&count);
    if (block == nullptr) break;
    body.append(reinterpret_cast<const char*>(block), static_cast<std::size_t>(count));
  }
  stream.destroy();
  brol_os = saved;
  FUZZ_CHECK(peer.request == "GET /doc HTTP/1.0\r\nHost: 127.0.0.1:8080\r\n\r\n");
  std::string expected;
  const bool accepted = fuzz::expected_body(peer.answer, &expected);
  if (ok != accepted) {
    std::fprintf(stderr, "answer of %zu bytes, buffer %lld, fails at end %d: %s\n", peer.answer.size(),
                 static_cast<long long>(buffer_size), peer.fails_at_end ? 1 : 0, peer.answer.substr(0, 200).c_str());
  }
  FUZZ_CHECK(ok == accepted);
  if (ok) {
    FUZZ_CHECK(body == expected);
    FUZZ_CHECK(count == (peer.fails_at_end ? brol_stream_io_failed : brol_stream_end_of_data));
  }
  // A refused head is never read far past the limit: the peer is left with the rest.
  FUZZ_CHECK(ok || peer.at <= static_cast<std::size_t>(brol_http_head_limit) + static_cast<std::size_t>(buffer_size));
  return 0;
}
