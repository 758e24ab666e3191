// Resources of the bundle, the web client's configuration file, and the command line.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <sstream>

#include "app/CommandLine.h"
#include "core/Bundle.h"
#include "core/LocalConfiguration.h"
#include "support/Files.h"

namespace fs = std::filesystem;
using wd::LocalConfiguration;
using wd::test::writeFile;
using Strings = std::vector<std::string>;

namespace {

class ResourceDir : public ::testing::Test {
 protected:
  ResourceDir() {
    writeFile(dir_ / "Defaults.plist", "x");
    writeFile(dir_ / "public/web/img/logo.png", "png");
    wd::Bundle::main().setResourcePath(dir_);
  }
  ~ResourceDir() override { wd::Bundle::main().setResourcePath(previous_); }
  const fs::path previous_ = wd::Bundle::main().resourcePath();
  const fs::path dir_ = wd::test::testDirectory() / "resources";
  const fs::path config_ = dir_ / "public/config.json";
};

wd::CommandLine parse(const std::string& line) {
  Strings args{"wendrel-desktop"};
  std::istringstream in(line);
  for (std::string a; in >> a;) args.push_back(a);
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  return wd::CommandLine::parse(static_cast<int>(argv.size()), argv.data());
}

}  // namespace

// Bare names and nested paths resolve; nothing outside the resource directory, no directory.
TEST_F(ResourceDir, ResourcesResolveOnlyInsideItAndABadConfigurationFileGivesNoValues) {
  writeFile(dir_.parent_path() / "outside.txt", "secret");
  EXPECT_EQ(wd::pathForResource("Defaults.plist"), (dir_ / "Defaults.plist").string());
  EXPECT_EQ(wd::pathForResource("public/web/img/logo.png"),
            (dir_ / "public/web/img/logo.png").string());
  for (const char* name :
       {"public/web/img/missing.png", "missing", "", "public/web", "../outside.txt"})
    EXPECT_FALSE(wd::pathForResource(name)) << name;
  auto& bundle = wd::Bundle::main();
  EXPECT_FALSE(bundle.pathForResource("outside", "txt", "public/../.."));
  EXPECT_EQ(bundle.pathForResource("Defaults", "plist"), (dir_ / "Defaults.plist").string());
  EXPECT_EQ(bundle.pathForResource("logo", "png", "./public/web/img"),
            (dir_ / "public/web/img/logo.png").string());
  // A missing, broken or special (FIFO) configuration file gives empty values at once.
  EXPECT_TRUE(LocalConfiguration::load().settings.is_null());
  EXPECT_FALSE(LocalConfiguration::loadFile(dir_ / "missing.json").has_value());
  writeFile(config_, "{ not json");
  EXPECT_TRUE(LocalConfiguration::load().settings.is_null());
  fs::remove(config_);
  ASSERT_EQ(::mkfifo(config_.c_str(), 0600), 0);
  EXPECT_TRUE(LocalConfiguration::load().settings.is_null());
  EXPECT_TRUE(LocalConfiguration::loadFile(config_).has_value());  // a web client folder's file
  fs::remove(config_);
  writeFile(config_, R"({"plugins": ["Zeta", "Alpha", 3, "Mid"], "window": {"min_width": 800}})");
  auto config = LocalConfiguration::load();
  EXPECT_EQ(config.pluginNames(), (Strings{"Zeta", "Alpha", "Mid"}));
  EXPECT_EQ(config.settings["window"], (wd::Json{{"min_width", 800}}));
  // Plugins given as an object keep the file's order.
  EXPECT_EQ(LocalConfiguration::fromText(R"({"plugins": {"Zeta": 1, "Alpha": 1}})").pluginNames(),
            (Strings{"Zeta", "Alpha"}));
  EXPECT_TRUE(LocalConfiguration::fromText(R"("just a string")").settings.is_null());
}

TEST(CommandLineParsing, OptionsTargetsAndUsageErrors) {
  using Action = wd::CommandLine::Action;
  auto cl = parse("--discover user@example.com --timeout=5 --trust-host a --trust-host b");
  ASSERT_EQ(cl.action, Action::Discover);
  EXPECT_EQ(cl.discover.address, "user@example.com");
  EXPECT_EQ(cl.discover.timeoutSeconds, 5);
  EXPECT_EQ(cl.discover.trustedHosts, (Strings{"a", "b"}));
  cl = parse("mailto:a@b.c /tmp/file.txt --web-client /srv/client");
  ASSERT_EQ(cl.action, Action::Run);
  EXPECT_EQ(cl.app.targets, (Strings{"mailto:a@b.c", "/tmp/file.txt"}));
  EXPECT_EQ(cl.app.webClientDirectory, "/srv/client");
  EXPECT_EQ(parse("--version").action, Action::Version);
  EXPECT_EQ(parse("--help").action, Action::Help);
  // After "--" and for "-" alone, arguments are files even when they look like options.
  EXPECT_EQ(parse("-- -v --help").app.targets, (Strings{"-v", "--help"}));
  EXPECT_EQ(parse("-").app.targets, Strings{"-"});
  EXPECT_EQ(parse("--gapplication-service").app.passThrough, Strings{"--gapplication-service"});
  // Below 3 seconds no attempt would get any time; unknown options are never files to open.
  EXPECT_EQ(parse("--discover a@b.test --timeout 3").action, Action::Discover);
  for (const char* line :
       {"--discover nobody", "--discover", "--discover a@b", "--discover a@b.test --timeout 12x",
        "--discover a@b.test --timeout 2", "-v", "--verbose", "--display=:1", "--help=x"})
    EXPECT_EQ(parse(line).action, Action::UsageError) << line;
}
