// Tests of the two file primitives every reader and writer of the application goes through:
// readRegularFile (special files refused without blocking, size caps) and writeFileAtomically
// (links followed, permissions kept, failures leave the old file and no temporary behind).
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <set>

#include "core/AtomicFile.h"
#include "core/SafeFileReader.h"
#include "support/Files.h"

namespace fs = std::filesystem;

namespace {

using wd::test::readFile;
using wd::test::writeFile;

// A fresh directory per test.
class FileIo : public ::testing::Test {
 protected:
  static mode_t permissions(const fs::path& p) {
    struct stat st {};
    return ::stat(p.c_str(), &st) == 0 ? st.st_mode & 07777 : 0;
  }
  // Names in `dir`: a failed write must leave exactly what was there.
  static std::set<std::string> names(const fs::path& dir) {
    std::set<std::string> out;
    for (const auto& e : fs::directory_iterator(dir)) out.insert(e.path().filename().string());
    return out;
  }
  const fs::path dir_ = wd::test::testDirectory();
};

TEST_F(FileIo, ReaderAnswersEveryKindOfPath) {
  writeFile(dir_ / "text", "hello");
  writeFile(dir_ / "empty", "");
  writeFile(dir_ / "cap", std::string(16, 'x'));
  writeFile(dir_ / "over", std::string(17, 'x'));
  fs::create_symlink("/dev/zero", dir_ / "zero");
  ASSERT_EQ(::mkfifo((dir_ / "fifo").c_str(), 0600), 0);
  fs::create_directory(dir_ / "folder");
  fs::create_symlink(dir_ / "nowhere", dir_ / "dangling");
  writeFile(dir_ / "huge", "");
  fs::resize_file(dir_ / "huge", 4 * 1024 * 1024 + 1);  // sparse: costs no disk

  struct Case {
    const char* name;
    fs::path path;
    std::size_t cap;
    std::optional<std::string> data;
    std::string error;  // a part of the reason
  } cases[] = {
      {"regular file", dir_ / "text", 16, "hello", ""},
      {"empty file", dir_ / "empty", 16, "", ""},
      {"exactly the cap", dir_ / "cap", 16, std::string(16, 'x'), ""},
      {"one byte over the cap", dir_ / "over", 16, std::nullopt, "larger than 16 bytes"},
      {"size over the cap", dir_ / "huge", 4 * 1024 * 1024, std::nullopt, "larger than 4 MiB"},
      {"link to /dev/zero", dir_ / "zero", 4096, std::nullopt, "not a regular file"},
      {"FIFO", dir_ / "fifo", 4096, std::nullopt, "not a regular file (a FIFO)"},
      {"directory", dir_ / "folder", 4096, std::nullopt, "not a regular file (a directory)"},
      {"dangling link", dir_ / "dangling", 4096, std::nullopt, "No such file"},
      {"missing file", dir_ / "missing", 4096, std::nullopt, "No such file"},
      {"empty path", fs::path(), 4096, std::nullopt, "empty path"},
      // Files that report size 0 but have contents are read to their end, within the cap.
      {"proc file under the cap", "/proc/self/cmdline", 1 << 20, std::nullopt, ""},
      {"proc file over the cap", "/proc/self/maps", 8, std::nullopt, "larger than 8 bytes"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const auto got = wd::readRegularFile(c.path, c.cap);
    if (c.error.empty()) {
      ASSERT_TRUE(got.data.has_value()) << got.error;
      if (c.data)
        EXPECT_EQ(*got.data, *c.data);
      else
        EXPECT_FALSE(got.data->empty());
      EXPECT_TRUE(got.error.empty());
    } else {
      EXPECT_FALSE(got.data.has_value());
      EXPECT_NE(got.error.find(c.error), std::string::npos) << got.error;
      EXPECT_EQ(got.error.find('\n'), std::string::npos);
    }
  }
}

TEST_F(FileIo, WriterCreatesReplacesAndKeepsPermissions) {
  EXPECT_EQ(wd::writeFileAtomically(dir_ / "new", "one", 0640), std::nullopt);
  EXPECT_EQ(readFile(dir_ / "new"), "one");
  EXPECT_EQ(permissions(dir_ / "new"), 0640u);

  writeFile(dir_ / "old", "old contents");
  fs::permissions(dir_ / "old", fs::perms::owner_read | fs::perms::owner_write);
  EXPECT_EQ(wd::writeFileAtomically(dir_ / "old", "two"), std::nullopt);
  EXPECT_EQ(readFile(dir_ / "old"), "two");
  EXPECT_EQ(permissions(dir_ / "old"), 0600u);

  EXPECT_EQ(wd::writeFileAtomically(dir_ / "old", ""), std::nullopt);
  EXPECT_EQ(readFile(dir_ / "old"), "");
  EXPECT_EQ(names(dir_), (std::set<std::string>{"new", "old"}));
}

TEST_F(FileIo, WriterFollowsLinksAndKeepsThem) {
  fs::create_directories(dir_ / "dotfiles");
  writeFile(dir_ / "dotfiles" / "real", "old");
  fs::create_symlink(dir_ / "dotfiles" / "real", dir_ / "absolute");
  fs::create_symlink("dotfiles/real", dir_ / "relative");
  fs::create_symlink("relative", dir_ / "chain");
  fs::create_symlink("dotfiles/created", dir_ / "dangling");
  for (const char* link : {"absolute", "relative", "chain"}) {
    SCOPED_TRACE(link);
    EXPECT_EQ(wd::writeFileAtomically(dir_ / link, link), std::nullopt);
    EXPECT_TRUE(fs::is_symlink(dir_ / link));
    EXPECT_EQ(readFile(dir_ / "dotfiles" / "real"), link);
  }
  // A dangling link whose folder exists gets its target created.
  EXPECT_EQ(wd::writeFileAtomically(dir_ / "dangling", "made", 0600), std::nullopt);
  EXPECT_TRUE(fs::is_symlink(dir_ / "dangling"));
  EXPECT_EQ(readFile(dir_ / "dotfiles" / "created"), "made");
  EXPECT_EQ(permissions(dir_ / "dotfiles" / "created"), 0600u);
  EXPECT_EQ(names(dir_ / "dotfiles"), (std::set<std::string>{"created", "real"}));
}

TEST_F(FileIo, FailedWriteChangesNothing) {
  writeFile(dir_ / "keep", "old");
  fs::create_directory(dir_ / "folder");
  fs::create_symlink("missing-folder/file", dir_ / "into-nowhere");
  fs::create_symlink("loop-b", dir_ / "loop-a");
  fs::create_symlink("loop-a", dir_ / "loop-b");
  const auto before = names(dir_);
  for (const char* name : {"folder", "into-nowhere", "loop-a"}) {
    SCOPED_TRACE(name);
    const auto why = wd::writeFileAtomically(dir_ / name, "new");
    ASSERT_TRUE(why.has_value());
    EXPECT_FALSE(why->empty());
    EXPECT_EQ(why->find('\n'), std::string::npos);
  }
  EXPECT_TRUE(fs::is_symlink(dir_ / "into-nowhere"));
  EXPECT_TRUE(fs::is_directory(dir_ / "folder"));
  EXPECT_EQ(names(dir_), before);
  EXPECT_FALSE(fs::exists(dir_ / "missing-folder"));
}

// Start-up's clean-up takes only old temporaries named as the writer names them, in the folder
// itself: a recent one (a writer may still be busy), other names, folders and links stay.
TEST_F(FileIo, LeftoverTemporariesAreRemovedOnlyWhenOldAndNamedSo) {
  const struct {
    const char* name;
    bool old;
    bool removed;
  } cases[] = {
      {"settings.plist.tmp-a1B2c3", true, true},
      {"MacGapWindow.json.tmp-XyZ123", true, true},
      {"settings.plist.tmp-a1B2c4", false, false},  // recent
      {"settings.plist", true, false},
      {"notes.tmp-ab", true, false},
      {".tmp-abcdef", true, false},
      {"a.tmp-abcdef.bak", true, false},
  };
  const timespec old[2] = {{::time(nullptr) - 3600, 0}, {::time(nullptr) - 3600, 0}};
  for (const auto& c : cases) {
    writeFile(dir_ / c.name, "x");
    if (c.old) {
      ASSERT_EQ(::utimensat(AT_FDCWD, (dir_ / c.name).c_str(), old, 0), 0);
    }
  }
  fs::create_directory(dir_ / "dir.tmp-abcdef");
  fs::create_directory(dir_ / "sub");
  writeFile(dir_ / "sub" / "x.tmp-abcdef", "x");
  ASSERT_EQ(::utimensat(AT_FDCWD, (dir_ / "sub" / "x.tmp-abcdef").c_str(), old, 0), 0);
  fs::create_symlink(dir_ / "settings.plist", dir_ / "link.tmp-abcdef");

  EXPECT_EQ(wd::removeLeftoverTemporaries(dir_), 2u);
  for (const auto& c : cases) EXPECT_EQ(fs::exists(dir_ / c.name), !c.removed) << c.name;
  EXPECT_TRUE(fs::exists(dir_ / "dir.tmp-abcdef"));
  EXPECT_TRUE(fs::exists(dir_ / "sub" / "x.tmp-abcdef"));
  EXPECT_TRUE(fs::is_symlink(dir_ / "link.tmp-abcdef"));
  EXPECT_EQ(wd::removeLeftoverTemporaries(dir_ / "missing"), 0u);
}

TEST_F(FileIo, FullDiskLeavesTheOldFileAndNoTemporary) {
  writeFile(dir_ / "keep", "old");
  // A file-size limit makes write() fail with EFBIG part-way, as a full disk fails it with
  // ENOSPC; SIGXFSZ would otherwise end the test process.
  struct rlimit saved {};
  ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
  struct sigaction ignore {
  }, previous{};
  ignore.sa_handler = SIG_IGN;
  ::sigaction(SIGXFSZ, &ignore, &previous);
  struct rlimit small = saved;
  small.rlim_cur = 4096;
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
  const auto why = wd::writeFileAtomically(dir_ / "keep", std::string(100000, 'n'));
  ::setrlimit(RLIMIT_FSIZE, &saved);
  ::sigaction(SIGXFSZ, &previous, nullptr);
  ASSERT_TRUE(why.has_value());
  EXPECT_NE(why->find("write"), std::string::npos) << *why;
  EXPECT_EQ(readFile(dir_ / "keep"), "old");
  EXPECT_EQ(names(dir_), std::set<std::string>{"keep"});
}

}  // namespace
