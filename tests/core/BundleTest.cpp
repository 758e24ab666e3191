#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "app/CommandLine.h"
#include "core/Bundle.h"
#include "core/LocalConfiguration.h"

namespace fs = std::filesystem;

namespace {

class ResourceDir : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("wd-bundle-" + std::to_string(::getpid()));
    fs::create_directories(dir_ / "public" / "web" / "img");
    write(dir_ / "Defaults.plist", "x");
    write(dir_ / "public" / "web" / "img" / "logo.png", "png");
    previous_ = wd::Bundle::main().resourcePath();
    wd::Bundle::main().setResourcePath(dir_);
  }
  void TearDown() override {
    wd::Bundle::main().setResourcePath(previous_);
    fs::remove_all(dir_);
  }
  static void write(const fs::path& p, const std::string& text) { std::ofstream(p) << text; }
  fs::path dir_;
  fs::path previous_;
};

TEST_F(ResourceDir, PathForResourceResolvesBareNamesAndNestedPaths) {
  EXPECT_EQ(wd::pathForResource("Defaults.plist"), (dir_ / "Defaults.plist").string());
  EXPECT_EQ(wd::pathForResource("public/web/img/logo.png"),
            (dir_ / "public/web/img/logo.png").string());
  EXPECT_FALSE(wd::pathForResource("public/web/img/missing.png"));
  EXPECT_FALSE(wd::pathForResource("missing"));
  EXPECT_FALSE(wd::pathForResource(""));
  EXPECT_FALSE(wd::pathForResource("public/web"));  // a directory is no resource
}

TEST_F(ResourceDir, PathForResourceNeverLeavesTheResourceDirectory) {
  write(dir_.parent_path() / "outside.txt", "secret");
  EXPECT_FALSE(wd::pathForResource("../outside.txt"));
  EXPECT_FALSE(wd::Bundle::main().pathForResource("outside", "txt", "public/../.."));
  fs::remove(dir_.parent_path() / "outside.txt");
}

TEST_F(ResourceDir, BundleTypedLookup) {
  EXPECT_EQ(wd::Bundle::main().pathForResource("Defaults", "plist"),
            (dir_ / "Defaults.plist").string());
  EXPECT_EQ(wd::Bundle::main().pathForResource("logo", "png", "./public/web/img"),
            (dir_ / "public/web/img/logo.png").string());
}

TEST_F(ResourceDir, ConfigurationMissingOrBrokenGivesEmptyValues) {
  auto missing = wd::LocalConfiguration::load();
  EXPECT_TRUE(missing.settings.is_null());
  EXPECT_TRUE(missing.pluginNames().empty());
  write(dir_ / "public" / "config.json", "{ not json");
  auto broken = wd::LocalConfiguration::load();
  EXPECT_TRUE(broken.settings.is_null());
  EXPECT_TRUE(broken.pluginsMap.is_null());
}

TEST_F(ResourceDir, ConfigurationReadsPluginsAndWindow) {
  write(dir_ / "public" / "config.json",
        R"({"plugins": ["Zeta", "Alpha", 3, "Mid"], "window": {"min_width": 800}})");
  auto config = wd::LocalConfiguration::load();
  EXPECT_EQ(config.pluginNames(), (std::vector<std::string>{"Zeta", "Alpha", "Mid"}));
  EXPECT_EQ(config.settings["window"]["min_width"], 800);
  EXPECT_FALSE(config.settings["window"].contains("min_height"));
}

// Special files in place of the configuration give empty values at once: no endless read of a
// device, no open() waiting for a FIFO's writer.
TEST_F(ResourceDir, ConfigurationThatIsNoRegularFileGivesEmptyValues) {
  const fs::path file = dir_ / "public" / "config.json";
  ASSERT_EQ(::mkfifo(file.c_str(), 0600), 0);
  EXPECT_TRUE(wd::LocalConfiguration::load().settings.is_null());
  auto fromFifo = wd::LocalConfiguration::loadFile(file);  // a web client folder's file
  ASSERT_TRUE(fromFifo.has_value());
  EXPECT_TRUE(fromFifo->settings.is_null());
  fs::remove(file);
  fs::create_symlink("/dev/zero", file);
  EXPECT_TRUE(wd::LocalConfiguration::load().settings.is_null());
  auto fromDevice = wd::LocalConfiguration::loadFile(file);
  ASSERT_TRUE(fromDevice.has_value());
  EXPECT_TRUE(fromDevice->settings.is_null());
  fs::remove(file);
  write(file, R"({"plugins": ["A"]})");
  EXPECT_EQ(wd::LocalConfiguration::load().pluginNames(), std::vector<std::string>{"A"});
  EXPECT_FALSE(wd::LocalConfiguration::loadFile(dir_ / "missing.json").has_value());
}

TEST(Configuration, PluginObjectKeepsFileOrder) {
  auto config = wd::LocalConfiguration::fromText(R"({"plugins": {"Zeta": 1, "Alpha": 1}})");
  EXPECT_EQ(config.pluginNames(), (std::vector<std::string>{"Zeta", "Alpha"}));
  EXPECT_TRUE(wd::LocalConfiguration::fromText(R"("just a string")").settings.is_null());
}

wd::CommandLine parse(std::vector<std::string> args) {
  args.insert(args.begin(), "wendrel-desktop");
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  return wd::CommandLine::parse(static_cast<int>(argv.size()), argv.data());
}

TEST(CommandLineParsing, DiscoverOptions) {
  auto cl = parse(
      {"--discover", "user@example.com", "--timeout=5", "--trust-host", "a", "--trust-host", "b"});
  ASSERT_EQ(cl.action, wd::CommandLine::Action::Discover);
  EXPECT_EQ(cl.discover.address, "user@example.com");
  EXPECT_EQ(cl.discover.timeoutSeconds, 5);
  EXPECT_EQ(cl.discover.trustedHosts, (std::vector<std::string>{"a", "b"}));
  // Three attempts share the total in whole seconds: below 3 no attempt would get any time.
  EXPECT_EQ(parse({"--discover", "a@b.test", "--timeout", "3"}).action,
            wd::CommandLine::Action::Discover);
  for (const auto& args : std::vector<std::vector<std::string>>{
           {"--discover", "nobody"},
           {"--discover"},
           {"--discover", "a@b"},  // one label after "@": the account window refuses it too
           {"--discover", "a@b.test", "--timeout", "-3"},
           {"--discover", "a@b.test", "--timeout", "12x"},
           {"--discover", "a@b.test", "--timeout", "2"}})
    EXPECT_EQ(parse(args).action, wd::CommandLine::Action::UsageError) << args.back();
}

TEST(CommandLineParsing, RunTargetsAndInfo) {
  auto cl = parse({"mailto:a@b.c", "/tmp/file.txt", "--web-client", "/srv/client"});
  ASSERT_EQ(cl.action, wd::CommandLine::Action::Run);
  EXPECT_EQ(cl.app.targets, (std::vector<std::string>{"mailto:a@b.c", "/tmp/file.txt"}));
  EXPECT_EQ(cl.app.webClientDirectory, "/srv/client");
  EXPECT_EQ(parse({"--version"}).action, wd::CommandLine::Action::Version);
  EXPECT_EQ(parse({"--help"}).action, wd::CommandLine::Action::Help);
  // After "--" and for "-" alone, arguments are files even when they look like options.
  cl = parse({"--", "-v", "--help"});
  ASSERT_EQ(cl.action, wd::CommandLine::Action::Run);
  EXPECT_EQ(cl.app.targets, (std::vector<std::string>{"-v", "--help"}));
  EXPECT_EQ(parse({"-"}).app.targets, std::vector<std::string>{"-"});
  EXPECT_EQ(parse({"--gapplication-service"}).app.passThrough,
            std::vector<std::string>{"--gapplication-service"});
  // Unknown options, short or long, are usage errors, never files to open.
  for (const char* unknown : {"-v", "-x", "--verbose", "--display=:1", "--help=x"})
    EXPECT_EQ(parse({unknown}).action, wd::CommandLine::Action::UsageError) << unknown;
}

}  // namespace
