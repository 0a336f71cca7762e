// Directory creation and path kinds on the real file system, their log messages, and failures of
// every platform call and allocation through the seams.
#include "brol/fs/brol_mkdir.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "brol/log/brol_log.h"
#include "brol/platform/brol_platform.h"
#include "brol_test_support.h"

namespace {

const std::string sep(1, brol_path_separator);

struct logged {
  std::uint8_t level;
  std::int32_t error_number;
  std::string message, function, source;
};
std::vector<logged> messages;

std::int64_t capture(const brol_log_entry* e) {
  messages.push_back({e->level, e->error_number, e->message, e->function, e->source});
  return 1;
}

void make_file(const std::string& path) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  ASSERT_NE(f, nullptr) << path;
  std::fclose(f);
}

// prefix followed by n (built by appending: "literal" + std::string trips a false -Wrestrict of
// GCC 12 at -O3).
std::string numbered(const char* prefix, int n) {
  std::string name = prefix;
  name += std::to_string(n);
  return name;
}

bool is_dir(const std::string& path) { return brol_path_kind(path.c_str()) == 2; }

// Every directory created, in order, through the real call.
std::vector<std::string> created;
bool recording_dir_create(const char* path) {
  created.push_back(path);
  return brol_platform_defaults().dir_create(path);
}

// Runs with the log captured by the hook and directory creations recorded; the working folder is a
// fresh temporary folder, so relative paths land there.
class BrolMkdir : public ::testing::Test {
 protected:
  void SetUp() override {
    messages.clear();
    created.clear();
    brol_log_hook = capture;
    brol_os.dir_create = recording_dir_create;
    previous = std::filesystem::current_path();
    std::filesystem::current_path(dir.path());
  }
  void TearDown() override {
    std::filesystem::current_path(previous);
    brol_os = brol_platform_defaults();
    brol_log_hook = nullptr;
  }
  std::string at(const std::string& relative) const { return dir.path() + sep + relative; }

  brol_test::temp_dir dir;
  std::filesystem::path previous;
};

TEST_F(BrolMkdir, DeepTreeIsMadeFromTheTopDown) {
  const std::string top = at("a");
  const std::string deep = top + sep + "b" + sep + "c" + sep + "d" + sep + "e";
  EXPECT_TRUE(brol_mkdir(deep.c_str()));
  EXPECT_EQ(created, (std::vector<std::string>{top, top + sep + "b", top + sep + "b" + sep + "c",
                                               top + sep + "b" + sep + "c" + sep + "d", deep}));
  EXPECT_TRUE(is_dir(deep));
  EXPECT_TRUE(messages.empty());
  // Existing: nothing made, nothing logged.
  created.clear();
  EXPECT_TRUE(brol_mkdir(deep.c_str()));
  EXPECT_TRUE(brol_mkdir(dir.path().c_str()));
  EXPECT_TRUE(created.empty());
  EXPECT_TRUE(messages.empty());
}

TEST_F(BrolMkdir, RelativeTrailingAndDoubledSeparators) {
  struct row {
    std::string path;
    std::vector<std::string> made;
  };
  const std::string a_b = "a" + sep + "b";
  const row rows[] = {
      {a_b, {"a", a_b}},
      {"x" + sep + "y" + sep, {"x", "x" + sep + "y"}},
      {"t" + sep + sep + sep, {"t"}},
      {"p" + sep + sep + "q", {"p", "p" + sep + sep + "q"}},
      {a_b + sep + "c" + sep, {a_b + sep + "c"}},
      {sep, {}},  // the root
  };
  for (const row& r : rows) {
    created.clear();
    EXPECT_TRUE(brol_mkdir(r.path.c_str())) << r.path;
    EXPECT_EQ(created, r.made) << r.path;
  }
  EXPECT_TRUE(is_dir(at("p" + sep + "q")));
  EXPECT_TRUE(messages.empty());
}

TEST_F(BrolMkdir, PathSyntaxOfThePlatform) {
  // The other system's separator is no separator here: the path is made in one creation (inside m
  // on Windows, whose file system takes '/' too; as the name "m\n" on POSIX).
  ASSERT_TRUE(brol_mkdir("m"));
  created.clear();
  const char other = brol_path_separator == '/' ? '\\' : '/';
  const std::string name = std::string("m") + other + "n";
  EXPECT_TRUE(brol_mkdir(name.c_str()));
  EXPECT_EQ(created, std::vector<std::string>{name});
  EXPECT_TRUE(is_dir(at(name)));
  // Drive-like names are drives only where the system has drive letters.
  if (!brol_path_drive_letters) {
    EXPECT_TRUE(brol_mkdir("C:"));
    EXPECT_TRUE(brol_mkdir("Q:/x"));
    EXPECT_EQ(brol_path_kind("C:"), 2);
    EXPECT_EQ(brol_path_kind("q:"), 0);
    EXPECT_EQ(brol_os.logical_drives(), 0u);
  }
  EXPECT_TRUE(messages.empty());
}

TEST_F(BrolMkdir, FileInTheWayAtEveryDepth) {
  const std::vector<std::string> parts = {"d0", "d1", "d2", "d3"};
  for (std::size_t depth = 0; depth < parts.size(); ++depth) {
    SCOPED_TRACE(depth);
    const std::string base = at(numbered("f", static_cast<int>(depth)));
    ASSERT_TRUE(brol_mkdir(base.c_str()));
    std::string path = base;
    std::string file;
    for (std::size_t i = 0; i < parts.size(); ++i) {
      path += sep + parts[i];
      if (i < depth) {
        ASSERT_TRUE(brol_mkdir(path.c_str()));
      } else if (i == depth) {
        make_file(path);
        file = path;
      }
    }
    messages.clear();
    created.clear();
    EXPECT_FALSE(brol_mkdir(path.c_str()));
    EXPECT_TRUE(created.empty());
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].message, "mkdir(" + file + ") is a file");
    EXPECT_EQ(messages[0].level, 1);
    EXPECT_EQ(messages[0].error_number, ENOTDIR);
    EXPECT_EQ(messages[0].function, "brol_mkdir_step");
    EXPECT_EQ(messages[0].source, "brol_mkdir");
    EXPECT_EQ(brol_path_kind(file.c_str()), 1);
  }
}

TEST_F(BrolMkdir, StepLeavesTheTextCutOnlyAfterAFailure) {
  std::string path = at("s" + sep + "t" + sep + "u");
  std::vector<char> text(path.begin(), path.end());
  text.push_back('\0');
  EXPECT_TRUE(brol_mkdir_step(text.data()));
  EXPECT_EQ(std::string(text.data()), path);
  make_file(at("blocker"));
  path = at("blocker" + sep + "x" + sep + "y");
  text.assign(path.begin(), path.end());
  text.push_back('\0');
  EXPECT_FALSE(brol_mkdir_step(text.data()));
  EXPECT_EQ(std::string(text.data()), at("blocker"));
  EXPECT_TRUE(brol_mkdir_step(nullptr));
  char empty[] = "";
  EXPECT_TRUE(brol_mkdir_step(empty));
}

TEST_F(BrolMkdir, WrongParameterAndNoMemory) {
  EXPECT_FALSE(brol_mkdir(""));
  EXPECT_FALSE(brol_mkdir(nullptr));
  ASSERT_EQ(messages.size(), 2u);
  EXPECT_EQ(messages[0].message, "brol_mkdir() wrong parameter");
  EXPECT_EQ(messages[1].message, "brol_mkdir((null)) wrong parameter");
  EXPECT_EQ(messages[0].error_number, EINVAL);
  EXPECT_EQ(messages[0].level, 1);
  EXPECT_EQ(messages[0].function, "brol_mkdir");
  EXPECT_EQ(messages[0].source, "brol_mkdir");

  const std::string path = at("n" + sep + "o");
  bool made = true;
  const std::int64_t points = brol_test::for_each_allocation_failure(
      [&] { messages.clear(); }, [&] { made = brol_mkdir(path.c_str()); },
      [&](std::int64_t) {
        EXPECT_FALSE(made);
        ASSERT_EQ(messages.size(), 1u);
        EXPECT_EQ(messages[0].level, 3);
        EXPECT_EQ(messages[0].error_number, ENOMEM);
        EXPECT_EQ(messages[0].message, std::string("error 12: '") + std::strerror(ENOMEM) + "'");
        EXPECT_EQ(messages[0].function, "brol_mkdir");
      });
  EXPECT_EQ(points, 1);
}

// --- Platform failures through the call table ---------------------------------------------------

int refuse_at = 0;  // the n-th creation fails with refuse_errno
int refuse_errno = 0;
bool won_by_other = false;  // the failing creation finds the directory made by someone else
bool refusing_dir_create(const char* path) {
  created.push_back(path);
  if (static_cast<int>(created.size()) != refuse_at) {
    return brol_platform_defaults().dir_create(path);
  }
  if (won_by_other) {
    brol_platform_defaults().dir_create(path);
  }
  errno = refuse_errno;
  return false;
}

TEST_F(BrolMkdir, RefusedCreationLogsTheSystemsReason) {
  brol_os.dir_create = refusing_dir_create;
  const int reasons[] = {EACCES, ENOSPC, EROFS};
  for (int depth = 1; depth <= 3; ++depth) {
    SCOPED_TRACE(depth);
    created.clear();
    messages.clear();
    refuse_at = depth;
    refuse_errno = reasons[depth - 1];
    won_by_other = false;
    const std::string top = at(numbered("r", depth));
    const std::string path = top + sep + "b" + sep + "c";
    errno = 0;
    EXPECT_FALSE(brol_mkdir(path.c_str()));
    ASSERT_EQ(created.size(), static_cast<std::size_t>(depth));
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].error_number, refuse_errno);
    EXPECT_EQ(messages[0].message,
              "mkdir(" + created.back() + ") could not create directory, " + std::strerror(refuse_errno));
    EXPECT_EQ(messages[0].function, "brol_mkdir_step");
    // What was made before the failure stays.
    EXPECT_EQ(is_dir(top), depth > 1);
  }
}

TEST_F(BrolMkdir, AnotherProcessCreatingFirstIsSuccess) {
  brol_os.dir_create = refusing_dir_create;
  refuse_errno = EEXIST;
  won_by_other = true;
  for (refuse_at = 1; refuse_at <= 3; ++refuse_at) {
    created.clear();
    const std::string path = at(numbered("w", refuse_at) + sep + "b" + sep + "c");
    EXPECT_TRUE(brol_mkdir(path.c_str()));
    EXPECT_TRUE(is_dir(path));
  }
  EXPECT_TRUE(messages.empty());
  // But a file that appeared instead is a failure.
  won_by_other = false;
  refuse_at = 1;
  created.clear();
  make_file(at("late"));
  brol_os.file_stat = [](const char* path, brol_file_status* out) {
    // The first look finds nothing: the file arrives between the look and the creation.
    static int calls = 0;
    return ++calls > 1 && brol_platform_defaults().file_stat(path, out);
  };
  EXPECT_FALSE(brol_mkdir(at("late").c_str()));
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0].error_number, EEXIST);
}

TEST(BrolMkdirRace, TwoWritersMakeTheSameTree) {
  brol_test::temp_dir dir;
  std::string path = dir.path();
  // Twenty levels stay within Windows' 260-character paths.
  for (int i = 0; i < 20; ++i) {
    path += sep + "level" + std::to_string(i);
  }
  for (int round = 0; round < 5; ++round) {
    const std::string tree = path + std::to_string(round);
    bool first = false, second = false;
    std::thread other([&] { second = brol_mkdir(tree.c_str()); });
    first = brol_mkdir(tree.c_str());
    other.join();
    EXPECT_TRUE(first && second) << round << " " << tree;
    std::filesystem::remove_all(dir.path() + sep + "level0");
  }
}

// --- Path kinds ---------------------------------------------------------------------------------

TEST_F(BrolMkdir, PathKinds) {
  make_file(at("file"));
  ASSERT_TRUE(brol_mkdir(at("folder").c_str()));
  struct row {
    std::string path;
    int kind;
  };
  const row rows[] = {{"", 0},           {at("missing"), 0}, {at("file"), 1}, {"file", 1},
                      {at("folder"), 2}, {"folder", 2},      {sep, 2},        {at("file") + sep + "x", 0}};
  for (const row& r : rows) {
    EXPECT_EQ(brol_path_kind(r.path.c_str()), r.kind) << r.path;
  }
  EXPECT_EQ(brol_path_kind(nullptr), 0);
}

std::uint32_t chosen_drives = 0;
std::uint32_t fake_drives() { return chosen_drives; }

TEST_F(BrolMkdir, DriveLettersFollowTheLogicalDrives) {
  if (!brol_path_drive_letters) {
    GTEST_SKIP() << "no drive letters in this build; PathSyntaxOfThePlatform covers \"C:\"";
  }
  // The real drives: every letter in use is a folder, the others are nothing.
  const std::uint32_t drives = brol_os.logical_drives();
  ASSERT_NE(drives & (1u << 2), 0u) << "drive C is expected";
  for (int letter = 0; letter < 26; ++letter) {
    const char upper[] = {static_cast<char>('A' + letter), ':', '\0'};
    const char lower[] = {static_cast<char>('a' + letter), ':', '\0'};
    const int expected = ((drives >> letter) & 1u) != 0 ? 2 : 0;
    EXPECT_EQ(brol_path_kind(upper), expected) << upper;
    EXPECT_EQ(brol_path_kind(lower), expected) << lower;
  }
  EXPECT_EQ(brol_path_kind("c:\\"), 2);
  EXPECT_EQ(brol_path_kind("c:x"), 0);
  // Only the letter and its colon ask the drive list; nothing else does.
  brol_os.logical_drives = fake_drives;
  chosen_drives = 1u << ('Q' - 'A');
  EXPECT_EQ(brol_path_kind("q:"), 2);
  EXPECT_EQ(brol_path_kind("C:"), 0);
  EXPECT_EQ(brol_path_kind("C:\\"), 2);
  EXPECT_EQ(brol_path_kind("1:"), 0);

  // A drive that is not in use: the recursion stops at its root, and the creation fails there.
  brol_os.logical_drives = brol_platform_defaults().logical_drives;
  int missing = 25;
  while (missing > 3 && ((drives >> missing) & 1u) != 0) {
    --missing;
  }
  const std::string root = std::string(1, static_cast<char>('A' + missing)) + ":\\";
  created.clear();
  EXPECT_FALSE(brol_mkdir((root + "x\\y").c_str()));
  EXPECT_EQ(created, std::vector<std::string>{root + "x"});
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0].message,
            "mkdir(" + root + "x) could not create directory, " + std::strerror(messages[0].error_number));
  EXPECT_TRUE(messages[0].error_number == ENOENT || messages[0].error_number == EACCES) << messages[0].error_number;
  // An existing drive's root is a directory already.
  created.clear();
  messages.clear();
  EXPECT_TRUE(brol_mkdir("C:\\"));
  EXPECT_TRUE(brol_mkdir("c:\\\\"));
  EXPECT_TRUE(created.empty());
  EXPECT_TRUE(messages.empty());
}

}  // namespace
