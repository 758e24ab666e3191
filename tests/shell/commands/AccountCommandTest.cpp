// MacGap.AccountCommand from real JavaScript in two headless pages over the account rig: the
// page's search against the autodiscovery rig ends in exactly one "accountWebDiscovery" in every
// page, certificate trust moves from the stored server to the given host, and the Account pane
// opened by the page saves into "accountChanged" in every page.
#include <gtest/gtest.h>
#include <gtk/gtk.h>

#include "autodiscover/Loop.h"
#include "shell/AccountRig.h"
#include "shell/commands/AccountCommand.h"
#include "shell/commands/DesktopCommand.h"
#include "shell/preferences/AccountPreferencesViewController.h"
#include "shell/preferences/PreferencesWindowController.h"

namespace wd::test {
namespace {

class AccountCommandTest : public AccountRig {
 protected:
  void SetUp() override {
    AccountRig::SetUp();
    for (auto& w : windows) {
      w.window = std::make_shared<FakeWindow>();
      w.account = std::make_shared<AccountCommand>(w.window, *context);
      w.window->page.install(
          {std::make_shared<DesktopCommand>(w.window), {{"AccountCommand", w.account}}});
      w.window->page.evaluate(
          "window.events = [];"
          "['accountWebDiscovery', 'accountChanged'].forEach(function (n) {"
          "  document.addEventListener(n, function (e) { events.push([n, e.data]); }); });");
    }
  }
  Json js(const std::string& script, int window = 0) {
    return windows[window].window->page.evaluate(script).value_or(Json("<undefined>"));
  }
  Json events(int window) { return js("events", window); }

  struct Window {
    std::shared_ptr<FakeWindow> window;
    std::shared_ptr<AccountCommand> account;
  } windows[2];
};

TEST_F(AccountCommandTest, PageSearchEndsInOneEventInEveryPage) {
  WD_REQUIRE_SERVERS();
  server->route("h.srv.test", 8443, Behaviour::document(autodiscoverDocument("mail.srv.test")));
  server->route("h.hang.test", 8443, Behaviour::hang());
  server->route("h.auth.test", 8443, Behaviour::challenge("user@auth.test", "right", "x"));
  const struct {
    const char* calls;
    Json result;
  } cases[] = {
      // The newer search replaces the older one, which never reports.
      {"MacGap.AccountCommand.autodiscoveryPasswordServer('u@hang.test', 'pw', 'hang.test');"
       "MacGap.AccountCommand.autodiscoveryPasswordServer('u@srv.test', 'pw', 'srv.test')",
       {{"result", "success"}, {"server", "mail.srv.test"}, {"port", "443"}}},
      {"MacGap.AccountCommand.autodiscoveryPasswordServer('user@auth.test', 'no', 'auth.test')",
       {{"result", "invalidCredentials"}}},
      {"MacGap.AccountCommand.autodiscoveryPasswordServer()", {{"result", "autodiscoverFailed"}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.calls);
    for (int i = 0; i < 2; ++i) js("events = []", i);
    js(c.calls);
    ASSERT_TRUE(runLoopUntil([&] { return events(0).size() && events(1).size(); }, 60));
    runLoopFor(1);  // nothing more arrives
    const Json expected = Json::array({Json::array({"accountWebDiscovery", c.result})});
    EXPECT_EQ(events(0), expected);
    EXPECT_EQ(events(1), expected);
  }
  EXPECT_EQ(server->requestCount("h.hang.test"), 0u);  // stopped before it asked
}

TEST_F(AccountCommandTest, CertificateTrustMovesFromTheStoredServer) {
  const struct {
    const char* stored;  // MacGap_server, excepted beforehand
    const char* argument;
    std::set<std::string> excepted;
    bool flag;
  } cases[] = {
      {"mail.a.test", "'b.test'", {"b.test"}, true},
      {"mail.a.test:8443", "'https://Mail.A.test/x'", {"mail.a.test"}, true},  // the same host
      {nullptr, "'c.test:993'", {"c.test"}, true},
      {"mail.a.test", "''", {"mail.a.test"}, false},  // no host: nothing changes
      {"mail.a.test", "undefined", {"mail.a.test"}, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.argument);
    CertificateExceptions::shared().clear();
    store().removeObjectForKey(Settings::kAllowUntrustedCertificates);
    store().removeObjectForKey(Settings::kServer);
    if (c.stored) {
      store().setString(Settings::kServer, c.stored);
      CertificateExceptions::shared().setAllowsAnyCertificate(true, "mail.a.test");
    }
    js(std::string("MacGap.AccountCommand.makeCertificateTrusted(") + c.argument + ")");
    EXPECT_EQ(CertificateExceptions::shared().hosts(), c.excepted);
    EXPECT_EQ(store().boolForKey(Settings::kAllowUntrustedCertificates), c.flag);
  }
}

TEST_F(AccountCommandTest, PaneOpenedByThePageSavesIntoEveryPage) {
  ASSERT_TRUE(gtk_init_check(nullptr, nullptr));
  FakeWindowFactory factory;
  auto delegate = std::make_unique<AppDelegate>(*context, factory);
  js("MacGap.AccountCommand.showPreferences()");
  auto& prefs = delegate->preferencesWindowController();
  EXPECT_TRUE(prefs.isVisible());
  EXPECT_EQ(prefs.selectedIdentifier(), "Accounts");
  auto* pane = static_cast<AccountPreferencesViewController*>(prefs.panes()[1].get());
  ASSERT_TRUE(pane->initialWindow());  // no account yet: the first-run sheet
  pane->initialCancelPressed();
  gtk_entry_set_text(pane->usernameTF(), "me@x.test");
  gtk_entry_set_text(pane->serverTF(), "mail.x.test");
  gtk_button_clicked(pane->saveButton());
  const Json expected = Json::array({Json::array({"accountChanged", Json::object()})});
  EXPECT_EQ(events(0), expected);
  EXPECT_EQ(events(1), expected);
  js("MacGap.AccountCommand.verificationResult(true); "
     "MacGap.AccountCommand.accountWebDiscovery({})");
  EXPECT_EQ(posted, (std::vector<std::string>{"accountChanged", "accountVerifyRequest",
                                              "accountVerificationResult"}));
  EXPECT_EQ(events(0), expected);  // a page's own call raises nothing
  delegate.reset();
  js("MacGap.AccountCommand.showPreferences()");  // without a delegate: nothing
}

}  // namespace
}  // namespace wd::test
