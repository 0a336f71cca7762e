// An example program built on the installed brol package: reads a text file through a brol_stream,
// counts its lines, words and bytes, and prints a summary with the most frequent words in a table
// laid out by the formatting engine.
//   text_summary FILE [TOP]     TOP: how many words the table lists (default 5)
// Exit code 0 after a summary, 1 when the file cannot be read, 2 for a wrong command line.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "brol/container/brol_dict.h"
#include "brol/stream/brol_stream.h"
#include "brol/string/brol_string.h"

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

void format_summary(brol_string& out, const char* path, const counts& c) {
  out.append_format("file:    ", path, "\n");
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

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2 || argc > 3) {
    std::fputs("usage: text_summary FILE [TOP]\n", stderr);
    return 2;
  }
  const std::size_t top = argc == 3 ? static_cast<std::size_t>(std::strtoul(argv[2], nullptr, 10)) : 5;
  brol_stream in;
  in.init(65536);
  brol_dict<std::int64_t> frequency;
  frequency.init();
  counts c;
  int status = 0;
  if (!in.open(argv[1], brol_open_read) || !count_stream(in, frequency, c) || c.failed) {
    std::fprintf(stderr, "text_summary: cannot read %s (status %lld, system error %d)\n", argv[1],
                 static_cast<long long>(in.status), in.error_number);
    status = 1;
  } else {
    brol_string out;
    out.init();
    format_summary(out, argv[1], c);
    if (c.words > 0 && top > 0) {
      format_table(out, top_words(frequency, top), c.words);
    }
    std::fputs(out.c_str(), stdout);
    status = out.error != 0 ? 1 : 0;
    out.destroy();
  }
  frequency.destroy();
  in.destroy();
  return status;
}
