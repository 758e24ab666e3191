// The file primitives every reader and writer of the application goes through: readRegularFile,
// writeFileAtomically and the removal of its leftover temporaries.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <set>

#include "core/AtomicFile.h"
#include "core/SafeFileReader.h"
#include "core/UserDefaults.h"
#include "support/Files.h"

namespace fs = std::filesystem;
using namespace wd::test;
using Names = std::set<std::string>;

namespace {

class FileIo : public ::testing::Test {
 protected:
  static fs::perms permissions(const fs::path& p) { return fs::status(p).permissions(); }
  static Names names(const fs::path& dir) {
    Names out;
    for (const auto& e : fs::directory_iterator(dir)) out.insert(e.path().filename().string());
    return out;
  }
  const fs::path dir_ = wd::test::testDirectory();
};

}  // namespace

TEST_F(FileIo, ReaderAnswersEveryKindOfPath) {
  writeFile(dir_ / "text", "hello");
  writeFile(dir_ / "empty", "");
  writeFile(dir_ / "cap", std::string(16, 'x'));
  writeFile(dir_ / "over", std::string(17, 'x'));
  fs::create_symlink("/dev/zero", dir_ / "zero");
  ASSERT_EQ(::mkfifo((dir_ / "fifo").c_str(), 0600), 0);
  fs::create_directory(dir_ / "folder");
  writeFile(dir_ / "huge", "");
  fs::resize_file(dir_ / "huge", 4 * 1024 * 1024 + 1);  // sparse: costs no disk
  // Path, cap, contents (none: any), a part of the reason if refused. Files of size 0 with
  // contents (in /proc) are read to their end, within the cap.
  const std::tuple<fs::path, std::size_t, std::optional<std::string>, std::string> cases[] = {
      {dir_ / "text", 16, "hello", ""},
      {dir_ / "empty", 16, "", ""},
      {dir_ / "cap", 16, std::string(16, 'x'), ""},
      {dir_ / "over", 16, std::nullopt, "larger than 16 bytes"},
      {dir_ / "huge", 4 * 1024 * 1024, std::nullopt, "larger than 4 MiB"},
      {dir_ / "zero", 4096, std::nullopt, "not a regular file"},
      {dir_ / "fifo", 4096, std::nullopt, "not a regular file (a FIFO)"},
      {dir_ / "folder", 4096, std::nullopt, "not a regular file (a directory)"},
      {dir_ / "missing", 4096, std::nullopt, "No such file"},
      {fs::path(), 4096, std::nullopt, "empty path"},
      {"/proc/self/cmdline", 1 << 20, std::nullopt, ""},
      {"/proc/self/maps", 8, std::nullopt, "larger than 8 bytes"},
  };
  for (const auto& [path, cap, data, error] : cases) {
    SCOPED_TRACE(path);
    const auto got = wd::readRegularFile(path, cap);
    EXPECT_EQ(got.data.has_value(), error.empty()) << got.error;
    EXPECT_TRUE(!got.data || (data ? got.data == data : !got.data->empty())) << *got.data;
    EXPECT_EQ(got.error.empty(), error.empty());
    EXPECT_NE(got.error.find(error), std::string::npos) << got.error;
    EXPECT_EQ(got.error.find('\n'), std::string::npos);
  }
}

// New files get the mode asked for, replaced ones keep theirs; links are followed and stay links.
TEST_F(FileIo, WriterCreatesReplacesFollowsLinksAndAFailedWriteChangesNothing) {
  EXPECT_EQ(wd::writeFileAtomically(dir_ / "new", "one", 0640), std::nullopt);
  EXPECT_EQ(readFile(dir_ / "new"), "one");
  EXPECT_EQ(permissions(dir_ / "new"), fs::perms(0640));
  writeFile(dir_ / "old", "old contents");
  fs::permissions(dir_ / "old", fs::perms::owner_read | fs::perms::owner_write);
  EXPECT_EQ(wd::writeFileAtomically(dir_ / "old", "two"), std::nullopt);
  EXPECT_EQ(readFile(dir_ / "old"), "two");
  EXPECT_EQ(permissions(dir_ / "old"), fs::perms(0600));
  EXPECT_EQ(wd::writeFileAtomically(dir_ / "old", ""), std::nullopt);
  EXPECT_EQ(readFile(dir_ / "old"), "");
  writeFile(dir_ / "dotfiles" / "real", "old");
  fs::create_symlink(dir_ / "dotfiles" / "real", dir_ / "absolute");
  fs::create_symlink("dotfiles/real", dir_ / "relative");
  fs::create_symlink("relative", dir_ / "chain");
  fs::create_symlink("dotfiles/created", dir_ / "dangling");
  for (const char* link : {"absolute", "relative", "chain"}) {
    EXPECT_EQ(wd::writeFileAtomically(dir_ / link, link), std::nullopt);
    EXPECT_TRUE(fs::is_symlink(dir_ / link));
    EXPECT_EQ(readFile(dir_ / "dotfiles" / "real"), link);
  }
  EXPECT_EQ(wd::writeFileAtomically(dir_ / "dangling", "made", 0600), std::nullopt);
  EXPECT_TRUE(fs::is_symlink(dir_ / "dangling"));
  EXPECT_EQ(readFile(dir_ / "dotfiles" / "created"), "made");
  EXPECT_EQ(permissions(dir_ / "dotfiles" / "created"), fs::perms(0600));
  EXPECT_EQ(names(dir_ / "dotfiles"), (Names{"created", "real"}));
  EXPECT_EQ(names(dir_),
            (Names{"new", "old", "dotfiles", "absolute", "relative", "chain", "dangling"}));
  // A write that fails says why in one line and changes nothing.
  writeFile(dir_ / "keep", "old");
  fs::create_directory(dir_ / "folder");
  fs::create_symlink("missing-folder/file", dir_ / "into-nowhere");
  fs::create_symlink("loop-b", dir_ / "loop-a");
  fs::create_symlink("loop-a", dir_ / "loop-b");
  const auto before = names(dir_);
  for (const char* name : {"folder", "into-nowhere", "loop-a"}) {
    const auto why = wd::writeFileAtomically(dir_ / name, "new");
    EXPECT_TRUE(why && !why->empty() && why->find('\n') == std::string::npos) << name;
  }
  EXPECT_TRUE(fs::is_symlink(dir_ / "into-nowhere"));
  EXPECT_TRUE(fs::is_directory(dir_ / "folder"));
  EXPECT_EQ(names(dir_), before);
  // A file-size limit makes write() fail with EFBIG part-way, as a full disk fails it with
  // ENOSPC; SIGXFSZ would otherwise end the test process.
  struct rlimit saved {};
  ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
  const auto previous = ::signal(SIGXFSZ, SIG_IGN);
  const struct rlimit small { 4096, saved.rlim_max };
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
  const auto why = wd::writeFileAtomically(dir_ / "keep", std::string(100000, 'n'));
  ::setrlimit(RLIMIT_FSIZE, &saved);
  ::signal(SIGXFSZ, previous);
  EXPECT_NE(why.value_or("").find("write"), std::string::npos) << why.value_or("");
  EXPECT_EQ(readFile(dir_ / "keep"), "old");
  EXPECT_EQ(names(dir_), before);
}

// Start-up's clean-up takes only old temporaries named as the writer names them, in the folder;
// opening a settings file takes only its own (a recent one may be another process's save).
TEST_F(FileIo, LeftoverTemporariesAreRemovedOnlyWhenOldAndNamedSo) {
  for (const char* name :
       {"settings.plist.tmp-a1B2c3", "MacGapWindow.json.tmp-XyZ123", "MacGapWindow.json",
        "notes.tmp-ab", ".tmp-abcdef", "a.tmp-abcdef.bak", "sub/x.tmp-abcdef"})
    writeFile(dir_ / name, "x");
  fs::create_directory(dir_ / "dir.tmp-abcdef");
  fs::create_symlink(dir_ / "MacGapWindow.json", dir_ / "link.tmp-abcdef");
  const timespec old[2] = {{::time(nullptr) - 3600, 0}, {::time(nullptr) - 3600, 0}};
  for (const auto& e : fs::recursive_directory_iterator(dir_))
    ASSERT_EQ(::utimensat(AT_FDCWD, e.path().c_str(), old, AT_SYMLINK_NOFOLLOW), 0);
  writeFile(dir_ / "settings.plist.tmp-a1B2c4", "x");  // recent
  auto expected = names(dir_);
  wd::UserDefaults settings(dir_ / "settings.plist");
  expected.erase("settings.plist.tmp-a1B2c3");
  EXPECT_EQ(names(dir_), expected);
  EXPECT_EQ(wd::removeLeftoverTemporaries(dir_), 1u);
  expected.erase("MacGapWindow.json.tmp-XyZ123");
  EXPECT_EQ(names(dir_), expected);
  EXPECT_TRUE(fs::exists(dir_ / "sub" / "x.tmp-abcdef"));
  EXPECT_EQ(wd::removeLeftoverTemporaries(dir_ / "missing"), 0u);
}
