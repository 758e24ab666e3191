// Installing an update into a self-contained tree in a temporary user prefix: the unpacking,
// the swap helper waiting for the application to exit, the start of the new version, and the
// roll-back when it does not start. The "application" of each tree is a small script that
// reports its version.
#include <gio/gio.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "autodiscover/Loop.h"
#include "update/Installer.h"

namespace wd::update {
namespace {

namespace fs = std::filesystem;
using test::runLoopUntil;

std::string readAll(const fs::path& file) {
  std::ifstream in(file);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

class InstallTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::error_code ec;
    fs::remove_all(root, ec);
    fs::create_directories(root);
    makeTree(prefix, "1.0.0", true);
  }
  void TearDown() override {
    if (app) {
      g_subprocess_force_exit(app);
      g_object_unref(app);
    }
  }

  // A tree as `cmake --install` lays it out, whose program appends its version to the report
  // and, when `starts`, tells the helper it started.
  void makeTree(const fs::path& tree, const std::string& version, bool starts) {
    fs::create_directories(tree / "bin");
    fs::create_directories(tree / "libexec" / "wendrel-desktop");
    fs::create_directories(tree / "share" / "wendrel-desktop");
    const fs::path program = tree / "bin" / "wendrel-desktop";
    std::ofstream(program) << "#!/bin/sh\necho " << version << " >> '" << report.string() << "'\n"
                           << (starts ? "[ -n \"$WENDREL_UPDATE_STARTED\" ] && : > "
                                        "\"$WENDREL_UPDATE_STARTED\"\nexit 0\n"
                                      : "exit 1\n");
    fs::permissions(program, fs::perms::owner_all);
    fs::copy_file(WD_UPDATE_HELPER,
                  tree / "libexec" / "wendrel-desktop" / "wendrel-desktop-update-helper");
    std::ofstream(tree / "share" / "wendrel-desktop" / "VERSION") << version;
  }

  // The release tarball of a tree for `version` (one top folder, as a packager makes it).
  DownloadedUpdate package(const std::string& version, bool starts) {
    const fs::path build = root / ("build-" + version);
    makeTree(build / ("wendrel-desktop-" + version), version, starts);
    const fs::path file = root / ("wendrel-desktop-" + version + ".tar.gz");
    const std::string command = "tar -czf '" + file.string() + "' -C '" + build.string() + "' .";
    EXPECT_EQ(std::system(command.c_str()), 0);
    DownloadedUpdate update;
    update.update.version = version;
    update.file = file;
    return update;
  }

  // Runs `update`'s installation as the application would, with a stand-in process as the
  // running application; true once the installer asked the application to quit.
  bool install(const DownloadedUpdate& update) {
    app = g_subprocess_new(G_SUBPROCESS_FLAGS_NONE, nullptr, "sleep", "600", nullptr);
    const pid_t pid = static_cast<pid_t>(std::stol(g_subprocess_get_identifier(app)));
    bool quit = false;
    std::string failure;
    installer = std::make_unique<Installer>(
        InstallLocation{prefix,
                        prefix / "libexec" / "wendrel-desktop" / "wendrel-desktop-update-helper"},
        Installer::Hooks{.quit = [&] { quit = true; }, .handedToSystemInstaller = {}}, pid);
    installer->install(update, [&](const std::string& reason) { failure = reason; });
    runLoopUntil([&] { return quit || !failure.empty(); }, 60);
    EXPECT_EQ(failure, "");
    return quit;
  }
  void quitApplication() { g_subprocess_force_exit(app); }

  bool onlyPrefixLeft() {
    for (const auto& entry : fs::directory_iterator(root))
      if (entry.path().filename().string().starts_with(".prefix.update-")) return false;
    return true;
  }

  fs::path root = fs::path(std::getenv("HOME")) / "install";
  fs::path prefix = root / "prefix";
  fs::path report = root / "report";
  GSubprocess* app = nullptr;
  std::unique_ptr<Installer> installer;
};

TEST_F(InstallTest, TheNewTreeReplacesTheOldOneAfterTheApplicationExitsAndStarts) {
  ASSERT_TRUE(
      canReplaceTree({prefix, prefix / "libexec/wendrel-desktop/wendrel-desktop-update-helper"}));
  ASSERT_TRUE(install(package("2.0.0", true)));
  // The helper waits: nothing is swapped while the application runs.
  test::runLoopFor(1);
  EXPECT_EQ(readAll(prefix / "share/wendrel-desktop/VERSION"), "1.0.0");
  EXPECT_FALSE(fs::exists(report));
  quitApplication();
  ASSERT_TRUE(runLoopUntil([&] { return readAll(report) == "2.0.0\n" && onlyPrefixLeft(); }, 60))
      << readAll(report);
  EXPECT_EQ(readAll(prefix / "share/wendrel-desktop/VERSION"), "2.0.0");
}

TEST_F(InstallTest, ANewTreeThatCannotStartIsRolledBack) {
  ASSERT_TRUE(install(package("2.0.0", false)));
  quitApplication();
  // The new version ran and failed; the old one is back in place and started again.
  ASSERT_TRUE(
      runLoopUntil([&] { return readAll(report) == "2.0.0\n1.0.0\n" && onlyPrefixLeft(); }, 60))
      << readAll(report);
  EXPECT_EQ(readAll(prefix / "share/wendrel-desktop/VERSION"), "1.0.0");
}

TEST_F(InstallTest, OnlyASelfContainedTreeIsReplacedAndADamagedPackageChangesNothing) {
  const fs::path helper = prefix / "libexec/wendrel-desktop/wendrel-desktop-update-helper";
  EXPECT_FALSE(canReplaceTree({prefix, prefix / "libexec/missing-helper"}));
  EXPECT_FALSE(canReplaceTree({"relative/prefix", helper}));
  std::ofstream(prefix / "bin" / "other-program") << "";  // a shared prefix such as /usr
  EXPECT_FALSE(canReplaceTree({prefix, helper}));
  fs::remove(prefix / "bin" / "other-program");

  DownloadedUpdate broken;
  broken.update.version = "2.0.0";
  broken.file = root / "broken.tar.gz";
  std::ofstream(broken.file) << "not a tarball";
  Installer direct({prefix, helper},
                   {.quit = [] { FAIL() << "quit"; }, .handedToSystemInstaller = {}});
  std::string failure;
  direct.install(broken, [&](const std::string& reason) { failure = reason; });
  ASSERT_TRUE(runLoopUntil([&] { return !failure.empty(); }, 60));
  EXPECT_TRUE(onlyPrefixLeft());
  EXPECT_EQ(readAll(prefix / "share/wendrel-desktop/VERSION"), "1.0.0");
}

}  // namespace
}  // namespace wd::update
