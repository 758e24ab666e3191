// The updater's rules without a network: versions, the service query, the release description,
// signatures, and the signing command as the packaging script runs it.
#include <glib.h>
#include <gtest/gtest.h>
#include <sodium.h>
#include <sys/wait.h>

#include <filesystem>
#include <fstream>

#include "core/Json.h"
#include "update/Release.h"
#include "update/Signature.h"
#include "update/UpdateQuery.h"
#include "update/Version.h"

namespace wd::update {
namespace {

TEST(UpdateVersions, OnlyStrictlyNewerValidVersionsCount) {
  struct Case {
    const char* candidate;
    const char* running;
    bool newer;
  } cases[] = {
      {"0.2.0", "0.1.0", true},   {"0.1.0", "0.1.0", false},   {"0.1", "0.1.0", false},
      {"0.1.0.1", "0.1.0", true}, {"0.0.9", "0.1.0", false},   {"0.10.0", "0.9.9", true},
      {"1", "0.99", true},        {"1.0.0.0.1", "0.1", false}, {"", "0.1", false},
      {"1..0", "0.1", false},     {"1.0-beta", "0.1", false},  {"+1.0", "0.1", false},
      {" 1.0", "0.1", false},     {"1.0.", "0.1", false},      {"1234567890", "0.1", false},
      {"2.0", "garbage", false}};
  for (const auto& c : cases)
    EXPECT_EQ(isNewerVersion(c.candidate, c.running), c.newer)
        << c.candidate << " vs " << c.running;
}

TEST(UpdateQuery, ReplacesTheQueryAndEscapesOnce) {
  struct Case {
    const char* url;
    const char* server;
    const char* channel;
    const char* expected;
  } cases[] = {
      {"https://u.example/v1/wendrel/client/latest", "mail.example.com", "beta",
       "https://u.example/v1/wendrel/client/latest?server=mail.example.com&client=0.1.0&"
       "target=linux-x64&channel=beta"},
      {"https://u.example:8443/v1/x?old=1#frag", "a b%c", "my channel",
       "https://u.example:8443/v1/x?server=a%20b%25c&client=0.1.0&target=linux-x64&"
       "channel=my%20channel#frag"},
      {"https://u.example/p", "x&y=z/w?:@+",
       "st\xc3\xa4"
       "ble",
       "https://u.example/p?server=x&y=z/w?:@+&client=0.1.0&target=linux-x64&channel=st%C3%A4ble"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(createComponentsFrom(c.url, c.server, "0.1.0", c.channel, "linux-x64"),
              std::optional<std::string>(c.expected))
        << c.url;
  for (const char* bad :
       {"", "updates.example.com/v1", "ftp://u.example/x", "https://", "file:///x"})
    EXPECT_FALSE(createComponentsFrom(bad, "s", "1", "beta", "linux-x64")) << bad;
}

struct Keys {
  PublicKey pub{};
  SecretKey sec{};
  Keys() {
    cryptoReady();
    crypto_sign_keypair(pub.data(), sec.data());
  }
};

Digest digestOf(const std::string& data) {
  Sha512 sha;
  sha.update(data.data(), data.size());
  return sha.finish();
}

TEST(UpdateSignatures, BindTheFileToItsVersionAndSize) {
  Keys keys, other;
  const Digest digest = digestOf("tarball bytes");
  const Signature sig = signRelease(keys.sec, "0.2.0", 13, digest);
  EXPECT_TRUE(verifyRelease(keys.pub, sig, "0.2.0", 13, digest));
  EXPECT_FALSE(verifyRelease(other.pub, sig, "0.2.0", 13, digest));
  EXPECT_FALSE(verifyRelease(keys.pub, sig, "0.3.0", 13, digest));  // an old file as newer
  EXPECT_FALSE(verifyRelease(keys.pub, sig, "0.2.0", 14, digest));
  EXPECT_FALSE(verifyRelease(keys.pub, sig, "0.2.0", 13, digestOf("tarball bytez")));
  Signature flipped = sig;
  flipped[10] ^= 1;
  EXPECT_FALSE(verifyRelease(keys.pub, flipped, "0.2.0", 13, digest));
  // Keys travel as base64; anything but exactly 32 bytes is no key.
  const auto text = toBase64(keys.pub.data(), keys.pub.size());
  EXPECT_EQ(fromBase64<32>(text), std::optional<PublicKey>(keys.pub));
  for (std::string bad : {std::string(), text.substr(1), text + "A", "!" + text.substr(1)})
    EXPECT_FALSE(fromBase64<32>(bad)) << bad;
}

Json validRelease() {
  return {{"name", "Wendrel Desktop 0.2.0"},
          {"version", "0.2.0"},
          {"url", "https://u.example/wendrel-desktop-0.2.0.tar.gz"},
          {"size", 1234},
          {"signature", std::string(86, 'A') + "=="},
          {"notes", "https://u.example/notes/0.2.0"},
          {"pub_date", "2026-12-01T10:00:00Z"}};
}

TEST(ReleaseDescription, ReadsAReleaseRefusesWhatIsNotOneAndDropsBadOptionalMembers) {
  auto read = readRelease(validRelease().dump());
  ASSERT_TRUE(std::holds_alternative<Release>(read)) << std::get<std::string>(read);
  const auto& r = std::get<Release>(read);
  EXPECT_EQ(r.releaseName, "Wendrel Desktop 0.2.0");
  EXPECT_EQ(r.version, "0.2.0");
  EXPECT_EQ(r.size, 1234u);
  EXPECT_EQ(r.releaseNotes, std::optional<std::string>("https://u.example/notes/0.2.0"));
  EXPECT_EQ(r.publicationDate, std::optional<std::string>("2026-12-01T10:00:00Z"));
  struct Case {
    const char* what;
    std::function<void(Json&)> change;
    bool accepted;
  } cases[] = {
      {"no name", [](Json& j) { j.erase("name"); }, false},
      {"empty name", [](Json& j) { j["name"] = ""; }, false},
      {"long name", [](Json& j) { j["name"] = std::string(201, 'n'); }, false},
      {"number version", [](Json& j) { j["version"] = 2; }, false},
      {"bad version", [](Json& j) { j["version"] = "2.0-rc1"; }, false},
      {"relative url", [](Json& j) { j["url"] = "/download.tar.gz"; }, false},
      {"file url", [](Json& j) { j["url"] = "file:///etc/passwd"; }, false},
      {"zero size", [](Json& j) { j["size"] = 0; }, false},
      {"negative size", [](Json& j) { j["size"] = -5; }, false},
      {"fractional size", [](Json& j) { j["size"] = 5.5; }, false},
      {"huge size", [](Json& j) { j["size"] = kMaxDownloadBytes + 1; }, false},
      {"text size", [](Json& j) { j["size"] = "1234"; }, false},
      {"short signature", [](Json& j) { j["signature"] = "AAAA"; }, false},
      {"signature not base64", [](Json& j) { j["signature"] = std::string(88, '*'); }, false},
      {"no signature", [](Json& j) { j.erase("signature"); }, false},
      {"notes not a URL", [](Json& j) { j["notes"] = "see website"; }, true},
      {"notes a number", [](Json& j) { j["notes"] = 5; }, true},
      {"unknown member",
       [](Json& j) {
         j["extra"] = {1, 2};
       },
       true},
  };
  for (const auto& c : cases) {
    Json j = validRelease();
    c.change(j);
    const auto changed = readRelease(j.dump());
    EXPECT_EQ(std::holds_alternative<Release>(changed), c.accepted) << c.what;
    EXPECT_TRUE(!std::string(c.what).starts_with("notes") ||
                !std::get<Release>(changed).releaseNotes)
        << c.what;
  }
  for (std::string body : {std::string(), std::string("{"), std::string("[]"), std::string("\"x\""),
                           std::string("null"), std::string("{\"name\": \"\xff\"}"),
                           std::string(100000, '['), std::string(kMaxReleaseBodyBytes + 1, ' ')})
    EXPECT_TRUE(std::holds_alternative<std::string>(readRelease(body))) << body.substr(0, 20);
}

// The packaging script's two calls, and what they print read back by the application's rules.
TEST(SigningCommand, MakesAKeyAndAReleaseTheApplicationAccepts) {
  const std::string dir = std::string(g_get_home_dir()) + "/sign", key = dir + "/key",
                    tarball = dir + "/wendrel-desktop-0.2.0.tar.gz";
  std::filesystem::create_directories(dir);
  std::ofstream(tarball) << "not really a tarball";
  // The command's exit status and standard output.
  auto run = [](const std::string& arguments) {
    gchar* out = nullptr;
    gint status = -1;
    g_spawn_command_line_sync((WD_SIGN_COMMAND " " + arguments).c_str(), &out, nullptr, &status,
                              nullptr);
    std::pair result{WIFEXITED(status) ? WEXITSTATUS(status) : -1, std::string(out ? out : "")};
    g_free(out);
    return result;
  };
  const auto [rc, publicKeyText] = run("generate-key " + key);
  ASSERT_EQ(rc, 0);
  EXPECT_EQ(std::filesystem::status(key).permissions(),
            std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
  const auto publicKey = fromBase64<32>(publicKeyText.substr(0, publicKeyText.find('\n')));
  ASSERT_TRUE(publicKey);
  EXPECT_NE(run("generate-key " + key).first, 0);  // never overwritten

  const std::string release = "release --key " + key + " --file " + tarball;
  const auto [rc2, json] = run(release +
                               " --version 0.2.0 --name 'Wendrel Desktop 0.2.0' --url "
                               "https://u.example/w.tar.gz --notes https://u.example/n --date "
                               "2026-12-01T10:00:00Z");
  ASSERT_EQ(rc2, 0);
  const auto read = readRelease(json);
  ASSERT_TRUE(std::holds_alternative<Release>(read)) << json;
  const auto& r = std::get<Release>(read);
  EXPECT_EQ(r.size, std::filesystem::file_size(tarball));
  EXPECT_EQ(r.publicationDate, std::optional<std::string>("2026-12-01T10:00:00Z"));
  EXPECT_TRUE(
      verifyRelease(*publicKey, r.signature, "0.2.0", r.size, digestOf("not really a tarball")));
  EXPECT_EQ(run("release --key " + key).first, 2);
  EXPECT_NE(run(release + " --version v2 --name N --url https://u.example/w").first, 0);
}

}  // namespace
}  // namespace wd::update
