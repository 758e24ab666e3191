// The update checker in the application delegate with the real menu model and update windows,
// against a loopback HTTPS update service (downloads signed with a key made for the test).
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <gtk/gtk.h>
#include <sodium.h>
#include <spdlog/sinks/ostream_sink.h>
#include <spdlog/spdlog.h>

#include <sstream>

#include "core/Bundle.h"
#include "core/CertificateExceptions.h"
#include "core/Settings.h"
#include "shell/PageServer.h"
#include "shell/ShellFakes.h"
#include "shell/app/MainMenu.h"
#include "shell/menu/NativeMenu.h"
#include "shell/update/UpdateWindows.h"
#include "support/Files.h"
#include "support/Loop.h"
#include "update/UpdateQuery.h"

namespace wd::test {
namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;
using ::testing::Not;

constexpr const char* kServicePath = "/v1/wendrel/client/latest";

class UpdateCheckerTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { gtk_init(nullptr, nullptr); }
  void SetUp() override {
    ASSERT_TRUE(server.ok()) << server.error();
    CertificateExceptions::shared().setAllowsAnyCertificate(true, "127.0.0.1");
    update::cryptoReady();
    crypto_sign_keypair(publicKey.data(), secretKey.data());
    auto& defaults = UserDefaults::standard();
    defaults.setString(Settings::kUpdateServiceURL, server.url("127.0.0.1", kServicePath));
    defaults.setInteger(Settings::kUpdatePeriod, 3600);
    defaults.removeObjectForKey(Settings::kUpdateChannel);
    ASSERT_TRUE(menu->load(*Bundle::main().pathForResource("MainMenu", "ui", "ui")));
    delegate = std::make_unique<AppDelegate>(context, windows);
    delegate->applicationWillFinishLaunching();
    delegate->applicationDidFinishLaunching();
    delegate->setUpdateEnvironment({"0.1.0", publicKey, cache}, {});
    spdlog::set_default_logger(std::make_shared<spdlog::logger>(
        "test", std::make_shared<spdlog::sinks::ostream_sink_mt>(log)));
    spdlog::set_pattern("%l %v");
  }
  void TearDown() override {
    delegate.reset();
    spdlog::set_default_logger(saved);
    CertificateExceptions::shared().setAllowsAnyCertificate(false, "127.0.0.1");
  }
  ~UpdateCheckerTest() override { g_object_unref(actions); }
  // A signed release of `payload`, served; `change` may spoil the description.
  std::string release(const std::string& version, const std::string& payload,
                      const std::function<void(Json&)>& change = {}) {
    const std::string path = "/files/wendrel-desktop-" + version + ".tar.gz";
    server.route(path, {200, "application/gzip", payload});
    update::Sha512 sha;
    sha.update(payload.data(), payload.size());
    const auto sig = update::signRelease(secretKey, version, payload.size(), sha.finish());
    Json j = {{"name", "Wendrel Desktop " + version},
              {"version", version},
              {"url", server.url("127.0.0.1", path)},
              {"size", payload.size()},
              {"signature", update::toBase64(sig.data(), sig.size())},
              {"notes", "https://u.example/notes/" + version}};
    if (change) change(j);
    return j.dump();
  }
  void serve(unsigned status, std::string body = {}) {
    server.route(kServicePath, {status, "application/json", std::move(body)});
  }
  std::shared_ptr<NativeMenuItem> checkItem() {
    return menu->mainMenu()->items().front()->submenu()->itemWithTitle("Check for Update…");
  }
  UpdateWindows& ui() { return delegate->updateWindows(); }
  bool shown(GtkWindow* w) { return w && gtk_widget_get_visible(GTK_WIDGET(w)); }
  template <class Controller>
  bool shown(Controller* c) {
    return c && shown(c->window());
  }
  void check(bool manual) {
    const auto notified = shell.notifications.posted.size();
    delegate->startUpdateCheckerWith("mail.example.com");
    if (manual) delegate->openUpdateWindow();
    EXPECT_FALSE(checkItem()->enabled());  // while the check runs
    ASSERT_TRUE(waitFor(
        [&] { return checkItem()->enabled() || shell.notifications.posted.size() > notified; },
        60));
  }
  FakeShell shell;
  GSimpleActionGroup* actions = g_simple_action_group_new();
  std::shared_ptr<MainMenu> menu =
      std::make_shared<MainMenu>(G_ACTION_MAP(actions), [this] { return delegate.get(); });
  ShellContext context{ShellContext::Services{.application = shell.controlPtr,
                                              .notifications = shell.notificationsPtr,
                                              .workspace = shell.workspacePtr,
                                              .defaults = &UserDefaults::standard(),
                                              .center = &shell.center,
                                              .menus = menu,
                                              .clipboard = std::make_shared<MemoryClipboard>()}};
  FakeWindowFactory windows;
  std::unique_ptr<AppDelegate> delegate;
  const fs::path home = test::testDirectory();
  PageServer server{(fs::create_directories(home / "server"), home / "server")};
  fs::path cache = home / "cache/updates";
  update::PublicKey publicKey{};
  update::SecretKey secretKey{};
  std::ostringstream log;
  std::shared_ptr<spdlog::logger> saved = spdlog::default_logger();
};

// A damaged file or a part left from an earlier run is fetched again (the server does not resume).
TEST_F(UpdateCheckerTest, ANewerSignedReleaseIsDownloadedAnnouncedAndOffered) {
  const std::string payload(200000, 'x');
  serve(200, release("0.2.0", payload));
  writeFile(cache / "0.2.0/wendrel-desktop-0.2.0.tar.gz", "damaged");
  check(false);
  ASSERT_EQ(shell.notifications.posted.size(), 1u);
  const auto& n = shell.notifications.posted[0];
  EXPECT_EQ(n.title, "New version Wendrel Desktop 0.2.0");
  EXPECT_EQ(n.informativeText, "An update is ready to install.");
  EXPECT_FALSE(n.identifier);
  EXPECT_TRUE(n.userInfo.empty());
  EXPECT_FALSE(checkItem()->enabled());  // stays disabled once an update was found
  EXPECT_THAT(log.str(), HasSubstr("warning Checking new app version successfull, update is ready "
                                   "to install: Wendrel Desktop 0.2.0"));
  // Announced only once verified: the damaged file was fetched again.
  const fs::path file = ui().updateWindowController()->update().file;
  fs::remove(file);
  writeFile(file.string() + ".part", std::string(1000, 'x'));
  check(false);
  ASSERT_EQ(shell.notifications.posted.size(), 2u);
  EXPECT_FALSE(fs::exists(file.string() + ".part"));
  auto* window = ui().updateWindowController();
  ASSERT_TRUE(window);
  EXPECT_TRUE(shown(window));
  EXPECT_EQ(window->newVersionText(), "Wendrel Desktop 0.2.0 is ready to install.");
  window->onUpdateInfo();
  EXPECT_EQ(shell.workspace.opened, std::vector<std::string>{"https://u.example/notes/0.2.0"});
  EXPECT_FALSE(shown(window));
  // Installing closes the window; this payload is no tarball: the tree stays and the user is told.
  const fs::path tree = home / "tree";
  const fs::path helper = tree / "libexec/wendrel-desktop/wendrel-desktop-update-helper";
  for (const fs::path& f : {tree / "bin/wendrel-desktop", helper}) writeFile(f, "");
  delegate->setUpdateEnvironment({"0.1.0", publicKey, cache}, {tree, helper});
  window->showWindow();
  window->onInstallUpdate();
  EXPECT_FALSE(shown(window));
  ASSERT_TRUE(waitFor(
      [&] { return log.str().find("The update cannot be installed") != std::string::npos; }, 60));
  EXPECT_TRUE(shell.control.calls.empty());
  EXPECT_TRUE(fs::exists(tree / "bin/wendrel-desktop") && fs::exists(helper));
  for (const auto& entry : fs::directory_iterator(tree.parent_path()))
    EXPECT_FALSE(entry.path().filename().string().starts_with(".tree.update-")) << entry.path();
}

// A check without an update enables the menu item again and logs failures at info level; the
// user's own checks also show the no-update window or the failure's reason.
TEST_F(UpdateCheckerTest, FailedAndEmptyChecksEnableTheMenuAndAnswerOnlyTheUser) {
  const auto spoilt = [&](const char* member, Json value) {
    return release("0.2.0", "payload", [&](Json& j) { j[member] = value; });
  };
  const struct {
    const char* what;
    unsigned status;
    std::string body;
    bool failure = true;  // logged as a failed check
    const char* url = nullptr;
  } cases[] = {
      {"no update (204)", 204, "", false},
      {"server error", 500, "oops"},
      {"service unreachable", 204, "", true, "https://127.0.0.1:1/v1/wendrel/client/latest"},
      {"malformed JSON", 200, "{\"name\": "},
      {"older version", 200, release("0.0.9", "old")},
      {"bad signature", 200, spoilt("signature", update::toBase64(update::Signature{}.data(), 64))},
      {"oversized download", 200, spoilt("size", 3)},
      {"truncated download", 200, spoilt("size", 4096)},
  };
  for (const bool manual : {false, true}) {
    for (const auto& c : cases) {
      SCOPED_TRACE(std::string(c.what) + (manual ? " (manual)" : " (automatic)"));
      if (auto* w = ui().noUpdateWindowController()) w->onClose();
      if (GtkWindow* m = ui().messageWindow()) gtk_widget_destroy(GTK_WIDGET(m));
      log.str("");
      UserDefaults::standard().setString(Settings::kUpdateServiceURL,
                                         c.url ? c.url : server.url("127.0.0.1", kServicePath));
      serve(c.status, c.body);
      check(manual);  // ends with the menu item enabled, as no notification is posted
      EXPECT_EQ(shown(ui().noUpdateWindowController()), manual && !c.failure);
      GtkWindow* message = ui().messageWindow();
      ASSERT_EQ(message != nullptr, manual && c.failure);
      if (message) {
        EXPECT_TRUE(shown(message));
        g_autofree gchar *primary = nullptr, *secondary = nullptr;
        g_object_get(message, "text", &primary, "secondary-text", &secondary, nullptr);
        EXPECT_STREQ(primary, "The check for updates failed.");
        const std::string reason = secondary ? secondary : "";
        EXPECT_TRUE(reason.starts_with("Reason: ") && reason.ends_with(". Please try again later."))
            << reason;
        EXPECT_THAT(log.str(),
                    HasSubstr("info Update check failed: " + reason.substr(8, reason.size() - 33)));
      }
      EXPECT_TRUE(shell.notifications.posted.empty());
      EXPECT_FALSE(ui().updateWindowController());
      EXPECT_EQ(log.str().find("info Update check failed: ") != std::string::npos, c.failure)
          << log.str();
      EXPECT_THAT(log.str(), Not(HasSubstr("warning")));
      std::error_code ec;
      for (const auto& f : fs::recursive_directory_iterator(cache, ec))
        EXPECT_TRUE(!f.is_regular_file() || f.path().extension() == ".part") << f.path();
    }
  }
}

// The user's check is answered without a checker started by the page; the query names its parts.
TEST_F(UpdateCheckerTest, TheUsersCheckNeedsNoCheckerTheQueryNamesItsPartsAndPeriodicChecksOffer) {
  serve(204);
  ASSERT_FALSE(delegate->updateChecker());
  delegate->openUpdateWindow();
  ASSERT_TRUE(waitFor([&] { return checkItem()->enabled(); }, 60));
  EXPECT_TRUE(shown(ui().noUpdateWindowController()));
  const std::string query = std::string(kServicePath) + "?server=mail.example.com&client=0.1.0&" +
                            "target=" + update::updateTarget() + "&channel=";
  for (const auto& [channel, expected] :
       {std::pair{"", "beta"}, std::pair{"nightly build", "nightly%20build"}}) {
    if (*channel) UserDefaults::standard().setString(Settings::kUpdateChannel, channel);
    check(false);
    EXPECT_EQ(server.requestURIs().back(), query + expected);
  }
  // Periodic checks offer each newer release in a fresh window.
  UserDefaults::standard().setInteger(Settings::kUpdatePeriod, 1);
  serve(200, release("0.2.0", "first"));
  check(false);
  auto* first = ui().updateWindowController();
  ASSERT_TRUE(first);
  EXPECT_EQ(first->newVersionText(), "Wendrel Desktop 0.2.0 is ready to install.");
  serve(200, release("0.3.0", "second"));
  ASSERT_TRUE(waitFor(
      [&] {
        return shell.notifications.posted.back().title == "New version Wendrel Desktop 0.3.0";
      },
      60));
  auto* second = ui().updateWindowController();
  ASSERT_TRUE(second);
  EXPECT_EQ(second->newVersionText(), "Wendrel Desktop 0.3.0 is ready to install.");
  EXPECT_TRUE(shown(second));
  EXPECT_FALSE(checkItem()->enabled());
  // A negative period stops checking altogether.
  UserDefaults::standard().setInteger(Settings::kUpdatePeriod, -1);
  delegate->startUpdateCheckerWith("mail.example.com");
  EXPECT_FALSE(delegate->updateChecker());
  const auto asked = server.requests().size();
  runLoopFor(2.5);
  EXPECT_EQ(server.requests().size(), asked);
}

}  // namespace
}  // namespace wd::test
