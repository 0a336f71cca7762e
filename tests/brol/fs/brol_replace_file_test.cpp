// Replacing a file whole: the new bytes arrive complete, and every failure leaves the old target.
#include "brol/fs/brol_replace_file.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "brol/stream/brol_stream.h"
#include "brol_test_support.h"

namespace {

using brol_test::read_file;
using brol_test::write_file;

std::vector<std::string> names_in(const std::string& folder) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

void put(brol_replace_file& r, const std::string& bytes) {
  ASSERT_EQ(brol_os.file_write(r.handle, bytes.data(), static_cast<std::int32_t>(bytes.size())),
            static_cast<std::int32_t>(bytes.size()));
}

using replacing = brol_scoped<brol_replace_file>;

TEST(BrolReplaceFile, TemporaryFileBesideTheTargetThenTheWholeNewContent) {
  brol_test::temp_dir dir;
  const std::string target = dir.file("settings.ini");
  write_file(target, "old bytes");
  replacing x;
  ASSERT_TRUE(x.begin(target.c_str()));
  const std::string temp = x.temp_path;
  ASSERT_EQ(temp.size(), target.size() + 13) << temp;
  EXPECT_EQ(temp.substr(0, target.size() + 1), target + ".");
  EXPECT_EQ(temp.substr(temp.size() - 4), ".tmp");
  for (char c : temp.substr(target.size() + 1, 8)) {
    EXPECT_TRUE(std::isalnum(static_cast<unsigned char>(c))) << temp;
  }
  put(x, "new ");
  // Until the commit, readers see the old target.
  EXPECT_EQ(read_file(target), "old bytes");
  EXPECT_EQ(names_in(dir.path()).size(), 2u);
  put(x, "content");
  EXPECT_TRUE(x.commit());
  EXPECT_EQ(x.error_number, 0);
  EXPECT_EQ(x.handle, brol_invalid_file);
  EXPECT_EQ(x.temp_path, nullptr);
  EXPECT_EQ(read_file(target), "new content");
  EXPECT_EQ(names_in(dir.path()), std::vector<std::string>{"settings.ini"});
}

TEST(BrolReplaceFile, MissingTargetIsCreatedAndAStreamCanWrite) {
  brol_test::temp_dir dir;
  const std::string target = dir.file("fresh");
  replacing x;
  ASSERT_TRUE(x.begin(target.c_str()));
  brol_stream s;
  s.init(16);
  ASSERT_TRUE(s.attach_file(x.handle, "fresh"));
  ASSERT_TRUE(s.enable_write_buffer());
  EXPECT_TRUE(s.write_text("a line longer than the stream's buffer\n"));
  EXPECT_TRUE(s.write_text("tail"));
  EXPECT_TRUE(s.close(true));
  s.destroy();
  EXPECT_TRUE(x.commit());
  EXPECT_EQ(read_file(target), "a line longer than the stream's buffer\ntail");
}

TEST(BrolReplaceFile, TargetKeepsItsPermissions) {
  if (brol_path_drive_letters) {
    GTEST_SKIP() << "Windows keeps the target's attributes through ReplaceFileA; POSIX keeps its mode here";
  }
  namespace fs = std::filesystem;
  brol_test::temp_dir dir;
  const std::string target = dir.file("private");
  write_file(target, "old");
  fs::permissions(target, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
  replacing x;
  ASSERT_TRUE(x.begin(target.c_str()));
  put(x, "new");
  ASSERT_TRUE(x.commit());
  EXPECT_EQ(read_file(target), "new");
  brol_file_status st{};
  ASSERT_TRUE(brol_os.file_stat(target.c_str(), &st));
  EXPECT_EQ(st.mode & 0777u, 0640u);
}

TEST(BrolReplaceFile, AbortAndDestroyLeaveTheTarget) {
  brol_test::temp_dir dir;
  const std::string target = dir.file("t");
  write_file(target, "keep");
  {
    replacing x;
    ASSERT_TRUE(x.begin(target.c_str()));
    put(x, "lost");
    x.abort();
    EXPECT_EQ(x.handle, brol_invalid_file);
    EXPECT_FALSE(x.commit());
    EXPECT_EQ(x.error_number, EBADF);
    // A second begin drops the first file; destroy drops the second.
    ASSERT_TRUE(x.begin(target.c_str()));
    ASSERT_TRUE(x.begin(target.c_str()));
    put(x, "lost too");
  }
  EXPECT_EQ(read_file(target), "keep");
  EXPECT_EQ(names_in(dir.path()), std::vector<std::string>{"t"});
}

TEST(BrolReplaceFile, BeginRefusals) {
  brol_test::temp_dir dir;
  replacing x;
  struct row {
    const char* target;
    int number;
  };
  const std::string in_missing_folder = dir.file("no/such/t");
  const row rows[] = {{nullptr, EINVAL}, {"", EINVAL}, {in_missing_folder.c_str(), ENOENT}};
  for (const row& r : rows) {
    EXPECT_FALSE(x.begin(r.target));
    EXPECT_EQ(x.error_number, r.number);
    EXPECT_EQ(x.handle, brol_invalid_file);
    EXPECT_EQ(x.target, nullptr);
  }
  EXPECT_TRUE(names_in(dir.path()).empty());
}

// Stand-ins for the platform calls: a chosen call fails with a chosen errno.
struct failing_calls {
  int open_calls = 0;
  int open_taken = 0;  // this many opens find their name taken
  int open_errno = 0;  // the first open fails with this
  int flush_errno = 0;
  int close_errno = 0;
  int replace_errno = 0;
};
failing_calls plan;

brol_file_handle fake_open(const char* path, std::uint32_t access, std::uint32_t disposition) {
  ++plan.open_calls;
  if (plan.open_calls <= plan.open_taken || (plan.open_calls == 1 && plan.open_errno != 0)) {
    errno = plan.open_calls <= plan.open_taken ? EEXIST : plan.open_errno;
    return brol_invalid_file;
  }
  return brol_platform_defaults().file_open(path, access, disposition);
}
// The temporary file is made by file_create_like: the same plan counts and fails it.
brol_file_handle fake_create_like(const char* path, const char* like) {
  ++plan.open_calls;
  if (plan.open_calls <= plan.open_taken || (plan.open_calls == 1 && plan.open_errno != 0)) {
    errno = plan.open_calls <= plan.open_taken ? EEXIST : plan.open_errno;
    return brol_invalid_file;
  }
  return brol_platform_defaults().file_create_like(path, like);
}
bool fake_flush(brol_file_handle f) {
  if (plan.flush_errno != 0) {
    errno = plan.flush_errno;
  }
  return plan.flush_errno == 0 && brol_platform_defaults().file_flush(f);
}
bool fake_close(brol_file_handle f) {
  // The handle goes either way, as a failed close releases it.
  const bool closed = brol_platform_defaults().file_close(f);
  if (plan.close_errno != 0) {
    errno = plan.close_errno;
  }
  return plan.close_errno == 0 && closed;
}
// The replacement closes the new file itself, so a failing close is planned there too.
bool fake_replace(brol_file_handle f, const char* from, const char* to) {
  const int planned = plan.close_errno != 0 ? plan.close_errno : plan.replace_errno;
  if (planned == 0) {
    return brol_platform_defaults().file_replace(f, from, to);
  }
  brol_platform_defaults().file_close(f);
  errno = planned;
  return false;
}

class BrolReplaceFileFailures : public ::testing::Test {
 protected:
  void SetUp() override {
    plan = failing_calls{};
    brol_os.file_open = fake_open;
    brol_os.file_create_like = fake_create_like;
    brol_os.file_flush = fake_flush;
    brol_os.file_close = fake_close;
    brol_os.file_replace = fake_replace;
    target = dir.file("target");
    write_file(target, "old");
  }
  void TearDown() override { brol_os = brol_platform_defaults(); }
  brol_test::temp_dir dir;
  std::string target;
};

TEST_F(BrolReplaceFileFailures, TakenNamesDrawAgainThenGiveUp) {
  replacing x;
  plan.open_taken = 3;
  ASSERT_TRUE(x.begin(target.c_str()));
  EXPECT_EQ(plan.open_calls, 4);
  x.abort();
  plan = failing_calls{};
  plan.open_taken = 1000;
  EXPECT_FALSE(x.begin(target.c_str()));
  EXPECT_EQ(x.error_number, EEXIST);
  EXPECT_GE(plan.open_calls, 3);
  EXPECT_LE(plan.open_calls, 16);
  // Any other refusal is final at once.
  plan = failing_calls{};
  plan.open_errno = EACCES;
  EXPECT_FALSE(x.begin(target.c_str()));
  EXPECT_EQ(x.error_number, EACCES);
  EXPECT_EQ(plan.open_calls, 1);
  EXPECT_EQ(names_in(dir.path()), std::vector<std::string>{"target"});
}

TEST_F(BrolReplaceFileFailures, EveryCommitStepLeavesTheOldTarget) {
  for (int step = 0; step < 3; ++step) {
    SCOPED_TRACE(step);
    plan = failing_calls{};
    replacing x;
    ASSERT_TRUE(x.begin(target.c_str()));
    put(x, "new content");
    (step == 0 ? plan.flush_errno : step == 1 ? plan.close_errno : plan.replace_errno) = ENOSPC - step;
    errno = 0;
    EXPECT_FALSE(x.commit());
    EXPECT_EQ(x.error_number, ENOSPC - step);
    EXPECT_EQ(errno, ENOSPC - step) << "the reason survives the clean-up";
    EXPECT_EQ(x.handle, brol_invalid_file);
    EXPECT_EQ(x.target, nullptr);
    EXPECT_EQ(read_file(target), "old");
    EXPECT_EQ(names_in(dir.path()), std::vector<std::string>{"target"});
  }
}

TEST_F(BrolReplaceFileFailures, AllocationFailureLeavesNothing) {
  replacing x;
  bool begun = false;
  const std::int64_t points =
      brol_test::for_each_allocation_failure([&] { x.abort(); }, [&] { begun = x.begin(target.c_str()); },
                                             [&](std::int64_t) {
                                               EXPECT_FALSE(begun);
                                               EXPECT_EQ(x.error_number, ENOMEM);
                                               EXPECT_EQ(names_in(dir.path()), std::vector<std::string>{"target"});
                                             });
  EXPECT_EQ(points, 2);  // the target's path (links followed) and the temporary name
}

}  // namespace
