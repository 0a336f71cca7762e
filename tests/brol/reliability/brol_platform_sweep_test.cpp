// Every platform call of the operations that use the system, failed, cut short or answered with 0 at
// each call in turn: results, status and error numbers as documented, the files on disk as
// documented, and no file or socket handle left open.
#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "../stream/stream_test_fakes.h"
#include "brol/config/brol_config.h"
#include "brol/fs/brol_mkdir.h"
#include "brol/fs/brol_replace_file.h"
#include "brol/log/brol_log.h"
#include "brol/net/brol_httpget.h"
#include "brol/string/brol_string.h"
#include "brol_platform_faults.h"
#include "brol_test_support.h"

namespace {

using brol_test::platform_fault;
using brol_test::platform_trial;
using stream_test::read_file;
using stream_test::write_file;

const std::string k_data = stream_test::sample_text(300, 7);

// The files in a folder (a failed save or delivery must leave no stray temporary file).
std::size_t files_in(const std::string& folder) {
  std::size_t n = 0;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    n += entry.is_regular_file() ? 1u : 0u;
  }
  return n;
}

// A reported failure carries the injected error number; a 0-byte write counts as EIO.
void expect_error(const platform_trial& t, bool ok, std::int32_t error_number) {
  if (!ok && t.hit && t.fault == platform_fault::fail) {
    EXPECT_EQ(error_number, t.error_number) << t.entry;
  }
}

void stream_write_case(platform_trial& t) {
  brol_test::temp_dir dir;
  const std::string path = dir.file("out");
  stream_test::stream s{32};
  const bool ok = t.run([&] {
    return s->open(path.c_str(), brol_open_write | brol_open_create) && s->enable_write_buffer() &&
           s->write_bytes(k_data.data(), 100) && s->write_text(k_data.c_str() + 100) && s->close(false);
  });
  expect_error(t, ok, s->error_number);
  const std::string content = read_file(path);
  if (ok) {
    EXPECT_EQ(content, k_data);
  } else {
    EXPECT_TRUE(t.hit && t.fault != platform_fault::short_count) << "a short write is no failure";
    EXPECT_TRUE(content == "<missing>" || k_data.rfind(content, 0) == 0) << "bytes out of order";
    if (s->status == brol_stream_io_failed && t.fault == platform_fault::zero) {
      EXPECT_EQ(s->error_number, EIO);
    }
  }
}

void stream_read_case(platform_trial& t) {
  brol_test::temp_dir dir;
  const std::string path = dir.file("in");
  write_file(path, k_data);
  stream_test::stream s{16};
  brol_string text;
  text.init();
  const bool ok = t.run([&] {
    if (!s->open(path.c_str(), brol_open_read)) {
      return false;
    }
    while (text.read_until(s.s, nullptr) > 0) {
    }
    return s->status == brol_stream_ok;
  });
  const std::string got = text.c_str();
  if (t.fault == platform_fault::short_count) {
    EXPECT_TRUE(ok);
    EXPECT_EQ(got, k_data) << "short reads lose nothing";
  } else if (t.hit && t.entry == "file_read") {
    EXPECT_EQ(k_data.rfind(got, 0), 0u) << "a failed or empty read ends the text early, in order";
    if (t.fault == platform_fault::fail) {
      EXPECT_EQ(s->status, brol_stream_io_failed);
      EXPECT_EQ(s->error_number, t.error_number);
    }
  } else if (ok) {
    EXPECT_EQ(got, k_data);
  }
  text.destroy();
}

void stream_copy_case(platform_trial& t) {
  brol_test::temp_dir dir;
  const std::string from = dir.file("from");
  const std::string to = dir.file("to");
  write_file(from, k_data);
  stream_test::stream source{64};
  stream_test::stream dest{64};
  const bool ok = t.run([&] {
    return source->open(from.c_str(), brol_open_read) && dest->open(to.c_str(), brol_open_write | brol_open_create) &&
           dest->copy_all(source.s) && dest->close(false);
  });
  if (t.fault == platform_fault::short_count) {
    EXPECT_TRUE(ok);
  }
  const std::string content = read_file(to);
  if (ok && !(t.hit && t.fault == platform_fault::zero && (t.entry == "file_read" || t.entry == "file_copy"))) {
    EXPECT_EQ(content, k_data);
  } else if (ok) {
    EXPECT_EQ(k_data.rfind(content, 0), 0u);  // an early 0 is the end of the data
  } else {
    expect_error(t, ok, dest->status == brol_stream_io_failed ? dest->error_number : t.error_number);
  }
}

// A file copied to a connected socket (inside the system on Linux, by the buffered loop elsewhere); the
// peer's end is read afterwards with the platform's own calls.
void stream_send_case(platform_trial& t) {
  brol_test::temp_dir dir;
  const std::string from = dir.file("from");
  write_file(from, k_data);
  brol_socket_handle local_end = brol_invalid_socket, peer_end = brol_invalid_socket;
  ASSERT_TRUE(brol_platform_loopback_pair(&local_end, &peer_end));
  stream_test::stream source{64};
  stream_test::stream dest{64};
  // Attached before the trial (no system call), so the local end is closed whatever the trial failed.
  ASSERT_TRUE(dest->attach_socket(static_cast<std::int64_t>(local_end), "peer"));
  const bool ok = t.run(
      [&] { return source->open(from.c_str(), brol_open_read) && dest->copy_all(source.s) && dest->close(false); });
  dest->close(false);
  std::string content;
  char chunk[256];
  for (std::int32_t got; (got = brol_platform_defaults().socket_recv(peer_end, chunk, sizeof chunk)) > 0;) {
    content.append(chunk, static_cast<std::size_t>(got));
  }
  brol_platform_defaults().socket_close(peer_end);
  if (t.fault == platform_fault::short_count) {
    EXPECT_TRUE(ok) << t.entry;
  }
  if (ok && !(t.hit && t.fault == platform_fault::zero && (t.entry == "file_read" || t.entry == "file_send"))) {
    EXPECT_EQ(content, k_data) << t.entry;
  } else {
    EXPECT_EQ(k_data.rfind(content, 0), 0u) << "what arrives is a prefix, in order";
  }
}

const char* const k_config = "a = 1\n[s]\nb = \"two\"\n";

void config_load_case(platform_trial& t) {
  brol_test::temp_dir dir;
  const std::string path = dir.file("c.ini");
  write_file(path, k_config);
  brol_config c;
  c.init();
  ASSERT_TRUE(c.set("old", "k", "v", '=', 0));
  const bool ok = t.run([&] { return c.load(path.c_str()); });
  brol_string text;
  text.init();
  EXPECT_TRUE(c.to_text(text));
  if (t.fault == platform_fault::short_count) {
    EXPECT_TRUE(ok);
  }
  if (ok && !(t.hit && t.fault == platform_fault::zero)) {
    EXPECT_STREQ(text.c_str(), k_config);
  } else if (!ok) {
    EXPECT_STREQ(text.c_str(), "[old]\nk=\"v\"\n") << "a failed load keeps the content";
  }
  text.destroy();
  c.destroy();
}

void config_save_case(platform_trial& t) {
  brol_test::temp_dir dir;
  const std::string path = dir.file("c.ini");
  write_file(path, "old\n");
  brol_config c;
  c.init();
  ASSERT_TRUE(c.set("s", "k", "value", '=', brol_cfg_unquoted));
  const bool ok = t.run([&] { return c.save(path.c_str()); });
  const std::string content = read_file(path);
  if (ok) {
    EXPECT_EQ(content, "[s]\nk=value\n");
  } else {
    EXPECT_TRUE(t.hit && t.fault != platform_fault::short_count);
    EXPECT_EQ(content, "old\n") << "an atomic save leaves the old file";
  }
  EXPECT_EQ(files_in(dir.path()), 1u) << "no temporary file stays";
  c.destroy();
}

void log_case(platform_trial& t) {
  brol_test::temp_dir dir;
  const std::string path = dir.file("log.txt");
  brol_log_file = path.c_str();
  errno = 1234;
  t.run([&] {
    brol_log(4, "f", "src", 1, 0, "%s", "message");
    return errno == 1234;
  });
  EXPECT_EQ(errno, 1234) << "the logger leaves errno as it was";
  brol_log_file = nullptr;
  const std::string content = read_file(path);
  const bool lost = (t.fault == platform_fault::fail && t.entry == "file_open_append") ||
                    (t.fault != platform_fault::short_count && t.entry == "file_append");
  if (t.hit && lost) {
    // Nothing in the logger is reported: the line is lost, never half written.
    EXPECT_TRUE(content == "<missing>" || content.empty()) << content;
  } else {
    // A short append is completed, so the line keeps its end.
    EXPECT_EQ(content.find("message\n"), content.size() - 8) << t.entry << ": " << content;
  }
}

void mkdir_case(platform_trial& t) {
  brol_test::temp_dir dir;
  const std::string path = dir.file("a") + brol_path_separator + "b" + brol_path_separator + "c";
  const bool ok = t.run([&] { return brol_mkdir(path.c_str()); });
  EXPECT_EQ(std::filesystem::is_directory(path), ok) << t.entry;
}

void socket_case(platform_trial& t) {
  ASSERT_TRUE(stream_test::sockets_started);
  stream_test::stream listener;
  stream_test::stream client;
  stream_test::stream server;
  std::string got;
  const bool ok = t.run([&] {
    if (!listener->resolve("127.0.0.1") || !listener->listen(0) ||
        !client->connect("127.0.0.1", stream_test::port_of(listener->address)) || !server->accept(&listener.s) ||
        !client->write_text(k_data.c_str()) || !client->close(false)) {
      return false;
    }
    brol_string text;
    text.init();
    while (text.read_until(server.s, nullptr) > 0) {
    }
    got = text.c_str();
    text.destroy();
    return true;
  });
  if (t.fault == platform_fault::short_count) {
    EXPECT_TRUE(ok);
  }
  if (ok && t.fault == platform_fault::short_count) {
    EXPECT_EQ(got, k_data);
  } else if (ok) {
    EXPECT_EQ(k_data.rfind(got, 0), 0u);
  } else if (t.fault == platform_fault::fail) {
    const std::int32_t number = client->error_number != 0     ? client->error_number
                                : listener->error_number != 0 ? listener->error_number
                                                              : server->error_number;
    EXPECT_EQ(number, t.error_number) << t.entry;
  }
}

void maildir_case(platform_trial& t) {
  brol_test::temp_dir dir;
  for (const char* sub : {"new", "cur", "tmp"}) {
    ASSERT_TRUE(brol_mkdir(dir.file(sub).c_str()));
  }
  stream_test::stream s;
  const bool ok = t.run([&] {
    return s->open_maildir_file(1, brol_open_write | brol_open_create, dir.path().c_str(), "tmp") &&
           s->write_text("mail") && s->close(false);
  });
  if (ok) {
    EXPECT_EQ(read_file(s->name), "mail");
  } else {
    EXPECT_TRUE(t.hit);
  }
}

// Positioning reports nothing: a move the system refuses changes nothing, so the bytes read next come
// from where the stream stood.
void seek_case(platform_trial& t) {
  brol_test::temp_dir dir;
  const std::string path = dir.file("in");
  write_file(path, k_data);
  stream_test::stream s{16};
  std::string got;
  const bool ok = t.run([&] {
    char bytes[10];
    if (!s->open(path.c_str(), brol_open_read) || !s->get_bytes(bytes, 10)) {
      return false;
    }
    s->seek(100, brol_seek_begin);
    s->seek(-50, brol_seek_current);
    if (!s->get_bytes(bytes, 5)) {
      return false;
    }
    got.assign(bytes, 5);
    return true;
  });
  const bool seek_failed = t.hit && t.fault == platform_fault::fail && t.entry == "file_seek";
  if (ok && !seek_failed) {
    EXPECT_EQ(got, k_data.substr(50, 5)) << t.entry;
  } else if (ok) {
    EXPECT_TRUE(got == k_data.substr(10, 5) || got == k_data.substr(100, 5)) << got;
  } else {
    EXPECT_TRUE(t.hit && t.entry != "file_seek" && t.fault != platform_fault::short_count) << t.entry;
  }
}

// A name is looked up; a failed lookup leaves no address and its error number.
void lookup_case(platform_trial& t) {
  stream_test::stream s;
  const bool ok = t.run([&] { return s->resolve("localhost"); });
  EXPECT_EQ(ok, s->address != nullptr);
  if (!ok) {
    EXPECT_TRUE(t.hit) << "the lookup fails only when made to";
    EXPECT_EQ(s->error_number, t.error_number);
  }
}

// An abandoned replacement removes its temporary file and leaves the target as it was.
void replace_abort_case(platform_trial& t) {
  brol_test::temp_dir dir;
  const std::string target = dir.file("target");
  write_file(target, "old");
  brol_replace_file r;
  r.init();
  const bool ok = t.run([&] {
    if (!r.begin(target.c_str())) {
      return false;
    }
    brol_os.file_write(r.handle, "new", 3);
    r.abort();
    return true;
  });
  EXPECT_EQ(read_file(target), "old");
  const bool remove_failed = t.hit && t.fault == platform_fault::fail && t.entry == "file_remove";
  EXPECT_EQ(files_in(dir.path()), remove_failed ? 2u : 1u) << "only a failed removal leaves the temporary file";
  if (!ok) {
    EXPECT_EQ(r.error_number, t.error_number);
  }
  r.destroy();
}

// What a path names: a failed question answers 0 (nothing), never a wrong kind. "C:" asks for the
// drive letters in the Windows build and is an ordinary (missing) name elsewhere.
void path_kind_case(platform_trial& t) {
  brol_test::temp_dir dir;
  const std::string file = dir.file("f");
  write_file(file, "x");
  const std::vector<std::string> paths = {dir.path(), file, "C:"};
  std::vector<int> expected;
  for (const std::string& p : paths) {
    expected.push_back(brol_path_kind(p.c_str()));
  }
  std::vector<int> got;
  t.run([&] {
    for (const std::string& p : paths) {
      got.push_back(brol_path_kind(p.c_str()));
    }
    return true;
  });
  for (std::size_t i = 0; i < paths.size(); ++i) {
    EXPECT_TRUE(got[i] == expected[i] || (t.hit && got[i] == 0)) << paths[i] << " " << got[i];
  }
}

// Answers one connection on 127.0.0.1 on a thread of its own (whose calls the sweep does not count):
// reads the request to its empty line, sends the answer and closes. finish() ends it also when no
// client came, by connecting once itself.
class one_answer_server {
 public:
  explicit one_answer_server(std::string answer) : answer_(std::move(answer)) {
    port_ = stream_test::listen_any(listener_.s, "127.0.0.1");
    thread_ = std::thread([this] { serve(); });
  }
  ~one_answer_server() { finish(); }
  one_answer_server(const one_answer_server&) = delete;
  one_answer_server& operator=(const one_answer_server&) = delete;
  std::uint16_t port() const { return port_; }
  void finish() {
    if (!thread_.joinable()) {
      return;
    }
    if (!accepted_) {
      stream_test::stream knock;
      knock->connect("127.0.0.1", port_);
    }
    thread_.join();
    listener_->close(false);
  }

 private:
  void serve() {
    stream_test::stream peer;
    const bool ok = peer->accept(&listener_.s);
    accepted_ = true;
    if (!ok) {
      return;
    }
    std::string request;
    while (request.size() < 4 || request.compare(request.size() - 4, 4, "\r\n\r\n") != 0) {
      const std::uint16_t c = peer->get_byte();
      if (c > 255) {
        return;
      }
      request += static_cast<char>(c);
    }
    peer->write_bytes(answer_.data(), static_cast<std::int64_t>(answer_.size()));
  }

  stream_test::stream listener_;
  std::string answer_;
  std::uint16_t port_ = 0;
  std::atomic<bool> accepted_{false};
  std::thread thread_;
};

// A download into a file, with no time limit of its own or within one (whose socket bounds are then
// set before every call).
void http_download(platform_trial& t, std::int64_t time_limit_ms) {
  brol_test::temp_dir dir;
  const std::string target = dir.file("download");
  write_file(target, "old");
  one_answer_server server("HTTP/1.0 200 OK\r\nA: b\r\n\r\n" + k_data);
  const bool ok =
      t.run([&] { return brol_httpget_file("127.0.0.1", "doc", target.c_str(), server.port(), time_limit_ms); });
  server.finish();
  const std::string content = read_file(target);
  if (t.fault == platform_fault::short_count) {
    EXPECT_TRUE(ok) << t.entry;
  }
  if (!ok) {
    EXPECT_EQ(content, "old") << "a failed download leaves the file as it was";
  } else if (t.hit && t.fault == platform_fault::zero && t.entry == "socket_recv") {
    EXPECT_EQ(k_data.rfind(content, 0), 0u) << "a 0 from recv is the server's end";
  } else {
    EXPECT_EQ(content, k_data) << t.entry;
  }
  EXPECT_EQ(files_in(dir.path()), 1u) << "no partial file stays";
}

void http_case(platform_trial& t) { http_download(t, 0); }
void http_within_case(platform_trial& t) { http_download(t, 60000); }

struct sweep_case {
  const char* name;
  std::function<void(platform_trial&)> body;
};

TEST(PlatformSweep, EveryCallFailedShortOrZeroInTurn) {
  const std::vector<sweep_case> cases = {{"stream write", stream_write_case},
                                         {"stream read", stream_read_case},
                                         {"copy", stream_copy_case},
                                         {"copy to a socket", stream_send_case},
                                         {"config load", config_load_case},
                                         {"config save", config_save_case},
                                         {"logger", log_case},
                                         {"mkdir", mkdir_case},
                                         {"sockets", socket_case},
                                         {"maildir", maildir_case},
                                         {"http download", http_case},
                                         {"http download within a limit", http_within_case},
                                         {"seek", seek_case},
                                         {"lookup", lookup_case},
                                         {"replace abort", replace_abort_case},
                                         {"path kind", path_kind_case}};
  for (const platform_fault fault : {platform_fault::fail, platform_fault::short_count, platform_fault::zero}) {
    for (const sweep_case& c : cases) {
      SCOPED_TRACE(std::string(c.name) + " fault " + std::to_string(static_cast<int>(fault)));
      EXPECT_GE(brol_test::sweep_platform_calls(fault, ENOSPC, c.body), 1);
    }
  }
}

}  // namespace

namespace {

// Every entry that the swept operations use was failed at least once, and every count entry was also
// cut short and answered with 0. With BROL_PLATFORM_REPORT set, the table goes to that file.
TEST(PlatformSweep, EveryEntryUsedWasFailed) {
  const auto given = brol_test::platform_faults_given();
  if (given.empty()) {
    GTEST_SKIP() << "runs after EveryCallFailedShortOrZeroInTurn";
  }
  std::string report = "| entry | failed | short | 0 |\n|---|---|---|---|\n";
  for (const auto& [entry, counts] : given) {
    EXPECT_GT(counts[0], 0) << entry;
    report += "| " + entry + " | " + std::to_string(counts[0]) + " | " + std::to_string(counts[1]) + " | " +
              std::to_string(counts[2]) + " |\n";
  }
  // Every entry of the table; logical_drives only where paths have drive letters.
  for (const char* entry :
       {"time_now",    "process_id",  "file_open",        "file_read",     "file_write",      "file_seek",
        "file_close",  "file_stat",   "file_open_append", "file_append",   "file_flush",      "file_replace",
        "file_remove", "dir_create",  "socket_recv",      "socket_send",   "socket_shutdown", "socket_close",
        "socket_open", "socket_bind", "socket_listen",    "socket_accept", "socket_connect",  "socket_local_address",
        "host_lookup", "host_name",   "file_copy",        "file_send",     "file_read_link",  "file_create_like", "socket_set_timeout"}) {
    EXPECT_NE(given.find(entry), given.end()) << entry << " was never failed";
  }
  EXPECT_EQ(given.find("logical_drives") != given.end(), brol_path_drive_letters);
  for (const char* count_entry : {"file_read", "file_write", "file_append", "socket_recv", "socket_send"}) {
    const auto found = given.find(count_entry);
    ASSERT_NE(found, given.end()) << count_entry;
    EXPECT_GT(found->second[1], 0) << count_entry;
    EXPECT_GT(found->second[2], 0) << count_entry;
  }
  if (const char* path = std::getenv("BROL_PLATFORM_REPORT")) {
    write_file(path, report);
  }
}

}  // namespace
