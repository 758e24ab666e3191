// The updater's rules, the signing command as the packaging script runs it, and installing into a
// tree in a temporary prefix with the real swap helper (its program: a script saying its version).
#include <gio/gio.h>
#include <gtest/gtest.h>
#include <sodium.h>

#include "core/Json.h"
#include "support/Files.h"
#include "support/Loop.h"
#include "support/Process.h"
#include "update/Installer.h"
#include "update/Release.h"
#include "update/Signature.h"
#include "update/UpdateQuery.h"
#include "update/Version.h"

namespace wd::update {
namespace {

namespace fs = std::filesystem;
using namespace test;

TEST(UpdateVersions, OnlyStrictlyNewerValidVersionsCount) {
  const std::tuple<const char*, const char*, bool> cases[] = {
      {"0.2.0", "0.1.0", true},   {"0.1.0", "0.1.0", false},    {"0.1", "0.1.0", false},
      {"0.1.0.1", "0.1.0", true}, {"0.0.9", "0.1.0", false},    {"0.10.0", "0.9.9", true},
      {"1", "0.99", true},        {"1.0.0.0.1", "0.1", false},  {"1..0", "0.1", false},
      {"1.0-beta", "0.1", false}, {"1234567890", "0.1", false}, {"2.0", "garbage", false}};
  for (const auto& [candidate, running, newer] : cases)
    EXPECT_EQ(isNewerVersion(candidate, running), newer) << candidate << " vs " << running;
}

// The plain query is UpdateCheckerTest's; here its replacement and escaping.
TEST(UpdateQuery, ReplacesTheQueryAndEscapesOnce) {
  const std::tuple<const char*, const char*, const char*, const char*> cases[] = {
      {"https://u.example:8443/v1/x?old=1#frag", "a b%c", "my channel",
       "https://u.example:8443/v1/x?server=a%20b%25c&client=0.1.0&target=linux-x64&"
       "channel=my%20channel#frag"},
      {"https://u.example/p", "x&y=z/w?:@+",
       "st\xc3\xa4"
       "ble",
       "https://u.example/p?server=x&y=z/w?:@+&client=0.1.0&target=linux-x64&channel=st%C3%A4ble"},
  };
  for (const auto& [url, server, channel, expected] : cases)
    EXPECT_EQ(createComponentsFrom(url, server, "0.1.0", channel, "linux-x64"),
              std::optional<std::string>(expected))
        << url;
  for (const char* bad : {"", "updates.example.com/v1", "ftp://u.example/x", "https://"})
    EXPECT_FALSE(createComponentsFrom(bad, "s", "1", "beta", "linux-x64")) << bad;
}

Digest digestOf(const std::string& data) {
  Sha512 sha;
  sha.update(data.data(), data.size());
  return sha.finish();
}

TEST(UpdateSignatures, BindTheFileToItsVersionAndSize) {
  PublicKey pub{}, otherPub{};
  SecretKey sec{}, otherSec{};
  ASSERT_TRUE(cryptoReady());
  crypto_sign_keypair(pub.data(), sec.data());
  crypto_sign_keypair(otherPub.data(), otherSec.data());
  const Digest digest = digestOf("tarball bytes");
  const Signature sig = signRelease(sec, "0.2.0", 13, digest);
  EXPECT_TRUE(verifyRelease(pub, sig, "0.2.0", 13, digest));
  EXPECT_FALSE(verifyRelease(otherPub, sig, "0.2.0", 13, digest));
  EXPECT_FALSE(verifyRelease(pub, sig, "0.3.0", 13, digest));  // an old file as newer
  EXPECT_FALSE(verifyRelease(pub, sig, "0.2.0", 14, digest));
  EXPECT_FALSE(verifyRelease(pub, sig, "0.2.0", 13, digestOf("tarball bytez")));
  Signature flipped = sig;
  flipped[10] ^= 1;
  EXPECT_FALSE(verifyRelease(pub, flipped, "0.2.0", 13, digest));
  // Keys travel as base64; anything but exactly 32 bytes is no key.
  const auto text = toBase64(pub.data(), pub.size());
  EXPECT_EQ(fromBase64<32>(text), std::optional<PublicKey>(pub));
  for (std::string bad : {std::string(), text.substr(1), text + "A", "!" + text.substr(1)})
    EXPECT_FALSE(fromBase64<32>(bad)) << bad;
}

TEST(ReleaseDescription, ReadsAReleaseRefusesWhatIsNotOneAndReadsWhatTheSigningCommandMakes) {
  const Json valid = {{"name", "Wendrel Desktop 0.2.0"},
                      {"version", "0.2.0"},
                      {"url", "https://u.example/wendrel-desktop-0.2.0.tar.gz"},
                      {"size", 1234},
                      {"signature", std::string(86, 'A') + "=="},
                      {"notes", "https://u.example/notes/0.2.0"},
                      {"pub_date", "2026-12-01T10:00:00Z"}};
  auto read = readRelease(valid.dump());
  ASSERT_TRUE(std::holds_alternative<Release>(read)) << std::get<std::string>(read);
  const auto& r = std::get<Release>(read);
  EXPECT_EQ(std::tie(r.releaseName, r.version, r.size, r.releaseNotes, r.publicationDate),
            std::tuple("Wendrel Desktop 0.2.0", "0.2.0", 1234u, "https://u.example/notes/0.2.0",
                       "2026-12-01T10:00:00Z"));
  const auto patched = [&valid](const Json& patch) {
    Json j = valid;
    j.merge_patch(patch);  // null removes the member
    return readRelease(j.dump());
  };
  for (const Json& patch :
       {Json{{"name", nullptr}}, Json{{"name", std::string(201, 'n')}}, Json{{"version", 2}},
        Json{{"version", "2.0-rc1"}}, Json{{"url", "/download.tar.gz"}},
        Json{{"url", "file:///etc/passwd"}}, Json{{"size", 0}}, Json{{"size", -5}},
        Json{{"size", kMaxDownloadBytes + 1}}, Json{{"signature", "AAAA"}},
        Json{{"signature", nullptr}}})
    EXPECT_TRUE(std::holds_alternative<std::string>(patched(patch))) << patch;
  // Notes that are no web URL are dropped; unknown members are ignored.
  for (const Json& notes : {Json("see website"), Json(5)})
    EXPECT_FALSE(std::get<Release>(patched({{"notes", notes}})).releaseNotes) << notes;
  EXPECT_TRUE(std::holds_alternative<Release>(patched({{"extra", Json::array({1, 2})}})));
  for (std::string body : {std::string("{"), std::string("[]"), std::string("{\"name\": \"\xff\"}"),
                           std::string(100000, '['), std::string(kMaxReleaseBodyBytes + 1, ' ')})
    EXPECT_TRUE(std::holds_alternative<std::string>(readRelease(body))) << body.substr(0, 20);
  // The packaging script's two calls, and what they print read back by the application's rules.
  const std::string dir = std::string(g_get_home_dir()) + "/sign", key = dir + "/key",
                    tarball = dir + "/wendrel-desktop-0.2.0.tar.gz";
  writeFile(tarball, "not really a tarball");
  const auto run = [](const std::string& arguments) {
    return test::runProcess(WD_SIGN_COMMAND " " + arguments);
  };
  const auto generated = run("generate-key " + key);
  ASSERT_EQ(generated.status, 0);
  EXPECT_EQ(fs::status(key).permissions(), fs::perms::owner_read | fs::perms::owner_write);
  const auto publicKey = fromBase64<32>(generated.out.substr(0, generated.out.find('\n')));
  ASSERT_TRUE(publicKey);
  EXPECT_NE(run("generate-key " + key).status, 0);  // never overwritten
  const std::string release = "release --key " + key + " --file " + tarball;
  const auto released = run(release +
                            " --version 0.2.0 --name 'Wendrel Desktop 0.2.0' --url "
                            "https://u.example/w.tar.gz --notes https://u.example/n --date "
                            "2026-12-01T10:00:00Z");
  ASSERT_EQ(released.status, 0);
  const auto made = readRelease(released.out);
  ASSERT_TRUE(std::holds_alternative<Release>(made)) << released.out;
  const auto& m = std::get<Release>(made);
  EXPECT_EQ(m.size, fs::file_size(tarball));
  EXPECT_EQ(m.publicationDate, std::optional<std::string>("2026-12-01T10:00:00Z"));
  EXPECT_TRUE(
      verifyRelease(*publicKey, m.signature, "0.2.0", m.size, digestOf("not really a tarball")));
  EXPECT_EQ(run("release --key " + key).status, 2);
  EXPECT_NE(run(release + " --version v2 --name N --url https://u.example/w").status, 0);
}

class InstallTest : public ::testing::Test {
 protected:
  void SetUp() override { makeTree(prefix, "1.0.0", true); }
  void TearDown() override {
    if (app) g_subprocess_force_exit(app);
    g_clear_object(&app);
  }
  // A tree as `cmake --install` lays it out; its program reports its version (and its start).
  void makeTree(const fs::path& tree, const std::string& version, bool starts) {
    writeFile(
        tree / "bin/wendrel-desktop",
        "#!/bin/sh\necho " + version + " >> '" + report.string() + "'\n" +
            (starts ? "[ -n \"$WENDREL_UPDATE_STARTED\" ] && : > \"$WENDREL_UPDATE_STARTED\"\n"
                      "exit 0\n"
                    : "exit 1\n"));
    fs::permissions(tree / "bin/wendrel-desktop", fs::perms::owner_all);
    writeFile(tree / "share/wendrel-desktop/VERSION", version);
    fs::create_directories(helper(tree).parent_path());
    fs::copy_file(WD_UPDATE_HELPER, helper(tree));
  }
  static fs::path helper(const fs::path& tree) {
    return tree / "libexec/wendrel-desktop/wendrel-desktop-update-helper";
  }
  // Installs a release tarball with a stand-in running application; true once asked to quit.
  bool install(const std::string& version, bool starts) {
    const fs::path build = root / ("build-" + version);
    makeTree(build / ("wendrel-desktop-" + version), version, starts);
    const DownloadedUpdate update{.update = {.version = version},
                                  .file = root / ("wendrel-desktop-" + version + ".tar.gz")};
    const std::string tar = "tar -czf '" + update.file.string() + "' -C '" + build.string() + "' .";
    EXPECT_EQ(std::system(tar.c_str()), 0);
    g_clear_object(&app);
    app = g_subprocess_new(G_SUBPROCESS_FLAGS_NONE, nullptr, "sleep", "600", nullptr);
    bool quit = false;
    std::string failure;
    installer = std::make_unique<Installer>(
        InstallLocation{prefix, helper(prefix)}, Installer::Hooks{.quit = [&] { quit = true; }},
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
  fs::path root = test::testDirectory();
  fs::path prefix = root / "prefix", report = root / "report";
  GSubprocess* app = nullptr;
  std::unique_ptr<Installer> installer;
};

// Only a self-contained tree is replaced (a damaged package is UpdateCheckerTest's last step).
TEST_F(InstallTest, TheNewTreeReplacesTheOldOneAfterTheApplicationExitsOrIsRolledBack) {
  EXPECT_FALSE(canReplaceTree({prefix, prefix / "libexec/missing-helper"}));
  EXPECT_FALSE(canReplaceTree({"relative/prefix", helper(prefix)}));
  writeFile(prefix / "bin/other-program", "");  // a shared prefix such as /usr
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
