// HTTP GET against a real server (python3's http.server, started by the test) and a scripted server
// of the test's own for tricky answers, both on 127.0.0.1. Every client call runs under the watch,
// ticked by a host thread, so no test can hang on a silent peer.
#include "brol/net/brol_httpget.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "../stream/stream_test_fakes.h"
#include "brol/log/brol_log.h"
#include "brol_test_process.h"

namespace {

using stream_test::closed_port;
using stream_test::listen_any;
using stream_test::read_file;
using stream_test::stream;
using stream_test::write_file;
using socket_type = decltype(::socket(0, 0, 0));

// Collects the messages of brol_httpget; any entry with other fields than it must log fails.
struct log_capture {
  static inline std::vector<std::string> messages;
  static std::int64_t hook(const brol_log_entry* e) {
    EXPECT_EQ(e->level, 4);
    EXPECT_EQ(e->error_number, 0);
    EXPECT_STREQ(e->function, "brol_httpget");
    EXPECT_STREQ(e->source, "brol_httpget");
    messages.emplace_back(e->message);
    return 1;
  }
  log_capture() {
    messages.clear();
    brol_log_hook = hook;
  }
  ~log_capture() { brol_log_hook = nullptr; }
};

bool wait_readable(brol_socket_handle s, int milliseconds) {
  fd_set set;
  FD_ZERO(&set);
  FD_SET(static_cast<socket_type>(s), &set);
  timeval limit{milliseconds / 1000, (milliseconds % 1000) * 1000};
  return ::select(static_cast<int>(s) + 1, &set, nullptr, nullptr, &limit) == 1;
}

// Everything left in the stream.
std::string rest_of(brol_stream& s) {
  std::string all;
  for (std::uint16_t c; (c = s.get_byte()) <= 255;) {
    all += static_cast<char>(c);
  }
  return all;
}

struct step {
  std::string bytes;
  int pause_ms = 0;  // before the bytes are sent
};

// Sends each byte of text after a pause.
std::vector<step> trickle(const std::string& text, int pause_ms) {
  std::vector<step> steps;
  for (const char c : text) {
    steps.push_back({std::string(1, c), pause_ms});
  }
  return steps;
}

// Answers one connection on 127.0.0.1 (or ::1) with scripted steps, then closes it normally or resets it.
// It waits at most 10 s for the connection and records the request.
class scripted_server {
 public:
  explicit scripted_server(std::vector<step> steps, bool reset = false, const char* host = "127.0.0.1")
      : steps_(std::move(steps)), reset_(reset) {
    port_ = listen_any(listener_.s, host);
    thread_ = std::thread([this] { serve(); });
  }
  ~scripted_server() { finish(); }
  scripted_server(const scripted_server&) = delete;
  scripted_server& operator=(const scripted_server&) = delete;
  std::uint16_t port() const { return port_; }
  // The request received, once the answer is out.
  const std::string& request() {
    finish();
    return request_;
  }

 private:
  void finish() {
    if (thread_.joinable()) {
      thread_.join();
    }
  }
  void serve() {
    stream peer;
    if (!wait_readable(listener_->socket, 10000) || !peer->accept(&listener_.s)) {
      return;
    }
    while (request_.size() < 4 || request_.compare(request_.size() - 4, 4, "\r\n\r\n") != 0) {
      const std::uint16_t c = peer->get_byte();
      if (c > 255) {
        break;
      }
      request_ += static_cast<char>(c);
    }
    for (const step& s : steps_) {
      std::this_thread::sleep_for(std::chrono::milliseconds(s.pause_ms));
      peer->write_bytes(s.bytes.data(), static_cast<std::int64_t>(s.bytes.size()));
    }
    if (reset_) {
      // Closing with a zero linger time sends a reset instead of the normal end.
      const linger abort_now{1, 0};
      ::setsockopt(static_cast<socket_type>(peer->socket), SOL_SOCKET, SO_LINGER,
                   reinterpret_cast<const char*>(&abort_now), sizeof abort_now);
      brol_os.socket_close(peer->socket);
      peer->close(true);
    }
  }

  stream listener_;
  std::vector<step> steps_;
  bool reset_;
  std::uint16_t port_ = 0;
  std::string request_;
  std::thread thread_;
};

std::string repeated(const std::string& piece, int times) {
  std::string all;
  for (int i = 0; i < times; ++i) {
    all += piece;
  }
  return all;
}

// A status line and a header of exactly n bytes (n >= 40), with its empty line.
std::string head_of(std::int64_t n) {
  const std::string status = "HTTP/1.0 200 OK\r\n";
  const std::string end = "\r\n\r\n";
  return status + "X-Pad: " + std::string(static_cast<std::size_t>(n) - status.size() - 7 - end.size(), 'p') + end;
}

struct answer_row {
  const char* name;
  std::vector<step> steps;
  bool ok;
  const char* logged;  // the message, or null
  const char* body;    // what the stream holds after success
};

TEST(BrolHttpget, AnswersAreAcceptedOrRefusedAndTheBodyIsNeverEaten) {
  const std::string eighteen = "HTTP/1.0 200 OK.78";  // a status line of exactly 18 bytes
  const answer_row rows[] = {
      {"crlf header",
       {{"HTTP/1.0 200 OK\r\nContent-Type: text/plain\r\nX: y\r\n\r\nBODY\r\n"}},
       true,
       nullptr,
       "BODY\r\n"},
      {"bare lf", {{"HTTP/1.1 200 OK\nA: b\n\nBODY\n\nmore"}}, true, nullptr, "BODY\n\nmore"},
      {"no header lines", {{"HTTP/1.0 200 OK\r\n\r\nfirst line\r\n\r\nrest"}}, true, nullptr, "first line\r\n\r\nrest"},
      {"no header lines, bare lf", {{"HTTP/1.0 200 OK\n\nBODY"}}, true, nullptr, "BODY"},
      {"empty body", {{"HTTP/1.0 200 OK\r\n\r\n"}}, true, nullptr, ""},
      {"status of 18 bytes", {{eighteen + "\r\n\r\nBODY"}}, true, nullptr, "BODY"},
      {"status of 18 bytes, lf", {{eighteen + "\nH: v\n\nBODY"}}, true, nullptr, "BODY"},
      {"long status line", {{"HTTP/1.1 200 Everything is fine today\r\nA: b\r\n\r\nBODY"}}, true, nullptr, "BODY"},
      {"200 anywhere in 18 bytes", {{"XTTP/9 x200\r\n\r\nBODY"}}, true, nullptr, "BODY"},
      {"cr inside the first 18", {{"HTTP/1.0\r\r\r 200 OK\r\n\r\nBODY"}}, true, nullptr, "BODY"},
      {"in pieces",
       {{"HTTP/1.0 2"}, {"00 OK\r", 20}, {"\nA: b\r\n", 20}, {"\r", 20}, {"\nBO", 20}, {"DY", 20}},
       true,
       nullptr,
       "BODY"},
      {"slow trickle", trickle("HTTP/1.0 200 OK\r\nA: b\r\n\r\nslow body", 3), true, nullptr, "slow body"},
      {"404", {{"HTTP/1.0 404 Not Found\r\n\r\nnope"}}, false, "first line was 'HTTP/1.0 404 Not F'", nullptr},
      {"500", {{"HTTP/1.1 500 Internal Server Error\r\n\r\n"}}, false, "first line was 'HTTP/1.1 500 Inter'", nullptr},
      {"200 beyond 18 bytes",
       {{"HTTP/1.1 302 Found 200\r\n\r\n"}},
       false,
       "first line was 'HTTP/1.1 302 Found'",
       nullptr},
      {"no answer", {}, false, "could not get first line", nullptr},
      {"end inside the status line", {{"HTTP/1.0 200"}}, false, "could not get body", nullptr},
      {"end inside the header", {{"HTTP/1.0 200 OK\r\nServer: x\r\n"}}, false, "could not get body", nullptr},
      {"no empty line", {{"HTTP/1.0 200 OK\r\nServer: x\r\nBODY"}}, false, "could not get body", nullptr},
      // The status line and the header take at most brol_http_head_limit bytes, line ends included.
      {"head of exactly the limit", {{head_of(brol_http_head_limit) + "BODY"}}, true, nullptr, "BODY"},
      {"head one byte over the limit",
       {{head_of(brol_http_head_limit + 1) + "BODY"}},
       false,
       "could not get body",
       nullptr},
      {"endless header", {{"HTTP/1.0 200 OK\r\n" + std::string(1 << 20, 'h')}}, false, "could not get body", nullptr},
      {"endless header lines",
       {{"HTTP/1.0 200 OK\r\n" + repeated("X: y\r\n", 200000)}},
       false,
       "could not get body",
       nullptr},
      {"endless status line", {{"HTTP/1.0 200 " + std::string(1 << 20, 's')}}, false, "could not get body", nullptr},
      {"endless status line, no 200",
       {{"HTTP/1.0 302 " + std::string(1 << 20, 's')}},
       false,
       "first line was 'HTTP/1.0 302 sssss'",
       nullptr},
  };
  stream_test::watch_host host(1000);  // each blocking call ends within 4 s
  for (const answer_row& r : rows) {
    SCOPED_TRACE(r.name);
    scripted_server server(r.steps);
    log_capture logs;
    stream connection(64);
    EXPECT_EQ(brol_httpget("127.0.0.1", "doc/a.txt", connection.s, server.port()), r.ok);
    if (r.ok) {
      EXPECT_EQ(rest_of(connection.s), r.body);
      EXPECT_TRUE(logs.messages.empty());
    } else {
      EXPECT_EQ(logs.messages, std::vector<std::string>{r.logged});
    }
    connection->close(false);
    EXPECT_EQ(server.request(),
              "GET /doc/a.txt HTTP/1.0\r\nHost: 127.0.0.1:" + std::to_string(server.port()) + "\r\n\r\n");
  }
}

TEST(BrolHttpget, HostsAndPathsWithControlBytesAreRefusedBeforeConnecting) {
  const std::pair<const char*, const char*> rows[] = {
      {"127.0.0.1\r\nX-Injected: 1", "a"},
      {"127.0.0.1", "a HTTP/1.0\r\nX: y\r\n\r\nGET /b"},
      {"127.0.0.1", "a\nb"},
      {"127.0.0.1", "tab\there"},
      {"127.0.0.1\x1f", ""},
  };
  for (const auto& [host, path] : rows) {
    SCOPED_TRACE(path);
    log_capture logs;
    stream connection;
    EXPECT_FALSE(brol_httpget(host, path, connection.s, 9));
    EXPECT_EQ(logs.messages, std::vector<std::string>{"could not send"});
    EXPECT_EQ(connection->address, nullptr);  // no connection was tried
  }
}

bool unknown_host(const char*, sockaddr_storage*) {
  errno = ENOENT;
  return false;
}

TEST(BrolHttpget, HostsThatCannotBeReachedAreNamedInTheLog) {
  log_capture logs;
  stream connection;
  EXPECT_FALSE(brol_httpget("127.0.0.1", "x", connection.s, closed_port()));
  brol_os.host_lookup = unknown_host;  // no name server is asked
  EXPECT_FALSE(brol_httpget("no-such-host.invalid", "x", connection.s));
  brol_os = brol_platform_defaults();
  EXPECT_EQ(logs.messages, (std::vector<std::string>{"could not connect to '127.0.0.1'",
                                                     "could not connect to 'no-such-host.invalid'"}));
}

TEST(BrolHttpget, AnIpv6HostIsBracketedInTheHostHeader) {
  stream_test::watch_host host(1000);
  scripted_server server({{"HTTP/1.0 200 OK\r\n\r\nsix"}}, false, "::1");
  stream connection;
  ASSERT_TRUE(brol_httpget("::1", "p?q=1", connection.s, server.port()));
  EXPECT_EQ(rest_of(connection.s), "six");
  EXPECT_STREQ(connection->name, "::1");
  connection->close(false);
  EXPECT_EQ(server.request(), "GET /p?q=1 HTTP/1.0\r\nHost: [::1]:" + std::to_string(server.port()) + "\r\n\r\n");
}

// Connects to the scripted server wherever the client asks to go: the default port needs no rights.
std::uint16_t redirected_port = 0;
bool connect_redirected(brol_socket_handle socket, const sockaddr* address, int length) {
  sockaddr_in to{};
  std::memcpy(&to, address, sizeof to);
  EXPECT_EQ(ntohs(to.sin_port), brol_http_port);
  to.sin_port = htons(redirected_port);
  return brol_platform_defaults().socket_connect(socket, reinterpret_cast<const sockaddr*>(&to), length);
}

TEST(BrolHttpget, TheDefaultPortIsLeftOutOfTheHostHeader) {
  stream_test::watch_host host(1000);
  scripted_server server({{"HTTP/1.0 200 OK\r\n\r\neighty"}});
  redirected_port = server.port();
  brol_os.socket_connect = connect_redirected;
  stream connection;
  const bool ok = brol_httpget("127.0.0.1", "index.html", connection.s);
  brol_os = brol_platform_defaults();
  ASSERT_TRUE(ok);
  EXPECT_EQ(rest_of(connection.s), "eighty");
  connection->close(false);
  EXPECT_EQ(server.request(), "GET /index.html HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n");
}

// --- Downloads into files --------------------------------------------------------------------------

constexpr std::int64_t k_sizes[] = {0, 1, 2 * 1024 * 1024, 64 * 1024 * 1024};

// The bytes the python server serves for a size (see http_test_server.py).
std::string served_bytes(std::int64_t size) {
  std::string block(4099, '\0');
  for (std::size_t i = 0; i < block.size(); ++i) {
    block[i] = static_cast<char>((i * 7 + i / 251) & 0xFF);
  }
  std::string all;
  all.reserve(static_cast<std::size_t>(size));
  while (static_cast<std::int64_t>(all.size()) < size) {
    all.append(block, 0, std::min<std::size_t>(block.size(), static_cast<std::size_t>(size) - all.size()));
  }
  return all;
}

// python3's http.server with the files of k_sizes, for the whole suite. It lives while its control
// connection does.
class BrolHttpgetFile : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    ASSERT_TRUE(stream_test::sockets_started);
    control_listener = std::make_unique<stream>();
    control = std::make_unique<stream>();
    brol_stream& l = control_listener->s;
    std::vector<std::string> command = {"/usr/bin/python3", BROL_TEST_SOURCE_DIR "/brol/net/http_test_server.py",
                                        std::to_string(listen_any(l, "127.0.0.1"))};
    for (const std::int64_t size : k_sizes) {
      command.push_back(std::to_string(size));
    }
    python_server = std::make_unique<brol_test::child_process>();
    ASSERT_TRUE(python_server->start(command));
    ASSERT_TRUE(wait_readable(l.socket, 60000)) << "the python server did not call back";
    ASSERT_TRUE((*control)->accept(&l));
    char line[16];
    ASSERT_TRUE((*control)->get_line(line, sizeof line));
    port = static_cast<std::uint16_t>(std::stoi(line));
  }
  static void TearDownTestSuite() {
    control.reset();  // the server ends with its control connection
    if (python_server) {
      EXPECT_NE(python_server->wait(20000), -1);
      // It has stopped serving, also where it cannot be waited for (under Wine).
      bool refused = false;
      for (int i = 0; i < 200 && !refused; ++i) {
        stream probe;
        refused = !probe->connect("127.0.0.1", port) && probe->error_number == ECONNREFUSED;
        std::this_thread::sleep_for(std::chrono::milliseconds(refused ? 0 : 50));
      }
      EXPECT_TRUE(refused);
    }
    python_server.reset();
    control_listener.reset();
  }
  static inline std::unique_ptr<stream> control_listener, control;
  static inline std::unique_ptr<brol_test::child_process> python_server;
  static inline std::uint16_t port = 0;

  brol_test::temp_dir dir;
  // The names in dir, to prove that no partial or temporary file stays.
  std::set<std::string> names() const {
    std::set<std::string> all;
    for (const auto& entry : std::filesystem::directory_iterator(dir.path())) {
      all.insert(entry.path().filename().string());
    }
    return all;
  }
};

TEST_F(BrolHttpgetFile, DownloadsOfEverySizeEqualTheServedFiles) {
  stream_test::watch_host host(1000);
  for (const std::int64_t size : k_sizes) {
    SCOPED_TRACE(size);
    const std::string target = dir.file("download");
    if (size == 1) {
      write_file(target, "an older and longer content");  // replaced whole
    }
    ASSERT_TRUE(brol_httpget_file("127.0.0.1", ("file_" + std::to_string(size)).c_str(), target.c_str(), port));
    const std::string got = read_file(target);
    ASSERT_EQ(got.size(), static_cast<std::size_t>(size));
    EXPECT_TRUE(got == served_bytes(size));
    EXPECT_EQ(names(), std::set<std::string>{"download"});
  }
}

TEST_F(BrolHttpgetFile, AMissingDocumentLeavesTheOldFileAndNoOther) {
  log_capture logs;
  const std::string target = dir.file("kept");
  write_file(target, "old");
  EXPECT_FALSE(brol_httpget_file("127.0.0.1", "no_such_file", target.c_str(), port));
  EXPECT_EQ(read_file(target), "old");
  EXPECT_FALSE(brol_httpget_file("127.0.0.1", "no_such_file", dir.file("new").c_str(), port));
  EXPECT_EQ(names(), std::set<std::string>{"kept"});
  ASSERT_EQ(logs.messages.size(), 2u);
  EXPECT_EQ(logs.messages[0], "first line was 'HTTP/1.0 404 File '");
}

TEST_F(BrolHttpgetFile, AResetDuringTheBodyLeavesTheOldFileAndNoOther) {
  stream_test::watch_host host(1000);
  const std::string body(300000, 'b');
  for (const bool had_file : {true, false}) {
    SCOPED_TRACE(had_file);
    const std::string target = dir.file("kept");
    if (had_file) {
      write_file(target, "old");
    }
    scripted_server server({{"HTTP/1.0 200 OK\r\n\r\n"}, {body}, {"", 100}}, true);
    EXPECT_FALSE(brol_httpget_file("127.0.0.1", "x", target.c_str(), server.port()));
    EXPECT_EQ(read_file(target), had_file ? "old" : "<missing>");
    EXPECT_EQ(names().size(), had_file ? 1u : 0u);
    std::filesystem::remove(target);
  }
}

// A body that outlasts the time limit fails the download as a read failure does; one that arrives
// within it is stored whole.
TEST_F(BrolHttpgetFile, ADownloadPastItsTimeLimitLeavesTheOldFileAndNoOther) {
  stream_test::watch_host host(1000);
  const std::string target = dir.file("kept");
  for (const bool slow : {true, false}) {
    SCOPED_TRACE(slow);
    write_file(target, "old");
    std::vector<step> steps = {{"HTTP/1.0 200 OK\r\n\r\nfirst "}};
    for (int i = 0; i < 8; ++i) {
      steps.push_back({"more ", slow ? 150 : 0});
    }
    scripted_server server(steps);
    EXPECT_EQ(brol_httpget_file("127.0.0.1", "x", target.c_str(), server.port(), 500), !slow);
    EXPECT_EQ(read_file(target), slow ? "old" : "first " + repeated("more ", 8));
    EXPECT_EQ(names().size(), 1u);
  }
}

TEST_F(BrolHttpgetFile, AWriteFailureLeavesTheOldFileAndNoOther) {
  const std::string target = dir.file("kept");
  write_file(target, "old");
  brol_os.file_write = [](brol_file_handle, const void*, std::int32_t) -> std::int32_t {
    errno = ENOSPC;
    return -1;
  };
  const bool ok = brol_httpget_file("127.0.0.1", "file_2097152", target.c_str(), port);
  brol_os = brol_platform_defaults();
  EXPECT_FALSE(ok);
  EXPECT_EQ(read_file(target), "old");
  EXPECT_EQ(names(), std::set<std::string>{"kept"});
}

TEST_F(BrolHttpgetFile, NoConnectionOrNoFolderCreatesNothing) {
  log_capture logs;
  EXPECT_FALSE(brol_httpget_file("127.0.0.1", "file_1", dir.file("f").c_str(), closed_port()));
  EXPECT_EQ(logs.messages, std::vector<std::string>{"could not connect to '127.0.0.1'"});
  EXPECT_FALSE(brol_httpget_file("127.0.0.1", "file_1", dir.file("missing/f").c_str(), port));
  EXPECT_EQ(logs.messages.size(), 1u);  // a file that cannot be made is not logged
  EXPECT_TRUE(names().empty());
}

// A download within a time limit ends by then in every step, as a failed read ends it: a server that
// never answers, one that trickles its header or its body, and a connect that the peer never takes
// (its queue of waiting connections is full, so the system drops the request).
// first at once, then the steps.
std::vector<step> after(const std::string& first, const std::vector<step>& steps) {
  std::vector<step> all(1 + steps.size());
  all[0].bytes = first;
  for (std::size_t i = 0; i < steps.size(); ++i) {
    all[i + 1] = steps[i];
  }
  return all;
}

struct limit_row {
  const char* name;
  std::vector<step> steps;
  const char* logged;  // null: brol_httpget succeeds and the body read then fails
};

TEST(BrolHttpget, ATimeLimitEndsEveryStepOfTheDownload) {
  const limit_row rows[] = {
      {"silent server", {{"", 3000}}, "could not get first line"},
      {"trickled status line", after("HTTP/1.0 200 OK", trickle(" and then some more words", 100)),
       "could not get body"},
      {"trickled header", after("HTTP/1.0 200 OK\r\nServer: ", trickle("slow slow slow\r\n\r\n", 100)),
       "could not get body"},
      {"trickled body", after("HTTP/1.0 200 OK\r\n\r\nBODY", trickle(" BODY BODY BODY BODY", 100)), nullptr},
  };
  stream_test::watch_host host(1000);  // a safety net: the limit itself ends every call
  for (const limit_row& r : rows) {
    SCOPED_TRACE(r.name);
    scripted_server server(r.steps);
    log_capture logs;
    stream connection(64);
    const auto start = std::chrono::steady_clock::now();
    const bool ok = brol_httpget("127.0.0.1", "doc", connection.s, server.port(), 600);
    EXPECT_EQ(ok, r.logged == nullptr);
    std::string body;
    if (ok) {
      body = rest_of(connection.s);
      EXPECT_EQ(connection->status, brol_stream_io_failed);
      EXPECT_EQ(connection->error_number, ETIMEDOUT);
      EXPECT_EQ(std::string("BODY BODY BODY BODY BODY").rfind(body, 0), 0u) << body;
    } else if (r.logged != nullptr) {
      EXPECT_EQ(logs.messages, std::vector<std::string>{r.logged});
    }
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_GE(took, std::chrono::milliseconds(550));
    EXPECT_LT(took, std::chrono::milliseconds(2500));
    connection->close(false);
  }
  // Within the limit nothing changes; no limit (0) is the default, and it holds also for a record
  // whose earlier limit has run out (closed after its use, or still set).
  const struct {
    std::int64_t limit;
    bool stale;   // the record had a limit of 1 ms that has run out
    bool closed;  // and was closed after that use
  } within[] = {{0, false, false}, {5000, false, false}, {0, true, true}, {0, true, false}, {5000, true, true}};
  for (const auto& w : within) {
    SCOPED_TRACE(std::to_string(w.limit) + (w.stale ? " stale" : "") + (w.closed ? " closed" : ""));
    scripted_server server({{"HTTP/1.0 200 OK\r\n\r\nall of it"}});
    stream connection(64);
    if (w.stale) {
      ASSERT_TRUE(connection->set_time_limit(1));
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
      if (w.closed) {
        ASSERT_TRUE(connection->close(false));
      }
    }
    EXPECT_TRUE(brol_httpget("127.0.0.1", "doc", connection.s, server.port(), w.limit));
    EXPECT_EQ(rest_of(connection.s), "all of it");
    EXPECT_NE(connection->at_end, 0u);
    EXPECT_EQ(connection->status, brol_stream_ok);
  }
}

// A suite of its own, so that it runs after the python server's suite: under Wine, a connect left
// waiting in a full queue kept the next python server of the same process from calling back.
TEST(BrolHttpgetConnectLimit, ATimeLimitEndsAConnectThatIsNeverTaken) {
  // A listener with a queue of one that never accepts: once two connections wait, the system drops
  // further requests and a connect would wait for the system's own time-out (minutes).
  stream listener;
  const std::uint16_t port = listen_any(listener.s, "127.0.0.1");
  ASSERT_EQ(::listen(static_cast<socket_type>(listener->socket), 0), 0);
  std::vector<std::unique_ptr<stream>> waiting;
  for (int i = 0; i < 4; ++i) {
    waiting.push_back(std::make_unique<stream>(16));
    (*waiting.back())->set_time_limit(300);
    if (!(*waiting.back())->connect("127.0.0.1", port)) {
      break;
    }
  }
  if (waiting.size() == 4 && (*waiting.back())->is_open()) {
    GTEST_SKIP() << "this system takes every connection into the queue";
  }
  log_capture logs;
  stream connection(64);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(brol_httpget("127.0.0.1", "doc", connection.s, port, 500));
  const auto took = std::chrono::steady_clock::now() - start;
  EXPECT_EQ(logs.messages, std::vector<std::string>{"could not connect to '127.0.0.1'"});
  EXPECT_EQ(connection->error_number, ETIMEDOUT);
  EXPECT_GE(took, std::chrono::milliseconds(450));
  EXPECT_LT(took, std::chrono::milliseconds(2500));
}

}  // namespace
