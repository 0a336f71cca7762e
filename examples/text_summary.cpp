// An example program built on the installed brol package: reads its settings from a configuration
// file, downloads a text document over HTTP into a file, counts the document's lines, words and bytes,
// and prints a summary with the most frequent words in a table laid out by the formatting engine.
//   text_summary CONFIG
// The configuration (text_summary.ini beside this file is one) names the document and its copy:
//   [source]  host = 127.0.0.1      a name or an address
//             port = 8000           80 when missing
//             path = /doc.txt
//             save_as = doc.txt     the local copy: replaced whole, or left as it was when the download fails
//             timeout = 60          seconds the whole download may take, 60 when missing
//   [report]  top = 5               how many words the table lists, 5 when missing
// Exit code 0 after a summary, 1 when the copy cannot be read, 2 for a wrong command line, 3 when
// the configuration cannot be read or a setting is missing or wrong, 4 when the download fails.
#ifdef _WIN32
#include <winsock2.h>
#endif

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

#include "brol/config/brol_config.h"
#include "brol/container/brol_dict.h"
#include "brol/log/brol_log.h"
#include "brol/net/brol_httpget.h"
#include "brol/stream/brol_stream.h"
#include "brol/string/brol_string.h"
#include "brol/text/brol_parse.h"

namespace {

struct counts {
  std::int64_t lines = 0;
  std::int64_t words = 0;
  std::int64_t bytes = 0;
  std::int64_t longest = 0;     // bytes of the longest line, its CR and LF not counted
  std::int64_t longest_at = 0;  // its line number, from 1
  std::int64_t line_bytes = 0;  // of the line being read
  bool failed = false;          // a word could not be stored
};

// Letters, digits and every byte above 127 (the letters of UTF-8 and of code page 1252) make words.
bool is_word_byte(unsigned char c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c >= 128;
}

void end_word(brol_string& word, brol_dict<std::int64_t>& frequency, counts& c) {
  if (word.is_empty()) {
    return;
  }
  std::int64_t* n = frequency.find_or_add(word.c_str());
  if (n == nullptr) {
    c.failed = true;
  } else {
    ++*n;
  }
  ++c.words;
  word.assign("");
}

void end_line(counts& c) {
  ++c.lines;
  if (c.line_bytes > c.longest) {
    c.longest = c.line_bytes;
    c.longest_at = c.lines;
  }
  c.line_bytes = 0;
}

void count_byte(unsigned char b, brol_string& word, brol_dict<std::int64_t>& frequency, counts& c) {
  ++c.bytes;
  if (b == '\n') {
    end_word(word, frequency, c);
    end_line(c);
    return;
  }
  if (b != '\r') {
    ++c.line_bytes;
  }
  if (!is_word_byte(b)) {
    end_word(word, frequency, c);
  } else {
    // Words are counted without regard to the case of A to Z.
    word.append_char(static_cast<char>(b >= 'A' && b <= 'Z' ? b + 32 : b));
  }
}

// Reads the whole stream block by block; false when reading failed.
bool count_stream(brol_stream& in, brol_dict<std::int64_t>& frequency, counts& c) {
  brol_string word;
  word.init();
  for (;;) {
    std::int32_t n = 65536;
    const unsigned char* block = in.get_block(&n);
    if (block == nullptr) {
      break;
    }
    for (std::int32_t i = 0; i < n; ++i) {
      count_byte(block[i], word, frequency, c);
    }
  }
  end_word(word, frequency, c);
  if (c.line_bytes > 0) {
    end_line(c);  // a last line without LF
  }
  const bool failed = word.error != 0 || in.status != 0;
  word.destroy();
  return !failed;
}

struct ranked {
  const char* word;
  std::int64_t count;
};

// The most frequent words, most frequent first; equal counts keep the order of first appearance.
std::vector<ranked> top_words(brol_dict<std::int64_t>& frequency, std::size_t top) {
  std::vector<ranked> all;
  brol_dict_iter<std::int64_t> it;
  for (it.begin(frequency); it.value() != nullptr; it.advance()) {
    all.push_back({it.key(), *it.value()});
  }
  std::stable_sort(all.begin(), all.end(), [](const ranked& a, const ranked& b) { return a.count > b.count; });
  all.resize(std::min(top, all.size()));
  return all;
}

void format_summary(brol_string& out, const brol_string& url, const brol_string& file, const counts& c) {
  out.append_format("source:  ", url.c_str(), "\n");
  out.append_format("file:    ", file.c_str(), "\n");
  out.append_format("lines:   ", brol_fmt_group, ',', brol_fmt_int, 8, c.lines, "\n");
  out.append_format("words:   ", brol_fmt_group, ',', brol_fmt_int, 8, c.words, "\n");
  out.append_format("bytes:   ", brol_fmt_group, ',', brol_fmt_int, 8, c.bytes, "\n");
  out.append_format("longest: line ", brol_fmt_int, 8, c.longest_at, ", ", brol_fmt_int, 8, c.longest, " bytes\n");
}

void format_table(brol_string& out, const std::vector<ranked>& words, std::int64_t total) {
  out.append_format(brol_fmt_right, 4, "rank", "  ", brol_fmt_left, 16, "word", brol_fmt_right, 7, "count",
                    brol_fmt_right, 9, "share", "\n");
  for (std::size_t i = 0; i < words.size(); ++i) {
    const double share = 100.0 * static_cast<double>(words[i].count) / static_cast<double>(total);
    out.append_format(brol_fmt_right, 4, brol_fmt_uint, 8, i + 1, "  ", brol_fmt_left, 16, brol_fmt_maxlen, 16,
                      brol_fmt_ellipsis, words[i].word, brol_fmt_right, 7, brol_fmt_int, 8, words[i].count,
                      brol_fmt_right, 8, brol_fmt_frac, 2, 2, brol_fmt_float, 8, share, "%\n");
  }
}

// What the configuration asks for. The texts are copies: a value that get returns points into the
// configuration (or, when quoted, into a buffer the next quoted get overwrites).
struct settings {
  brol_string host;
  brol_string path;     // without its leading '/', as brol_httpget takes it
  brol_string save_as;  // the local copy
  brol_string url;      // for the messages and the summary
  std::uint16_t port = brol_http_port;
  std::size_t top = 5;
  std::int64_t timeout_ms = 60000;  // for connect, header and body together

  void init() {
    host.init();
    path.init();
    save_as.init();
    url.init();
  }
  void destroy() {
    host.destroy();
    path.destroy();
    save_as.destroy();
    url.destroy();
  }
};

// Copies the value of [section] key into out; false, after a message, when the key is missing or empty.
bool read_text(brol_config& config, const char* section, const char* key, brol_string& out) {
  const char* value = config.get(section, key, '=');
  if (*value == '\0') {
    std::fprintf(stderr, "text_summary: %s: [%s] %s is missing\n", config.file_name.c_str(), section, key);
    return false;
  }
  if (out.assign(value).error != 0) {
    std::fputs("text_summary: out of memory\n", stderr);
    return false;
  }
  return true;
}

// Reads [section] key as a decimal number from min to max into *value, which keeps its default when
// the key is missing; false, after a message, for anything else.
bool read_number(brol_config& config, const char* section, const char* key, std::uint64_t min, std::uint64_t max,
                 std::uint64_t* value) {
  const char* text = config.get(section, key, '=');
  if (*text == '\0') {
    return true;
  }
  const char* end = text;
  const std::uint64_t n = brol_parse_uint(text, &end, 10);
  if (end == text || *end != '\0' || n < min || n > max) {
    std::fprintf(stderr, "text_summary: %s: [%s] %s must be a number from %llu to %llu, not '%s'\n",
                 config.file_name.c_str(), section, key, static_cast<unsigned long long>(min),
                 static_cast<unsigned long long>(max), text);
    return false;
  }
  *value = n;
  return true;
}

// The address of the document, an IPv6 address text in brackets.
void make_url(settings& s) {
  const bool bracket = std::strchr(s.host.c_str(), ':') != nullptr;
  s.url.append_format("http://", bracket ? "[" : "", s.host.c_str(), bracket ? "]" : "", ":", brol_fmt_uint, 8, s.port,
                      "/", s.path.c_str());
}

// Fills s from the configuration file at path: 0, or 3 after a message.
int read_settings(const char* path, settings& s) {
  brol_config config;
  config.init();
  std::uint64_t port = s.port;
  std::uint64_t top = s.top;
  std::uint64_t timeout = static_cast<std::uint64_t>(s.timeout_ms / 1000);
  bool ok = config.load(path);
  if (!ok) {
    std::fprintf(stderr, "text_summary: cannot read the configuration %s\n", path);
  } else {
    ok = read_text(config, "source", "host", s.host) && read_text(config, "source", "path", s.path) &&
         read_text(config, "source", "save_as", s.save_as) && read_number(config, "source", "port", 1, 65535, &port) &&
         read_number(config, "source", "timeout", 1, 86400, &timeout) &&
         read_number(config, "report", "top", 0, 1000000, &top);
  }
  config.destroy();
  if (!ok) {
    return 3;
  }
  if (s.path.c_str()[0] == '/') {
    s.path.erase(0, 1);
  }
  s.port = static_cast<std::uint16_t>(port);
  s.top = static_cast<std::size_t>(top);
  s.timeout_ms = static_cast<std::int64_t>(timeout) * 1000;
  make_url(s);
  return 0;
}

#ifdef _WIN32
// A Windows program starts the socket library itself before its first socket call; brol never does.
bool start_sockets() {
  WSADATA data;
  return WSAStartup(MAKEWORD(2, 2), &data) == 0;
}
void stop_sockets() { WSACleanup(); }
#else
bool start_sockets() { return true; }
void stop_sockets() {}
#endif

// brol tells why a download failed through its logger, which writes nowhere until the program says
// where: this hook shows the messages on stderr.
std::int64_t show_log_message(const brol_log_entry* entry) {
  std::fprintf(stderr, "text_summary: %s\n", entry->message);
  return 1;
}

// Downloads the document into s.save_as: 0, or 4 after a message.
int download(const settings& s) {
  if (!start_sockets()) {
    std::fputs("text_summary: the socket library did not start\n", stderr);
    return 4;
  }
  // A server that stalls or sends without end cannot keep the program waiting longer than this.
  const bool ok = brol_httpget_file(s.host.c_str(), s.path.c_str(), s.save_as.c_str(), s.port, s.timeout_ms);
  stop_sockets();
  if (!ok) {
    std::fprintf(stderr, "text_summary: could not download %s into %s\n", s.url.c_str(), s.save_as.c_str());
    return 4;
  }
  return 0;
}

// Summarises the downloaded copy on stdout: 0, or 1 after a message.
int summarise(const settings& s) {
  brol_stream in;
  in.init(65536);
  brol_dict<std::int64_t> frequency;
  frequency.init();
  counts c;
  int status = 0;
  if (!in.open(s.save_as.c_str(), brol_open_read) || !count_stream(in, frequency, c) || c.failed) {
    std::fprintf(stderr, "text_summary: cannot read %s (status %lld, system error %d)\n", s.save_as.c_str(),
                 static_cast<long long>(in.status), in.error_number);
    status = 1;
  } else {
    brol_string out;
    out.init();
    format_summary(out, s.url, s.save_as, c);
    if (c.words > 0 && s.top > 0) {
      format_table(out, top_words(frequency, s.top), c.words);
    }
    std::fputs(out.c_str(), stdout);
    status = out.error != 0 ? 1 : 0;
    out.destroy();
  }
  frequency.destroy();
  in.destroy();
  return status;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fputs("usage: text_summary CONFIG\n", stderr);
    return 2;
  }
  brol_log_hook = show_log_message;
  settings s;
  s.init();
  int status = read_settings(argv[1], s);
  if (status == 0) {
    status = download(s);
  }
  if (status == 0) {
    status = summarise(s);
  }
  s.destroy();
  return status;
}
