// Maildir delivery: unique names of both styles, collisions, paths that do not fit, random texts and
// two processes delivering into one directory at once.
#include <gtest/gtest.h>

#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <regex>
#include <set>
#include <string>
#include <thread>

#include "brol/stream/brol_stream.h"
#include "brol_test_process.h"
#include "stream_test_fakes.h"

namespace {

using stream_test::read_file;
using stream_test::stream;
using stream_test::write_file;

// A maildir with new, cur and tmp in a temporary folder.
struct maildir {
  brol_test::temp_dir dir;
  maildir() {
    for (const char* sub : {"new", "cur", "tmp"}) {
      std::filesystem::create_directory(dir.file(sub));
    }
  }
  std::string path(const std::string& sub, const std::string& name) const {
    return dir.path() + "/" + sub + "/" + name;
  }
  std::set<std::string> names(const char* sub) const {
    std::set<std::string> all;
    for (const auto& entry : std::filesystem::directory_iterator(dir.file(sub))) {
      all.insert(entry.path().filename().string());
    }
    return all;
  }
};

// Fixed clock, process id and host name, so style 1 names can be foreseen.
struct fixed_identity {
  static inline bool host_fails = false;
  static std::int64_t time_now() { return 0x1'2345'6789LL; }  // the low 32 bits count
  static std::uint32_t process_id() { return 4242; }
  static bool host_name(char* buffer, int size) {
    if (host_fails) {
      errno = EIO;
      return false;
    }
    std::snprintf(buffer, static_cast<std::size_t>(size), "mailhost");
    return true;
  }
  explicit fixed_identity(bool fail_host = false) {
    host_fails = fail_host;
    brol_os.time_now = time_now;
    brol_os.process_id = process_id;
    brol_os.host_name = host_name;
  }
  ~fixed_identity() { brol_os = brol_platform_defaults(); }
};

// The counter of a style 1 name made under fixed_identity, or -1.
long counter_of(const std::string& name, const char* host = "mailhost") {
  const std::regex form(std::string("^591751049\\.4242\\.([0-9]+)\\.") + host + "\\.$");
  std::smatch m;
  return std::regex_match(name, m, form) ? std::stol(m[1].str()) : -1;
}

std::string base_name(const char* path) { return std::filesystem::path(path).filename().string(); }

TEST(BrolMaildir, AMissingTargetDirectoryCreatesNothing) {
  maildir m;
  stream t;
  EXPECT_FALSE(t->open_maildir_file(0, 0x101, m.dir.path().c_str(), "missing"));
  EXPECT_EQ(t->status, brol_stream_no_directory);
  EXPECT_EQ(t->error_number, ENOENT);
  EXPECT_FALSE(t->open_maildir_file(1, 0x101, m.dir.file("nothing").c_str(), ""));
  EXPECT_EQ(t->status, brol_stream_no_directory);
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(m.dir.path()), {}), 3);
}

TEST(BrolMaildir, RandomNamesOpenANewEmptyFileForWriting) {
  maildir m;
  const std::string dir = m.dir.path();
  struct row {
    const char* subdirectory;
    std::uint16_t flags;
  };
  for (const row r : {row{"tmp", 0x101}, row{"", 0x101}, row{nullptr, 0x301}}) {
    SCOPED_TRACE(r.flags);
    stream t;
    ASSERT_TRUE(t->open_maildir_file(0, r.flags, dir.c_str(), r.subdirectory));
    const std::string expected_dir = r.subdirectory != nullptr && *r.subdirectory != '\0' ? dir + "/tmp/" : dir + "/";
    const std::string name = t->name;
    ASSERT_EQ(name.rfind(expected_dir, 0), 0u) << name;
    const std::string leaf = name.substr(expected_dir.size());
    EXPECT_EQ(leaf.size(), 12u);
    for (const char c : leaf) {
      EXPECT_TRUE(std::isalnum(static_cast<unsigned char>(c))) << leaf;
    }
    EXPECT_EQ(t->position, 0);
    EXPECT_EQ(t->written, 0u);
    ASSERT_TRUE(t->write_text("message"));
    t->close(false);
    EXPECT_EQ(read_file(name), "message");
  }
  stream t;  // without creation the new name must exist, which it never does
  EXPECT_FALSE(t->open_maildir_file(0, 0x1, dir.c_str(), "tmp"));
  EXPECT_EQ(t->status, brol_stream_open_failed);
  EXPECT_EQ(t->error_number, ENOENT);
}

TEST(BrolMaildir, Style1NamesCountUpNameTheHostAndSkipTakenNames) {
  maildir m;
  for (const bool host_fails : {false, true}) {
    fixed_identity fixed(host_fails);
    const std::string host = host_fails ? "localhost" : "mailhost";
    const auto name_with = [&](long counter) { return "591751049.4242." + std::to_string(counter) + "." + host + "."; };
    stream t;
    ASSERT_TRUE(t->open_maildir_file(1, 0x101, m.dir.path().c_str(), "tmp"));
    const long c = counter_of(base_name(t->name), host.c_str());
    ASSERT_GT(c, 0) << t->name;
    // The next three names are taken, one in each place that is checked; each try advances the counter.
    write_file(m.path("new", name_with(c + 1)), "in new");
    write_file(m.path("cur", name_with(c + 2)), "in cur");
    write_file(m.path("tmp", name_with(c + 3)), "in tmp");
    ASSERT_TRUE(t->open_maildir_file(1, 0x101, m.dir.path().c_str(), "tmp"));
    EXPECT_EQ(base_name(t->name), name_with(c + 4));
    EXPECT_EQ(read_file(m.path("new", name_with(c + 1))), "in new");
    EXPECT_EQ(read_file(m.path("cur", name_with(c + 2))), "in cur");
    EXPECT_EQ(read_file(m.path("tmp", name_with(c + 3))), "in tmp");
  }
}

// The first creation finds its name taken by someone else just before it.
struct racing_open {
  static inline int calls = 0;
  static brol_file_handle open(const char* path, std::uint32_t access, std::uint32_t disposition) {
    if (++calls == 1) {
      write_file(path, "someone else's");
    }
    return brol_platform_defaults().file_open(path, access, disposition);
  }
};

TEST(BrolMaildir, ANameTakenBetweenTheChecksAndTheCreationCountsAsTaken) {
  maildir m;
  racing_open::calls = 0;
  brol_os.file_open = racing_open::open;
  stream t;
  const bool ok = t->open_maildir_file(0, 0x301, m.dir.path().c_str(), "tmp");
  brol_os = brol_platform_defaults();
  ASSERT_TRUE(ok);
  EXPECT_EQ(racing_open::calls, 2);
  ASSERT_TRUE(t->write_text("ours"));
  t->close(false);
  const auto names = m.names("tmp");
  ASSERT_EQ(names.size(), 2u);
  std::set<std::string> contents;
  for (const std::string& n : names) {
    contents.insert(read_file(m.path("tmp", n)));
  }
  EXPECT_EQ(contents, (std::set<std::string>{"someone else's", "ours"}));
}

// file_stat that knows one directory and nothing else, or everything.
struct pretend_stat {
  static inline std::string directory;
  static inline bool everything = false;
  static inline int opens = 0;
  static bool stat(const char* path, brol_file_status* out) {
    if (everything || directory == path) {
      *out = brol_file_status{0, brol_mode_directory};
      return true;
    }
    errno = ENOENT;
    return false;
  }
  static brol_file_handle open(const char*, std::uint32_t, std::uint32_t) {
    ++opens;
    errno = EACCES;
    return brol_invalid_file;
  }
  pretend_stat(std::string dir, bool all) {
    directory = std::move(dir);
    everything = all;
    opens = 0;
    brol_os.file_stat = stat;
    brol_os.file_open = open;
  }
  ~pretend_stat() { brol_os = brol_platform_defaults(); }
};

TEST(BrolMaildir, PathsThatDoNotFitAreNeverOpenedCut) {
  struct row {
    std::size_t directory_length;
    const char* subdirectory;
    int style;
  };
  // 495 + "/tmp" fits in 511 characters; a name of 12 behind it does not; 508 + "/tmp" does not.
  for (const row r : {row{495, "tmp", 0}, row{508, "tmp", 1}, row{520, "", 0}, row{499, "", 1}}) {
    SCOPED_TRACE(r.directory_length);
    std::string dir(r.directory_length, 'd');
    dir[0] = '/';
    std::string target = dir;
    if (*r.subdirectory != '\0') {
      target.append("/").append(r.subdirectory);
    }
    pretend_stat fake(target, false);
    stream t;
    EXPECT_FALSE(t->open_maildir_file(r.style, 0x101, dir.c_str(), r.subdirectory));
    EXPECT_EQ(t->status, brol_stream_open_failed);
    EXPECT_EQ(t->error_number, ENAMETOOLONG);
    EXPECT_EQ(pretend_stat::opens, 0);
  }
}

TEST(BrolMaildir, ADirectoryWhereEveryNameIsTakenEndsTheSearch) {
  pretend_stat fake("", true);
  stream t;
  EXPECT_FALSE(t->open_maildir_file(0, 0x101, "/x", "tmp"));
  EXPECT_EQ(t->status, brol_stream_open_failed);
  EXPECT_EQ(t->error_number, EEXIST);
  EXPECT_EQ(pretend_stat::opens, 0);
}

TEST(BrolRandomText, LengthsAlphabetAndFreshTextsPerCallAndThread) {
  const std::pair<int, std::size_t> rows[] = {{1, 1}, {12, 12}, {31, 31}, {0, 31}, {32, 31}, {-5, 31}};
  for (const auto& [n, length] : rows) {
    const std::string text = brol_random_text(n);
    EXPECT_EQ(text.size(), length) << n;
    for (const char c : text) {
      EXPECT_TRUE(std::isalnum(static_cast<unsigned char>(c))) << text;
    }
  }
  // Within one second, unlike a generator seeded from the clock at every call.
  std::set<std::string> seen;
  for (int i = 0; i < 1000; ++i) {
    seen.insert(brol_random_text(12));
  }
  EXPECT_EQ(seen.size(), 1000u);
  const char* ours = brol_random_text(12);
  const std::string kept = ours;
  const char* theirs = nullptr;
  std::thread([&] { theirs = brol_random_text(12); }).join();
  EXPECT_NE(theirs, ours);
  EXPECT_EQ(kept, ours);  // another thread's call left this thread's text alone
}

constexpr int deliveries_per_process = 1000;

// Run as a child of the test below: delivers deliveries_per_process files into the maildir named by
// BROL_MAILDIR_CHILD ("<directory>|<tag>") once the file "go" appears there, alternating the name styles, each holding
// its tag and number.
TEST(BrolMaildirChild, Deliver) {
  const char* job = std::getenv("BROL_MAILDIR_CHILD");
  if (job == nullptr || *job == '\0') {
    GTEST_SKIP() << "runs only as a child of DeliveriesOfTwoProcessesNeverShareAFile";
  }
  const std::string text = job;
  const std::string dir = text.substr(0, text.find('|'));
  const std::string tag = text.substr(text.find('|') + 1);
  // Both children start delivering together, when the parent has started them both.
  for (int i = 0; i < 3000 && !std::filesystem::exists(dir + "/go"); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  for (int i = 0; i < deliveries_per_process; ++i) {
    stream t;
    ASSERT_TRUE(t->open_maildir_file(i % 2, 0x101, dir.c_str(), "tmp")) << t->error_number;
    ASSERT_TRUE(t->write_text((tag + "-" + std::to_string(i)).c_str()));
  }
}

TEST(BrolMaildir, DeliveriesOfTwoProcessesNeverShareAFile) {
  maildir m;
  brol_test::child_process children[2];
  const char* tags[] = {"A", "B"};
  for (int i = 0; i < 2; ++i) {
    brol_test::set_environment("BROL_MAILDIR_CHILD", m.dir.path() + "|" + tags[i]);
    ASSERT_TRUE(
        children[i].start({brol_test::own_executable(), "--gtest_filter=BrolMaildirChild.*", "--gtest_brief=1"}));
  }
  brol_test::set_environment("BROL_MAILDIR_CHILD", "");
  write_file(m.dir.file("go"), "");
  for (auto& child : children) {
    EXPECT_EQ(child.wait(240000), 0);
  }
  std::set<std::string> contents;
  const auto names = m.names("tmp");
  for (const std::string& n : names) {
    contents.insert(read_file(m.path("tmp", n)));
  }
  EXPECT_EQ(names.size(), 2u * deliveries_per_process);
  ASSERT_EQ(contents.size(), 2u * deliveries_per_process);
  for (const char* tag : tags) {
    for (int i = 0; i < deliveries_per_process; ++i) {
      EXPECT_EQ(contents.count(std::string(tag) + "-" + std::to_string(i)), 1u) << tag << i;
    }
  }
}

}  // namespace
