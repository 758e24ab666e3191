// Test entry point: every test process gets its own HOME and XDG directories below the build
// tree; the bundle uses the source tree's resources, gettext the build tree's catalogues.
#include <gtest/gtest.h>
#include <libintl.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>

int main(int argc, char** argv) {
  namespace fs = std::filesystem;
  const fs::path home = fs::path(WD_BINARY_DIR) / "test-home" / std::to_string(::getpid());
  auto set = [](const char* key, const fs::path& value) {
    if (std::getenv("WD_TEST_KEEP_ENV") == nullptr) ::setenv(key, value.c_str(), 1);
  };
  set("HOME", home);
  set("XDG_CONFIG_HOME", home / "config");
  set("XDG_DATA_HOME", home / "data");
  set("XDG_STATE_HOME", home / "state");
  set("XDG_CACHE_HOME", home / "cache");
  ::setenv("WD_SOURCE_DIR", WD_SOURCE_DIR, 1);
  ::setenv("WD_BINARY_DIR", WD_BINARY_DIR, 1);
  if (std::getenv("WENDREL_RESOURCE_DIR") == nullptr)
    ::setenv("WENDREL_RESOURCE_DIR", WD_SOURCE_DIR "/resources", 1);
  bindtextdomain("wendrel-desktop", WD_BINARY_DIR "/locale");
  bind_textdomain_codeset("wendrel-desktop", "UTF-8");
  std::error_code ec;
  fs::create_directories(home, ec);
  ::testing::InitGoogleTest(&argc, argv);
  int rc = RUN_ALL_TESTS();
  fs::remove_all(home, ec);
  return rc;
}
