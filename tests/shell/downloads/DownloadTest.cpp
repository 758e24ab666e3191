// Attachment downloads against the loopback HTTPS server (and full disks on a small tmpfs in the
// network sandbox's mount namespace), and MacGap.DesktopCommand.openInApp.
#include <gmock/gmock.h>
#include <libsoup/soup.h>
#include <sys/mount.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <set>

#include "autodiscover/NetworkSandbox.h"
#include "core/CertificateExceptions.h"
#include "shell/PageServer.h"
#include "shell/commands/PageObjectTest.h"
#include "shell/cookies/BSHTTPCookieStorage.h"
#include "shell/downloads/AttachmentDownload.h"
#include "shell/downloads/Downloads.h"

namespace wd::test {
namespace {

std::set<std::string> listing(const fs::path& dir) {
  std::set<std::string> names;
  for (const auto& entry : fs::directory_iterator(dir)) names.insert(entry.path().filename());
  return names;
}

void addSessionCookie(SoupMessage* message) {
  soup_message_headers_replace(soup_message_get_request_headers(message), "Cookie",
                               "session=s3cret");
}

const std::string kAttachmentPath = "/webmail/api/download/attachment/";

class Download : public PageObjectTest {
 protected:
  void SetUp() override {
    NetworkSandbox::shared();  // entered before main: loopback comes up in its network namespace
    server = std::make_unique<PageServer>(std::getenv("HOME"));
    ASSERT_TRUE(server->ok()) << server->error();
    large.resize(3 * 1024 * 1024 + 17);
    for (std::size_t i = 0; i < large.size(); ++i) large[i] = static_cast<char>('a' + i % 26);
    server->route(
        kAttachmentPath + "1",
        {.body = "the attachment", .cookie = "session=s3cret", .filename = "suggested.txt"});
    server->route(kAttachmentPath + "large", {.body = large});
    server->route(kAttachmentPath + "dropped", {.body = large, .dropAfter = 300000});
    server->route(kAttachmentPath + "stalled",
                  {.body = large, .dropAfter = 1000, .holdOpen = true});
    server->route(kAttachmentPath + "endless",
                  {.body = large, .dropAfter = large.size(), .unannounced = true});
    CertificateExceptions::shared().setAllowsAnyCertificate(true, "127.0.0.1");
  }
  void TearDown() override { CertificateExceptions::shared().clear(); }
  std::string url(const std::string& name) {
    return server->url("127.0.0.1", kAttachmentPath + name);
  }

  // One download to completion: no failure (nullopt) or the reason; `progress` gets its reports.
  static constexpr unsigned kStall = AttachmentDownload::kStallMilliseconds;
  std::optional<std::string> download(const std::string& from, const fs::path& to,
                                      PrepareRequest prepare = {}, unsigned stall = kStall) {
    progress.clear();
    std::optional<std::optional<std::string>> end;  // the failure once finished
    auto job = AttachmentDownload::start(
        from, to, std::move(prepare),
        {.progress = [&](std::int64_t r, std::int64_t t) { progress.emplace_back(r, t); },
         .finished = [&](const std::optional<std::string>& failure) { end.emplace(failure); }},
        stall);
    EXPECT_TRUE(waitFor([&] { return end.has_value(); })) << from;
    return end.value_or(std::nullopt);
  }

  const fs::path dir = testDirectory();
  std::unique_ptr<PageServer> server;
  std::string large;
  std::vector<std::pair<std::int64_t, std::int64_t>> progress;  // of the last download
};

// Each download over an old file of mode 0600: saved whole in its place (keeping the mode) or
// failed with its reason, the old file kept; never the suggested name or a temporary file left.
// "1" needs the session cookie; the small disk is a 1 MiB tmpfs.
TEST_F(Download, TheWholeBodyReplacesTheDestinationOnlyWhenComplete) {
  const fs::path small = dir / "small";
  fs::create_directories(small);
  const bool smallDisk = NetworkSandbox::shared().reason().empty();
  ASSERT_TRUE(!smallDisk ||
              ::mount("tmpfs", small.c_str(), "tmpfs", 0, "size=1024k,mode=0700") == 0)
      << std::strerror(errno);
  const std::tuple<const char*, bool, std::string> cases[] = {
      {"1", false, ""},
      {"large", false, ""},
      {"dropped", false, "connection"},
      {"missing", false, "404"},
      {"stalled", false, "stopped sending"},
      {"large", true, "free space"},    // its announced length does not fit
      {"endless", true, "free space"},  // no length: stopped while writing
      {"1", true, ""}};                 // a small file still fits
  for (const auto& [name, onSmallDisk, failure] : cases) {
    if (onSmallDisk && !smallDisk) continue;
    SCOPED_TRACE(std::string(name) + (onSmallDisk ? " on the small disk" : ""));
    const fs::path target = (onSmallDisk ? small : dir) / "saved.bin";
    writeFile(target, "the old file");
    fs::permissions(target, fs::perms(0600));
    const auto before = listing(target.parent_path());
    const auto got = download(url(name), target, addSessionCookie,
                              name == std::string("stalled") ? 300 : kStall);
    if (!failure.empty()) {
      EXPECT_THAT(got, ::testing::Optional(::testing::HasSubstr(failure)));
      EXPECT_EQ(readFile(target), "the old file");
    } else {
      EXPECT_FALSE(got) << *got;
      const std::string body = name == std::string("1") ? "the attachment" : large;
      EXPECT_EQ(readFile(target), body);
      EXPECT_EQ(fs::status(target).permissions(), fs::perms(0600));
      ASSERT_GT(progress.size(), body == large ? 3u : 0u);  // a large one seen growing
      EXPECT_EQ(progress.back(),
                std::make_pair(std::int64_t(body.size()), std::int64_t(body.size())));
    }
    EXPECT_EQ(listing(target.parent_path()), before);
  }
  EXPECT_EQ(AttachmentDownload::stallReason(60000),
            "the server stopped sending: nothing arrived for a minute");
  if (!smallDisk) GTEST_SKIP() << "no small disk: " << NetworkSandbox::shared().reason();
}

TEST_F(Download, BadTargetsCertificatesCancelAndPlainRedirectsLeakNothingAndLeaveNothingBehind) {
  const fs::path target = dir / "kept.txt";
  // A redirect to plain HTTP is prepared again: the Secure cookie stays off the plain hop.
  BSHTTPCookieStorage store;
  store.setCookie(
      {.name = "session", .value = "S1", .domain = "127.0.0.1", .path = "/", .secure = true});
  store.setCookie({.name = "dom", .value = "D1", .domain = "127.0.0.1", .path = "/"});
  const std::string plain = kAttachmentPath + "plain";
  server->route(plain, {.body = "plain body"});
  server->route(kAttachmentPath + "to-http", {.redirect = server->plainUrl("127.0.0.1", plain)});
  EXPECT_FALSE(
      download(url("to-http"), target, [&](SoupMessage* m) { store.handleCookiesInRequest(m); }));
  EXPECT_THAT(server->requestCookies(),
              ::testing::ElementsAre(
                  ::testing::FieldsAre(kAttachmentPath + "to-http", "dom=D1; session=S1"),
                  ::testing::FieldsAre(plain, "dom=D1")));
  writeFile(target, "kept");
  // A URL that is not http(s), a folder that does not exist, a destination that is a folder.
  EXPECT_TRUE(download("file:///etc/passwd", target));
  EXPECT_TRUE(download(url("1"), dir / "no/such/folder/x", addSessionCookie));
  fs::create_directories(dir / "folder");
  EXPECT_TRUE(download(url("1"), dir / "folder", addSessionCookie));
  // Without the host's certificate exception the self-signed server is refused.
  CertificateExceptions::shared().clear();
  EXPECT_TRUE(download(url("1"), target, addSessionCookie));
  CertificateExceptions::shared().setAllowsAnyCertificate(true, "127.0.0.1");
  // Cancelled part-way: no further report, the old file stays, the temporary file goes.
  bool reported = false, cancelled = false;
  std::shared_ptr<AttachmentDownload> job;
  const auto cancel = [&](std::int64_t received, std::int64_t) {
    if (received == 0) return;
    job->cancel();
    cancelled = true;
  };
  job = AttachmentDownload::start(
      url("large"), target, {}, {.progress = cancel, .finished = [&](auto&) { reported = true; }});
  ASSERT_TRUE(waitFor([&] { return cancelled; }));
  runLoopFor(0.5);  // anything still pending arrives
  EXPECT_FALSE(reported);
  EXPECT_EQ(readFile(target), "kept");
  EXPECT_EQ(listing(dir), (std::set<std::string>{"folder", "kept.txt"}));
  // Dropping a running download cancels it too.
  job = AttachmentDownload::start(url("large"), target, {}, {});
  ASSERT_TRUE(waitFor([&] { return listing(dir).size() == 3; }));  // its temporary file
  job.reset();
  EXPECT_EQ(listing(dir), (std::set<std::string>{"folder", "kept.txt"}));
}

TEST_F(Download, OpenInAppDownloadsUnderOneSafeNameIntoThePrivateFolder) {
  const std::pair<const char*, const char*> cases[] = {
      {"https://h/webmail/api/download/attachment/7/report%20final.pdf", "report final.pdf"},
      {"https://h/a/b/", "b"},
      {"https://h/", "download"},
      {"https://h/x/..%2F..%2Fetc%2Fpasswd", "_.._etc_passwd"},  // no hidden file, no "/"
      {"https://h/a%0Ab%FF%00", "a_b\uFFFD_"},
      {"not a url", "download"}};
  for (const auto& [url, name] : cases) EXPECT_EQ(Downloads::proposedFileName(url), name) << url;
  EXPECT_EQ(Downloads::proposedFileName("https://h/" + std::string(300, 'x')).size(), 255u);
  const auto folder = Downloads::temporaryDirectory();
  ASSERT_TRUE(folder);
  EXPECT_EQ(fs::symlink_status(*folder).permissions(), fs::perms::owner_all);  // not a link
  // openInApp downloads into that folder under that name, and opens the file.
  const std::string path = "/files/open-in-app-" + std::to_string(::getpid()) + ".txt";
  server->route(path, {.body = "new"});
  const std::string file = server->url("127.0.0.1", path);
  const fs::path expected = fs::path(*folder) / Downloads::proposedFileName(file);
  writeFile(expected, "an older download");
  FakeShell shell;
  window->page.install(
      {std::make_shared<DesktopCommand>(window),
       {{"DesktopCommand", std::make_shared<DesktopCommand>(window, &shell.context)}}});
  js("var D = MacGap.DesktopCommand; D.openInApp({url: " + lit(file) +
     "}); D.openInApp({}); D.openInApp('x')");  // bad options throw nothing
  ASSERT_TRUE(waitFor([&] { return !shell.workspace.files.empty(); }));
  EXPECT_EQ(shell.workspace.files, std::vector<std::string>{expected.string()});
  EXPECT_EQ(readFile(expected), "new");
  EXPECT_EQ(shell.context.downloads().running(), 0u);
  fs::remove(expected);
}

}  // namespace
}  // namespace wd::test
