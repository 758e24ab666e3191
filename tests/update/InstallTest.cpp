// Installing an update into a self-contained tree in a temporary user prefix with the real swap
// helper. The "application" of each tree is a small script that reports its version.
#include <gio/gio.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "support/Files.h"
#include "support/Loop.h"
#include "update/Installer.h"

namespace wd::update {
namespace {

namespace fs = std::filesystem;
using test::readFile;
using test::waitFor;

class InstallTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::error_code ec;
    fs::remove_all(root, ec);
    makeTree(prefix, "1.0.0", true);
  }
  void TearDown() override {
    if (app) g_subprocess_force_exit(app);
    g_clear_object(&app);
  }
  // A tree as `cmake --install` lays it out; its program reports its version (and its start).
  void makeTree(const fs::path& tree, const std::string& version, bool starts) {
    fs::create_directories(tree / "bin");
    fs::create_directories(tree / "share/wendrel-desktop");
    fs::create_directories(helper(tree).parent_path());
    std::ofstream(tree / "bin/wendrel-desktop")
        << "#!/bin/sh\necho " << version << " >> '" << report.string() << "'\n"
        << (starts ? "[ -n \"$WENDREL_UPDATE_STARTED\" ] && : > \"$WENDREL_UPDATE_STARTED\"\n"
                     "exit 0\n"
                   : "exit 1\n");
    fs::permissions(tree / "bin/wendrel-desktop", fs::perms::owner_all);
    fs::copy_file(WD_UPDATE_HELPER, helper(tree));
    std::ofstream(tree / "share/wendrel-desktop/VERSION") << version;
  }
  static fs::path helper(const fs::path& tree) {
    return tree / "libexec/wendrel-desktop/wendrel-desktop-update-helper";
  }
  // Installs a release tarball with a stand-in running application; true once asked to quit.
  bool install(const std::string& version, bool starts) {
    const fs::path build = root / ("build-" + version);
    makeTree(build / ("wendrel-desktop-" + version), version, starts);
    DownloadedUpdate update;
    update.update.version = version;
    update.file = root / ("wendrel-desktop-" + version + ".tar.gz");
    const std::string tar = "tar -czf '" + update.file.string() + "' -C '" + build.string() + "' .";
    EXPECT_EQ(std::system(tar.c_str()), 0);
    g_clear_object(&app);
    app = g_subprocess_new(G_SUBPROCESS_FLAGS_NONE, nullptr, "sleep", "600", nullptr);
    bool quit = false;
    std::string failure;
    installer = std::make_unique<Installer>(
        InstallLocation{prefix, helper(prefix)},
        Installer::Hooks{.quit = [&] { quit = true; }, .handedToSystemInstaller = {}},
        static_cast<pid_t>(std::stol(g_subprocess_get_identifier(app))));
    installer->install(update, [&](const std::string& reason) { failure = reason; });
    waitFor([&] { return quit || !failure.empty(); }, 60);
    EXPECT_EQ(failure, "");
    return quit;
  }
  // The application quits; true once the report reads `expected` and only the prefix is left.
  bool quitUntilReport(const std::string& expected) {
    g_subprocess_force_exit(app);
    return waitFor(
        [&] {
          for (const auto& entry : fs::directory_iterator(root))
            if (entry.path().filename().string().starts_with(".prefix.update-")) return false;
          return readFile(report) == expected;
        },
        60);
  }
  fs::path root = fs::path(g_get_home_dir()) / "install";
  fs::path prefix = root / "prefix", report = root / "report";
  GSubprocess* app = nullptr;
  std::unique_ptr<Installer> installer;
};

// Only a self-contained tree is replaced (a damaged package is UpdateCheckerTest's last step).
TEST_F(InstallTest, TheNewTreeReplacesTheOldOneAfterTheApplicationExitsOrIsRolledBack) {
  EXPECT_FALSE(canReplaceTree({prefix, prefix / "libexec/missing-helper"}));
  EXPECT_FALSE(canReplaceTree({"relative/prefix", helper(prefix)}));
  std::ofstream(prefix / "bin/other-program") << "";  // a shared prefix such as /usr
  EXPECT_FALSE(canReplaceTree({prefix, helper(prefix)}));
  fs::remove(prefix / "bin/other-program");
  ASSERT_TRUE(canReplaceTree({prefix, helper(prefix)}));
  ASSERT_TRUE(install("2.0.0", true));
  // The helper waits: nothing is swapped while the application runs.
  test::runLoopFor(1);
  EXPECT_EQ(readFile(prefix / "share/wendrel-desktop/VERSION"), "1.0.0");
  EXPECT_FALSE(fs::exists(report));
  ASSERT_TRUE(quitUntilReport("2.0.0\n")) << readFile(report).value_or("");
  EXPECT_EQ(readFile(prefix / "share/wendrel-desktop/VERSION"), "2.0.0");
  // A new version that cannot start ran and failed; the old one is back and started again.
  ASSERT_TRUE(install("3.0.0", false));
  ASSERT_TRUE(quitUntilReport("2.0.0\n3.0.0\n2.0.0\n")) << readFile(report).value_or("");
  EXPECT_EQ(readFile(prefix / "share/wendrel-desktop/VERSION"), "2.0.0");
}

}  // namespace
}  // namespace wd::update
