// The logger: file lines parsed back field by field, the thresholds, the hook, the cuts, failures of
// the platform calls, and whole lines from several threads and processes.
#include "brol/log/brol_log.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "brol/platform/brol_platform.h"
#include "brol_test_support.h"

namespace {

constexpr std::int64_t k_now = 1796522325;  // a fixed clock for the date field
constexpr std::uint32_t k_pid = 4242;

std::string read_all(const std::string& path) {
  std::string content;
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) {
    return "";
  }
  char chunk[4096];
  for (std::size_t n; (n = std::fread(chunk, 1, sizeof chunk, f)) > 0;) {
    content.append(chunk, n);
  }
  std::fclose(f);
  return content;
}

std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> lines;
  for (std::size_t at = 0; at < text.size();) {
    const std::size_t end = text.find('\n', at);
    lines.push_back(text.substr(at, end == std::string::npos ? std::string::npos : end - at));
    at = end == std::string::npos ? text.size() : end + 1;
  }
  return lines;
}

// The date field the fixed clock must give, by the C library's own formatting.
std::string expected_date() {
  std::tm t{};
  EXPECT_TRUE(brol_platform_localtime(k_now, &t));
  char text[40];
  std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &t);
  return text;
}

// A file line taken apart; ok is false when it does not have the line's shape.
struct parsed_line {
  bool ok = false;
  std::string date, pid, ident, label, location, message;
};

parsed_line parse(const std::string& line, const std::string& ident) {
  parsed_line p;
  const std::size_t pid_end = line.find(") ", 21);
  if (line.size() < 21 || line.compare(19, 2, " (") != 0 || pid_end == std::string::npos) {
    return p;
  }
  p.date = line.substr(0, 19);
  p.pid = line.substr(21, pid_end - 21);
  std::size_t at = pid_end + 2;
  if (line.compare(at, ident.size(), ident) != 0) {
    return p;
  }
  p.ident = ident;
  at += ident.size();
  for (const char* label : {" DEBUG: ", " FATAL: ", " WARN: ", ": "}) {
    if (line.compare(at, std::strlen(label), label) == 0) {
      p.label = label;
      break;
    }
  }
  if (p.label.empty()) {
    return p;
  }
  at += p.label.size();
  const std::size_t location_end = line.find("] ", line.find("() line ", at));
  if (line.compare(at, 1, "[") == 0 && location_end != std::string::npos) {
    p.location = line.substr(at, location_end + 2 - at);
    at = location_end + 2;
  }
  p.message = line.substr(at);
  p.ok = true;
  return p;
}

std::uint32_t fixed_pid() { return k_pid; }
std::int64_t fixed_now() { return k_now; }

// What the hook saw, and what it answers.
struct hook_record {
  std::vector<brol_log_entry> entries;
  std::int64_t answer = 0;
};
hook_record hooked;

std::int64_t recording_hook(const brol_log_entry* entry) {
  hooked.entries.push_back(*entry);
  return hooked.answer;
}

class BrolLog : public ::testing::Test {
 protected:
  void SetUp() override {
    brol_os.process_id = fixed_pid;
    brol_os.time_now = fixed_now;
    path = dir.file("test.log");
    brol_log_file = path.c_str();
    hooked = hook_record{};
  }
  void TearDown() override {
    brol_os = brol_platform_defaults();
    brol_log_file = nullptr;
    brol_log_hook = nullptr;
    brol_log_ident = "";
    brol_log_file_level = 5;
    brol_log_hook_level = 5;
  }
  std::vector<std::string> lines() const { return lines_of(read_all(path)); }
  std::string text() const { return read_all(path); }

  brol_test::temp_dir dir;
  std::string path;
};

TEST_F(BrolLog, TheDocumentedExampleLines) {
  // A viewer holding the file open does not keep lines out.
  std::FILE* viewer = std::fopen(path.c_str(), "ab");
  ASSERT_NE(viewer, nullptr);
  brol_log(1, "brol_mkdir_step", "brol_mkdir", 57, 20, "mkdir(%s) is a file", "C:\\data\\x");
  brol_log(4, "brol_httpget", "brol_httpget", 99, 0, "could not send");
  std::fclose(viewer);
  const std::string date = expected_date();
  EXPECT_EQ(text(), date + " (4242)  FATAL: [brol_mkdir brol_mkdir_step() line 57] mkdir(C:\\data\\x) is a file\n" +
                        date + " (4242)  WARN: could not send\n");
}

TEST_F(BrolLog, FieldsOfEachLevelAndMessageKind) {
  struct row {
    std::uint8_t level;
    std::int32_t error_number;
    const char* format;  // given the argument "y"
    const char* label;
    std::string message;
  };
  const std::string text_12 = std::string("error 12: '") + std::strerror(12) + "'";
  const row rows[] = {
      {0, 0, "debug %s", " DEBUG: ", "debug y"},
      {1, 22, "x %s", " FATAL: ", "x y"},  // a format keeps level 1
      {1, 12, nullptr, " FATAL: ", text_12},
      {1, 0, nullptr, " FATAL: ", "unknown error"},
      {2, 0, "two", " FATAL: ", "two"},
      {3, 12, nullptr, " FATAL: ", "unknown error"},  // only level 1 turns into the error text
      {4, 0, nullptr, " WARN: ", "unknown error"},
      {5, 0, "five %s", ": ", "five y"},
      {200, 0, "high", ": ", "high"},
  };
  brol_log_ident = "ident-x";
  brol_log_file_level = 255;
  for (const row& r : rows) {
    brol_log(r.level, "fn", "src", 31, r.error_number, r.format, "y");
  }
  const std::vector<std::string> got = lines();
  ASSERT_EQ(got.size(), std::size(rows));
  for (std::size_t i = 0; i < got.size(); ++i) {
    SCOPED_TRACE(got[i]);
    const parsed_line p = parse(got[i], "ident-x");
    ASSERT_TRUE(p.ok);
    EXPECT_EQ(p.date, expected_date());
    EXPECT_EQ(p.pid, "4242");
    EXPECT_EQ(p.label, rows[i].label);
    EXPECT_EQ(p.location, rows[i].level <= 3 ? "[src fn() line 31] " : "");
    EXPECT_EQ(p.message, rows[i].message);
  }
}

TEST_F(BrolLog, ErrorNumberWithoutATextNamesTheNumberAndErrno) {
  brol_log_hook = recording_hook;
  errno = EACCES;
  brol_log(1, "f", "s", 1, 99999, nullptr);
  EXPECT_EQ(errno, EACCES);
  ASSERT_EQ(hooked.entries.size(), 1u);
  EXPECT_EQ(hooked.entries[0].level, 3);
  EXPECT_EQ(std::string(hooked.entries[0].message),
            "unknown error 99999 (strerror_r (" + std::to_string(EACCES) +
                ") did not find an error message for this error code, look at /usr/include/asm/errno.h)");
}

TEST_F(BrolLog, DefaultThresholdsAndTheirSettings) {
  for (std::uint8_t level = 0; level <= 7; ++level) {
    brol_log(level, "f", "s", level, 0, "level %d", level);
  }
  std::string expected;
  for (const std::string& line : lines()) {
    expected += parse(line, "").message + ",";
  }
  EXPECT_EQ(expected, "level 0,level 1,level 2,level 3,level 4,level 5,");

  struct row {
    std::int64_t level;
    std::uint8_t target;
    std::uint8_t file, hook;  // thresholds after the call, starting from 5 and 5
  };
  const row rows[] = {{1, 0, 3, 3}, {2, 0, 3, 3},         {9, 1, 6, 5}, {-4, 2, 5, 0},
                      {0, 1, 0, 5}, {INT64_MIN, 0, 0, 0}, {3, 2, 5, 3}, {6, 0, 6, 6},
                      {7, 0, 6, 6}, {INT64_MAX, 2, 5, 6}, {4, 3, 5, 5}, {4, 255, 5, 5}};
  for (const row& r : rows) {
    brol_log_file_level = 5;
    brol_log_hook_level = 5;
    brol_log_level(r.level, r.target);
    EXPECT_EQ(brol_log_file_level, r.file) << r.level << " " << int{r.target};
    EXPECT_EQ(brol_log_hook_level, r.hook) << r.level << " " << int{r.target};
  }
}

TEST_F(BrolLog, HookFirstThenFileUnderTheirOwnThresholds) {
  brol_log_hook = recording_hook;
  brol_log_level(-4, 2);  // only level 0 reaches the hook
  hooked.answer = 1;
  brol_log(0, "taken", "src", 10, 5, "zero");
  brol_log(1, "passed", "src", 11, 0, "one");
  EXPECT_EQ(hooked.entries.size(), 1u);
  ASSERT_EQ(lines().size(), 1u);
  EXPECT_EQ(parse(lines()[0], "").message, "one");

  brol_log_level(5, 2);
  hooked.answer = 0;  // seen, then passed on
  brol_log(4, "passed", "src", 12, 0, "four");
  ASSERT_EQ(hooked.entries.size(), 2u);
  const brol_log_entry& e = hooked.entries[1];
  EXPECT_EQ(e.level, 4);
  EXPECT_EQ(e.error_number, 0);
  EXPECT_STREQ(e.message, "four");
  EXPECT_STREQ(e.function, "passed");
  EXPECT_STREQ(e.source, "src");
  EXPECT_EQ(e.line, 12);
  EXPECT_EQ(lines().size(), 2u);
  EXPECT_EQ(hooked.entries[0].error_number, 5);

  // A setting changed between messages applies to the next one; without a file the hook still sees.
  brol_log_file = nullptr;
  brol_log(5, "f", "s", 1, 0, "hook only");
  brol_log_hook = nullptr;
  brol_log_file = path.c_str();
  brol_log(5, "f", "s", 1, 0, "file only");
  EXPECT_EQ(hooked.entries.size(), 3u);
  EXPECT_EQ(lines().size(), 3u);
  EXPECT_EQ(parse(lines()[2], "").message, "file only");
}

int opens = 0;
brol_file_handle counting_open(const char* path) {
  ++opens;
  return brol_platform_defaults().file_open_append(path);
}

TEST_F(BrolLog, NoFileAndNoHookDoNothingAtAll) {
  brol_os.file_open_append = counting_open;
  opens = 0;
  brol_log_file = nullptr;
  errno = ERANGE;
  brol_log(0, "f", "s", 1, 12, nullptr);
  brol_log(1, "f", "s", 1, 12, nullptr);
  EXPECT_EQ(errno, ERANGE);
  EXPECT_EQ(opens, 0);
  // A file below its threshold is not opened either.
  brol_log_file = path.c_str();
  brol_log(6, "f", "s", 1, 0, "too high");
  EXPECT_EQ(opens, 0);
  EXPECT_EQ(text(), "");
}

TEST_F(BrolLog, NullTextsCountAsEmpty) {
  brol_log_ident = nullptr;
  brol_log_hook = recording_hook;
  brol_log(2, nullptr, nullptr, 3, 0, "m");
  EXPECT_EQ(lines(), std::vector<std::string>{expected_date() + " (4242)  FATAL: [ () line 3] m"});
  ASSERT_EQ(hooked.entries.size(), 1u);
  EXPECT_STREQ(hooked.entries[0].function, "");
  EXPECT_STREQ(hooked.entries[0].source, "");
}

TEST_F(BrolLog, SourceNameCutAtThirtyEightCharacters) {
  const std::string letters = "abcdefghijklmnopqrstuvwxyz0123456789ABCDEFGH";
  struct row {
    std::size_t length;
    std::string shown;
  };
  const row rows[] = {{36, "[" + letters.substr(0, 36) + " fn() line 1] "},
                      {37, "[" + letters.substr(0, 37) + " fn() line 1] "},
                      {38, "[" + letters.substr(0, 38) + "fn() line 1] "},
                      {39, "[" + letters.substr(0, 38) + "fn() line 1] "},
                      {40, "[" + letters.substr(0, 38) + "fn() line 1] "}};
  for (const row& r : rows) {
    brol_log(1, "fn", letters.substr(0, r.length).c_str(), 1, 0, "cut");
  }
  const std::vector<std::string> got = lines();
  ASSERT_EQ(got.size(), std::size(rows));
  for (std::size_t i = 0; i < got.size(); ++i) {
    EXPECT_EQ(parse(got[i], "").location, rows[i].shown) << rows[i].length;
  }
}

TEST_F(BrolLog, LongMessagesAreCutAt2047Characters) {
  brol_log_hook = recording_hook;
  for (std::size_t length : {2046u, 2047u, 2048u, 5000u}) {
    const std::string message(length, 'm');
    brol_log(5, "f", "s", 1, 0, "%s", message.c_str());
  }
  const std::vector<std::size_t> expected = {2046, 2047, 2047, 2047};
  const std::vector<std::string> got = lines();
  ASSERT_EQ(got.size(), expected.size());
  for (std::size_t i = 0; i < got.size(); ++i) {
    EXPECT_EQ(parse(got[i], "").message, std::string(expected[i], 'm'));
    EXPECT_EQ(std::strlen(hooked.entries[i].message), expected[i]);
  }
}

TEST_F(BrolLog, HugeIdentAndFunctionStillGiveOneWholeLine) {
  const std::string ident(3000, 'i');
  const std::string function(3000, 'f');
  const std::string message(5000, 'm');
  brol_log_ident = ident.c_str();
  brol_log(1, function.c_str(), "src", 1, 0, "%s", message.c_str());
  const std::vector<std::string> got = lines();
  ASSERT_EQ(got.size(), 1u);
  const parsed_line p = parse(got[0], std::string(900, 'i'));
  ASSERT_TRUE(p.ok);
  EXPECT_EQ(p.location, "[src " + std::string(900, 'f') + "() line 1] ");
  EXPECT_EQ(p.message, std::string(2047, 'm'));
}

TEST_F(BrolLog, MacroFillsFunctionSourceAndLine) {
  brol_log_hook = recording_hook;
  const int line = __LINE__ + 1;
  BROL_LOG(2, 0, "via %s", "macro");
  BROL_LOG(1, 12, nullptr);
  ASSERT_EQ(hooked.entries.size(), 2u);
  EXPECT_STREQ(hooked.entries[0].source, "brol_log_test");
  EXPECT_STREQ(hooked.entries[0].function, "TestBody");
  EXPECT_EQ(hooked.entries[0].line, line);
  EXPECT_STREQ(hooked.entries[0].message, "via macro");
  EXPECT_EQ(hooked.entries[1].level, 3);
  EXPECT_EQ(hooked.entries[1].line, line + 1);
}

TEST(BrolLogSourceName, BaseNameWithoutFolderAndExtension) {
  static constexpr auto a = brol::detail::log_source_name("brol/fs/brol_mkdir.cpp");
  static constexpr auto b = brol::detail::log_source_name("C:\\src\\net\\brol_httpget.cpp");
  static constexpr auto c = brol::detail::log_source_name("dir.d/name.tar.gz");
  static constexpr auto d = brol::detail::log_source_name("plain");
  static constexpr auto e = brol::detail::log_source_name("x/.hidden");
  static constexpr auto f = brol::detail::log_source_name("mixed\\seps/last.h");
  EXPECT_STREQ(a.text, "brol_mkdir");
  EXPECT_STREQ(b.text, "brol_httpget");
  EXPECT_STREQ(c.text, "name.tar");
  EXPECT_STREQ(d.text, "plain");
  EXPECT_STREQ(e.text, ".hidden");
  EXPECT_STREQ(f.text, "last");
}

// --- Failures of the platform calls: the line is lost quietly, nothing else changes ---------------

bool write_called = false;
brol_file_handle refused_open(const char*) {
  errno = EACCES;
  return brol_invalid_file;
}
std::int32_t refused_write(brol_file_handle, const void*, std::int32_t) {
  write_called = true;
  errno = ENOSPC;
  return -1;
}
std::int64_t unrepresentable_now() { return INT64_MAX; }

TEST_F(BrolLog, PlatformFailuresLoseTheLineQuietly) {
  brol_log_hook = recording_hook;
  errno = EDOM;
  brol_os.file_open_append = refused_open;
  brol_log(1, "f", "s", 1, 0, "lost");
  brol_os = brol_platform_defaults();
  brol_os.process_id = fixed_pid;
  brol_os.file_append = refused_write;
  brol_log(1, "f", "s", 1, 0, "lost too");
  EXPECT_TRUE(write_called);
  EXPECT_EQ(errno, EDOM);
  EXPECT_EQ(hooked.entries.size(), 2u);
  EXPECT_EQ(text(), "");
  // A clock the runtime cannot convert leaves the date out, and the rest of the line stands.
  brol_os = brol_platform_defaults();
  brol_os.process_id = fixed_pid;
  brol_os.time_now = unrepresentable_now;
  brol_log(4, "f", "s", 1, 0, "no date");
  EXPECT_EQ(text(), " (4242)  WARN: no date\n");
}

TEST_F(BrolLog, LogPastFourGibibytesGrowsAtItsEnd) {
  const std::int64_t size = (std::int64_t{4} << 30) + 7;  // sparse
  const brol_file_handle f = brol_os.file_open(path.c_str(), brol_access_write, brol_create_always);
  ASSERT_EQ(brol_os.file_seek(f, size - 1, brol_seek_begin), size - 1);
  ASSERT_EQ(brol_os.file_write(f, "<", 1), 1);
  ASSERT_TRUE(brol_os.file_close(f));
  brol_log(5, "f", "s", 1, 0, "at the end");
  const std::string line = expected_date() + " (4242) : at the end\n";
  brol_file_status st{};
  ASSERT_TRUE(brol_os.file_stat(path.c_str(), &st));
  ASSERT_EQ(st.size, size + static_cast<std::int64_t>(line.size()));
  std::string tail(line.size() + 1, '\0');
  const brol_file_handle r = brol_os.file_open(path.c_str(), brol_access_read, brol_open_existing);
  ASSERT_EQ(brol_os.file_seek(r, size - 1, brol_seek_begin), size - 1);
  EXPECT_EQ(brol_os.file_read(r, tail.data(), static_cast<std::int32_t>(tail.size())),
            static_cast<std::int32_t>(tail.size()));
  EXPECT_TRUE(brol_os.file_close(r));
  EXPECT_EQ(tail, "<" + line);
}

// --- Several writers at once --------------------------------------------------------------------

constexpr int k_lines_per_writer = 10000;

void write_lines(const std::string& tag) {
  for (int i = 0; i < k_lines_per_writer; ++i) {
    brol_log(5, "w", "s", 1, 0, "%s %d payload-payload-payload-payload", tag.c_str(), i);
  }
}

// Every line of every writer is in the file exactly once and whole.
void expect_every_line_once(const std::vector<std::string>& got, const std::vector<std::string>& tags) {
  std::map<std::string, int> seen;
  int malformed = 0;
  for (const std::string& line : got) {
    const parsed_line p = parse(line, "");
    const std::size_t cut = p.message.rfind(" payload-payload-payload-payload");
    if (!p.ok || cut == std::string::npos || cut + 32 != p.message.size()) {
      ++malformed;
      continue;
    }
    ++seen[p.message.substr(0, cut)];
  }
  EXPECT_EQ(malformed, 0);
  std::size_t missing_or_doubled = 0;
  for (const std::string& tag : tags) {
    for (int i = 0; i < k_lines_per_writer; ++i) {
      const auto found = seen.find(tag + " " + std::to_string(i));
      missing_or_doubled += found == seen.end() || found->second != 1 ? 1u : 0u;
    }
  }
  EXPECT_EQ(missing_or_doubled, 0u);
  EXPECT_EQ(got.size(), tags.size() * std::size_t{k_lines_per_writer});
}

TEST(BrolLogWriters, FourThreadsLoseAndTearNothing) {
  brol_test::temp_dir dir;
  const std::string path = dir.file("threads.log");
  brol_log_file = path.c_str();
  std::vector<std::thread> threads;
  const std::vector<std::string> tags = {"t0", "t1", "t2", "t3"};
  for (const std::string& tag : tags) {
    threads.emplace_back(write_lines, tag);
  }
  for (std::thread& t : threads) {
    t.join();
  }
  brol_log_file = nullptr;
  expect_every_line_once(lines_of(read_all(path)), tags);
}

// The second process is this test program again, running only the child test below with the log's
// path among its arguments.
const char* k_child_flag = "--brol-log-child=";

std::string child_log_path() {
  for (const std::string& argument : ::testing::internal::GetArgvs()) {
    if (argument.rfind(k_child_flag, 0) == 0) {
      return argument.substr(std::strlen(k_child_flag));
    }
  }
  return "";
}

TEST(BrolLogWriters, ChildProcessWriter) {
  const std::string path = child_log_path();
  if (path.empty()) {
    GTEST_SKIP() << "runs only as the second writer of TwoProcessesLoseAndTearNothing";
  }
  brol_log_file = path.c_str();
  write_lines("child");
  brol_log_file = nullptr;
}

TEST(BrolLogWriters, TwoProcessesLoseAndTearNothing) {
  if (!child_log_path().empty()) {
    GTEST_SKIP() << "this is the child";
  }
  brol_test::temp_dir dir;
  const std::string path = dir.file("processes.log");
  // The child's own report goes to a file beside the log. No quotes: sh and cmd treat them
  // differently, and neither the build's nor the temporary folder's paths hold blanks.
  const std::string report = dir.file("child.txt");
  const std::string command = ::testing::internal::GetArgvs()[0] +
                              " --gtest_filter=BrolLogWriters.ChildProcessWriter " + k_child_flag + path + " > " +
                              report + " 2>&1";
  int child_status = -1;
  std::thread child([&] { child_status = std::system(command.c_str()); });
  brol_log_file = path.c_str();
  write_lines("parent");
  brol_log_file = nullptr;
  child.join();
  EXPECT_EQ(child_status, 0) << command << "\n" << read_all(report);
  expect_every_line_once(lines_of(read_all(path)), {"parent", "child"});
}

}  // namespace
