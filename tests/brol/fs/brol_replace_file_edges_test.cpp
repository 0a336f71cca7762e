// Replacing a file at the edges: through symbolic links, over a file the caller may not write, with
// the target's permission bits from the start, and for names as long as the system takes. Real files
// in a temporary folder; a direct open for writing is the reference for what may be replaced.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "brol/config/brol_config.h"
#include "brol/fs/brol_replace_file.h"
#include "brol_test_support.h"

#ifndef _WIN32
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>
#endif

namespace {

namespace fs = std::filesystem;
using brol_test::read_file;
using brol_test::write_file;

using replacing = brol_scoped<brol_replace_file>;

// Replaces path's file with text through a replace-file record; false with *error as begin or commit
// left it.
bool replace_with(const std::string& path, const std::string& text, int* error = nullptr) {
  replacing x;
  bool ok = x.begin(path.c_str()) &&
            brol_os.file_write(x.handle, text.data(), static_cast<std::int32_t>(text.size())) ==
                static_cast<std::int32_t>(text.size()) &&
            x.commit();
  if (error != nullptr) *error = x.error_number;
  return ok;
}

// Links are followed on POSIX only: Windows symbolic links need a privilege to make and the library
// leaves them alone there (see file_read_link).
#ifdef _WIN32
#define SKIP_WITHOUT_LINKS() GTEST_SKIP() << "the library follows no symbolic links on Windows"
#else
#define SKIP_WITHOUT_LINKS() (void)0
#endif

#ifndef _WIN32
// A user of its own for the test, made when the test runs as root (useradd) and removed with the
// object; uid 0 when none could be made.
struct other_user {
  std::string name = "broltest" + std::to_string(::getpid());
  uid_t uid = 0;
  gid_t gid = 0;
  other_user() {
    if (::geteuid() != 0 || std::system(("useradd -M -N -s /usr/sbin/nologin " + name).c_str()) != 0) return;
    if (const passwd* pw = ::getpwnam(name.c_str())) {
      uid = pw->pw_uid;
      gid = pw->pw_gid;
    }
  }
  ~other_user() {
    if (uid != 0) (void)std::system(("userdel " + name).c_str());
  }
  other_user(const other_user&) = delete;
  other_user& operator=(const other_user&) = delete;
  // Runs action in a child process as this user: whether it returned true.
  bool run(const std::function<bool()>& action) const {
    const pid_t child = ::fork();
    if (child == 0) {
      const bool became = ::setgroups(0, nullptr) == 0 && ::setgid(gid) == 0 && ::setuid(uid) == 0;
      ::_exit(became && action() ? 0 : 1);
    }
    int status = 0;
    return child > 0 && ::waitpid(child, &status, 0) == child && WIFEXITED(status) && WEXITSTATUS(status) == 0;
  }
};
#define SKIP_WITHOUT_OTHER_USER(user) \
  if ((user).uid == 0) GTEST_SKIP() << "needs root, to make a second user with useradd"
#endif

// Every kind of link: the file it names gets the new text, the link stays a link, and the new file
// was made beside the file named (no stray file in either folder).
TEST(BrolReplaceFileEdges, ThroughSymbolicLinksTheFileNamedIsReplaced) {
  SKIP_WITHOUT_LINKS();
  brol_test::temp_dir dir;
  fs::create_directories(dir.file("real"));
  fs::create_directories(dir.file("links"));
  const std::string real = dir.file("real/settings.ini");
  const struct {
    const char* link;   // made in links/ unless it names a folder
    std::string names;  // the link's own text
  } cases[] = {
      {"links/relative", "../real/settings.ini"},
      {"links/absolute", real},
      {"links/chain", "relative"},  // a link to a link
      {"real/beside", "settings.ini"},
  };
  for (const auto& c : cases) {
    write_file(real, "old");
    const std::string link = dir.file(c.link);
    fs::create_symlink(c.names, link);
    ASSERT_TRUE(replace_with(link, std::string("new through ") + c.link)) << c.link;
    EXPECT_TRUE(fs::is_symlink(link)) << c.link;
    EXPECT_EQ(fs::read_symlink(link).string(), c.names);
    EXPECT_EQ(read_file(real), std::string("new through ") + c.link);
    std::size_t files = 0;
    for (const char* folder : {"real", "links"}) {
      for (const auto& e : fs::directory_iterator(dir.file(folder))) files += e.is_symlink() ? 0u : 1u;
    }
    EXPECT_EQ(files, 1u) << "no temporary file stays";
  }
  // A dangling link: the file it names is created, as a direct write would create it.
  fs::create_symlink("../real/fresh.ini", dir.file("links/dangling"));
  ASSERT_TRUE(replace_with(dir.file("links/dangling"), "fresh"));
  EXPECT_EQ(read_file(dir.file("real/fresh.ini")), "fresh");
  EXPECT_TRUE(fs::is_symlink(dir.file("links/dangling")));
  // Links in a loop: refused as a direct open refuses them, nothing made.
  fs::create_symlink("loop_b", dir.file("links/loop_a"));
  fs::create_symlink("loop_a", dir.file("links/loop_b"));
  int error = 0;
  EXPECT_FALSE(replace_with(dir.file("links/loop_a"), "x", &error));
  EXPECT_EQ(error, ELOOP);
  EXPECT_EQ(std::fopen(dir.file("links/loop_a").c_str(), "w"), nullptr);
  EXPECT_EQ(errno, ELOOP);
}

// Links are followed only where the kernel's protection of links in shared folders would follow
// them (whether or not it is switched on): in a sticky folder that all may write, a link of another
// user (neither the caller nor the folder's owner) is refused with EACCES, and nothing is made
// through it when it dangles.
TEST(BrolReplaceFileEdges, OtherUsersLinksInSharedFoldersAreNotFollowed) {
#ifdef _WIN32
  GTEST_SKIP() << "the library follows no symbolic links on Windows";
#else
  const other_user user;
  SKIP_WITHOUT_OTHER_USER(user);
  const struct {
    const char* name;
    unsigned folder_mode;
    bool folder_theirs;  // the folder belongs to the other user, else to root
    bool link_theirs;    // the link belongs to the other user, else to root
    bool dangling;       // the link names a file that does not exist yet
    bool followed;
  } rows[] = {
      {"their link in a shared sticky folder", 01777, false, true, false, false},
      {"their dangling link there", 01777, false, true, true, false},
      {"our own link there", 01777, false, false, false, true},
      {"their link in their own sticky folder", 01777, true, true, false, true},
      {"their link in a folder that is not sticky", 0777, false, true, false, true},
      {"their link in a sticky folder not all may write", 01775, false, true, false, true},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.name);
    brol_test::temp_dir dir;
    const std::string shared = dir.file("shared"), secret = dir.file(r.dangling ? "made" : "secret");
    fs::create_directory(shared);
    ASSERT_EQ(::chmod(shared.c_str(), r.folder_mode), 0);
    ASSERT_EQ(::chown(shared.c_str(), r.folder_theirs ? user.uid : 0, 0), 0);
    if (!r.dangling) write_file(secret, "root's own");
    const std::string link = shared + "/settings.ini";
    fs::create_symlink(secret, link);
    ASSERT_EQ(::lchown(link.c_str(), r.link_theirs ? user.uid : 0, r.link_theirs ? user.gid : 0), 0);
    int error = 0;
    EXPECT_EQ(replace_with(link, "new", &error), r.followed) << error;
    EXPECT_EQ(read_file(secret), r.followed ? "new" : r.dangling ? "<missing>" : "root's own");
    EXPECT_EQ(error, r.followed ? 0 : EACCES);
    EXPECT_TRUE(fs::is_symlink(link));
  }
#endif
}

// Between begin and commit someone who may write the folder renames the new file and puts a link
// (or a file of their own) under its name: commit renames nothing that is not the file it wrote
// (ENOENT), never changes the mode of what the link names, and the target stays as it was. In a
// sticky folder the rename is refused to them and the commit goes through.
TEST(BrolReplaceFileEdges, ANewFileSwappedBeforeTheCommitIsNeverPutInPlace) {
#ifdef _WIN32
  GTEST_SKIP() << "Windows keeps the new file open without sharing until it replaces the target";
#else
  const other_user user;
  SKIP_WITHOUT_OTHER_USER(user);
  const struct {
    const char* name;
    unsigned folder_mode;
    bool as_link;  // a link to root's secret file, else a file of their own
    bool committed;
  } rows[] = {
      {"a link to a secret file", 0777, true, false},
      {"a file of their own", 0777, false, false},
      {"refused by the sticky bit", 01777, true, true},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.name);
    brol_test::temp_dir dir;
    ASSERT_EQ(::chmod(dir.path().c_str(), 0755), 0);
    const std::string shared = dir.file("shared"), secret = dir.file("secret");
    fs::create_directory(shared);
    ASSERT_EQ(::chmod(shared.c_str(), r.folder_mode), 0);
    write_file(secret, "root's own");
    ASSERT_EQ(::chmod(secret.c_str(), 0600), 0);
    const std::string target = shared + "/settings.ini";
    write_file(target, "old");
    ASSERT_EQ(::chmod(target.c_str(), 0644), 0);
    replacing x;
    ASSERT_TRUE(x.begin(target.c_str()));
    ASSERT_EQ(brol_os.file_write(x.handle, "new", 3), 3);
    const std::string temp = x.temp_path;
    const bool swapped = user.run([&] {
      if (std::rename(temp.c_str(), (temp + ".moved").c_str()) != 0) return false;
      if (r.as_link) return ::symlink(secret.c_str(), temp.c_str()) == 0;
      std::FILE* f = std::fopen(temp.c_str(), "w");
      return f != nullptr && std::fclose(f) == 0;
    });
    EXPECT_EQ(swapped, !r.committed);
    EXPECT_EQ(x.commit(), r.committed);
    EXPECT_EQ(x.error_number, r.committed ? 0 : ENOENT);
    EXPECT_FALSE(fs::is_symlink(target));
    EXPECT_EQ(read_file(target), r.committed ? "new" : "old");
    struct stat st {};
    ASSERT_EQ(::stat(secret.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777u, 0600u) << "the secret file's mode was changed";
  }
#endif
}

// The configuration's save (the case that lost the user's settings) keeps the link too.
TEST(BrolReplaceFileEdges, AConfigurationSavedThroughALinkKeepsIt) {
  SKIP_WITHOUT_LINKS();
  brol_test::temp_dir dir;
  write_file(dir.file("dotfiles.ini"), "[main]\nport=5500\n");
  fs::create_symlink("dotfiles.ini", dir.file("app.ini"));
  brol_config c;
  c.init();
  ASSERT_TRUE(c.load(dir.file("app.ini").c_str()));
  ASSERT_TRUE(c.set("main", "port", "5501", '=', brol_cfg_unquoted));
  ASSERT_TRUE(c.save(nullptr));
  c.destroy();
  EXPECT_TRUE(fs::is_symlink(dir.file("app.ini")));
  EXPECT_EQ(read_file(dir.file("dotfiles.ini")), "[main]\nport=5501\n");
}

// A file is replaced exactly when a direct open for writing would succeed (on Windows, and when it
// has no read-only attribute); a refusal is EACCES and leaves the file and its folder as they were. (As root every mode
// is writable on POSIX; the refusal is then checked again by a child process without privileges.)
TEST(BrolReplaceFileEdges, OnlyAFileTheCallerMayWriteIsReplaced) {
  brol_test::temp_dir dir;
  const fs::perms modes[] = {fs::perms::owner_read | fs::perms::owner_write, fs::perms::owner_read,
                             fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read};
  for (const fs::perms mode : modes) {
    const std::string target = dir.file("target");
    write_file(target, "old");
    fs::permissions(target, mode);
    std::FILE* direct = std::fopen(target.c_str(), "r+");
    // Windows never replaces a file with the read-only attribute (ReplaceFileA refuses it), even
    // where a direct write is let through, as Wine lets root write one.
    const bool read_only = (mode & fs::perms::owner_write) == fs::perms::none;
    const bool writable = direct != nullptr && !(brol_path_drive_letters && read_only);
    if (direct != nullptr) std::fclose(direct);
    int error = 0;
    EXPECT_EQ(replace_with(target, "new", &error), writable) << static_cast<int>(mode) << " error " << error;
    EXPECT_EQ(read_file(target), writable ? "new" : "old");
    if (!writable) {
      EXPECT_EQ(error, EACCES);
    }
    fs::permissions(target, fs::perms::owner_all);
    fs::remove(target);
    EXPECT_TRUE(fs::is_empty(dir.path()));
  }
#ifndef _WIN32
  if (::geteuid() != 0) return;
  // A child that is nobody, in a folder it may write, over a file it may only read.
  fs::permissions(dir.path(), fs::perms::all);
  const std::string target = dir.file("theirs");
  write_file(target, "old");
  fs::permissions(target, fs::perms::owner_read | fs::perms::owner_write | fs::perms::others_read);
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    if (::setgid(65534) != 0 || ::setuid(65534) != 0) ::_exit(2);
    int error = 0;
    const bool replaced = replace_with(target, "new", &error);
    ::_exit(!replaced && error == EACCES ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  EXPECT_EQ(read_file(target), "old");
#endif
}

// From begin on, before any byte is written, the new file has the target's permission bits; with no
// target it has the bits a direct creation gives.
TEST(BrolReplaceFileEdges, TheNewFileHasTheTargetsBitsBeforeTheFirstByte) {
#ifdef _WIN32
  GTEST_SKIP() << "Windows has no permission bits; ReplaceFileA gives the target's attributes";
#else
  brol_test::temp_dir dir;
  const std::string target = dir.file("target");
  for (const unsigned mode : {0600u, 0640u, 0644u, 0400u, 0755u, 0666u, 0604u, 02640u}) {
    write_file(target, "old");
    ASSERT_EQ(::chmod(target.c_str(), mode), 0);
    replacing x;
    ASSERT_TRUE(x.begin(target.c_str()));
    struct stat st {};
    ASSERT_EQ(::fstat(static_cast<int>(x.handle), &st), 0);
    EXPECT_EQ(st.st_mode & 07777u, mode) << std::oct << mode;
    ASSERT_TRUE(x.commit());
    ASSERT_EQ(::stat(target.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777u, mode) << std::oct << mode;
    ::chmod(target.c_str(), 0600);
  }
  // No target: what open with 0666 less the umask gives.
  const mode_t mask = ::umask(022);
  ::umask(mask);
  replacing x;
  ASSERT_TRUE(x.begin(dir.file("fresh").c_str()));
  struct stat st {};
  ASSERT_EQ(::fstat(static_cast<int>(x.handle), &st), 0);
  EXPECT_EQ(st.st_mode & 0777u, 0666u & ~mask);
#endif
}

// Every name length up to the longest the system takes can be replaced (the temporary name is cut
// short where it would be too long), and a direct write of the same name is the reference, also one
// byte past the limits (Wine, for one, takes paths longer than MAX_PATH).
TEST(BrolReplaceFileEdges, NamesAsLongAsTheSystemTakes) {
  brol_test::temp_dir dir;
  const std::int64_t room = brol_path_max - static_cast<std::int64_t>(dir.file("").size());
  const std::int64_t longest = room < brol_name_max ? room : brol_name_max;
  ASSERT_GT(longest, 20);
  for (std::int64_t n = longest - 14; n <= longest + 1; ++n) {
    const std::string target = dir.file(std::string(static_cast<std::size_t>(n), 'n'));
    std::FILE* direct = std::fopen(target.c_str(), "w");
    const bool accepted = direct != nullptr;
    if (direct != nullptr) std::fclose(direct);
    if (n <= longest) {
      EXPECT_TRUE(accepted) << n;  // within both limits the system takes the name
    }
    EXPECT_EQ(replace_with(target, "new " + std::to_string(n)), accepted) << n;
    if (accepted) {
      EXPECT_EQ(read_file(target), "new " + std::to_string(n));
    }
    std::remove(target.c_str());
    EXPECT_TRUE(fs::is_empty(dir.path())) << n;
  }
}

}  // namespace
