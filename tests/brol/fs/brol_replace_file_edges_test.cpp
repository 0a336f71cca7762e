// Replacing a file at the edges: through symbolic links, over a file the caller may not write, with
// the target's permission bits from the start, and for names as long as the system takes. Real files
// in a temporary folder; a direct open for writing is the reference for what may be replaced.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <string>

#include "brol/config/brol_config.h"
#include "brol/fs/brol_replace_file.h"
#include "brol_test_support.h"

#ifndef _WIN32
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace {

namespace fs = std::filesystem;
using brol_test::read_file;
using brol_test::write_file;

struct replacing {
  brol_replace_file r;
  replacing() { r.init(); }
  ~replacing() { r.destroy(); }
  replacing(const replacing&) = delete;
  replacing& operator=(const replacing&) = delete;
};

// Replaces path's file with text through a replace-file record; false with *error as begin or commit
// left it.
bool replace_with(const std::string& path, const std::string& text, int* error = nullptr) {
  replacing x;
  bool ok = x.r.begin(path.c_str()) &&
            brol_os.file_write(x.r.handle, text.data(), static_cast<std::int32_t>(text.size())) ==
                static_cast<std::int32_t>(text.size()) &&
            x.r.commit();
  if (error != nullptr) *error = x.r.error_number;
  return ok;
}

// Links are followed on POSIX only: Windows symbolic links need a privilege to make and the library
// leaves them alone there (see file_read_link).
#ifdef _WIN32
#define SKIP_WITHOUT_LINKS() GTEST_SKIP() << "the library follows no symbolic links on Windows"
#else
#define SKIP_WITHOUT_LINKS() (void)0
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
// has no read-only attribute); a refusal is EACCES and leaves the file and its folder as they were. (As root every mode is writable on POSIX; the refusal
// is then checked again by a child process without privileges.)
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
    ASSERT_TRUE(x.r.begin(target.c_str()));
    struct stat st {};
    ASSERT_EQ(::fstat(static_cast<int>(x.r.handle), &st), 0);
    EXPECT_EQ(st.st_mode & 07777u, mode) << std::oct << mode;
    ASSERT_TRUE(x.r.commit());
    ASSERT_EQ(::stat(target.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777u, mode) << std::oct << mode;
    ::chmod(target.c_str(), 0600);
  }
  // No target: what open with 0666 less the umask gives.
  const mode_t mask = ::umask(022);
  ::umask(mask);
  replacing x;
  ASSERT_TRUE(x.r.begin(dir.file("fresh").c_str()));
  struct stat st {};
  ASSERT_EQ(::fstat(static_cast<int>(x.r.handle), &st), 0);
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
