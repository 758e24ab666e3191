// MacGap.AccountCommand in two headless pages over the account rig (the search's outcomes are the
// autodiscovery suites'): its events reach every page, certificate trust follows the host.
#include <gtest/gtest.h>
#include <gtk/gtk.h>

#include "shell/AccountRig.h"
#include "shell/commands/AccountCommand.h"
#include "shell/commands/DesktopCommand.h"
#include "shell/preferences/PreferencesWindowController.h"
#include "support/Loop.h"

namespace wd::test {

// Two pages with MacGap.AccountCommand; window.events lists the account events each hears.
class AccountCommandTest : public AccountRig {
 protected:
  void SetUp() override {
    AccountRig::SetUp();
    for (auto& w : windows) {
      w->page.install({std::make_shared<DesktopCommand>(w),
                       {{"AccountCommand", std::make_shared<AccountCommand>(w, *context)}}});
      w->page.evaluate(
          "window.events = []; var A = MacGap.AccountCommand;"
          "['accountWebDiscovery', 'accountChanged'].forEach(function (n) {"
          "  document.addEventListener(n, function (e) { events.push([n, e.data]); }); });");
    }
  }
  Json js(const std::string& script, int window = 0) {
    return windows[window]->page.evaluate(script).value_or(Json("<undefined>"));
  }
  Json events(int window) { return js("events", window); }
  // What both pages heard: one `expected` list each.
  void expectHeard(const Json& expected) {
    EXPECT_EQ(events(0), expected);
    EXPECT_EQ(events(1), expected);
  }
  std::shared_ptr<FakeWindow> windows[2] = {std::make_shared<FakeWindow>(),
                                            std::make_shared<FakeWindow>()};
};

// The newer search replaces the older one, which never asks nor reports.
TEST_F(AccountCommandTest, PageSearchEndsInOneEventInEveryPage) {
  WD_REQUIRE_SERVERS();
  server->route("h.srv.test", 8443, Behaviour::document(autodiscoverDocument("mail.srv.test")));
  server->route("h.hang.test", 8443, Behaviour::hang());
  js("A.autodiscoveryPasswordServer('u@hang.test', 'pw', 'hang.test');"
     "A.autodiscoveryPasswordServer('u@srv.test', 'pw', 'srv.test')");
  ASSERT_TRUE(waitFor([&] { return events(0).size() && events(1).size(); }, 60));
  runLoopFor(1);  // nothing more arrives
  expectHeard(Json::parse(R"([["accountWebDiscovery",
      {"result": "success", "server": "mail.srv.test", "port": "443"}]])"));
  EXPECT_EQ(server->requestCount("h.hang.test"), 0u);
}

// The stored server's host loses its exception, the given one (host, host:port or URL) gains it.
TEST_F(AccountCommandTest, CertificateTrustMovesFromTheStoredServer) {
  const std::tuple<const char*, const char*, std::set<std::string>, bool> cases[] = {
      {"mail.a.test", "'b.test'", {"b.test"}, true},
      {"mail.a.test:8443", "'https://Mail.A.test/x'", {"mail.a.test"}, true},  // the same host
      {nullptr, "'c.test:993'", {"c.test"}, true},
      {"mail.a.test", "''", {"mail.a.test"}, false}};  // no host: nothing changes
  for (const auto& [stored, argument, excepted, flag] : cases) {
    SCOPED_TRACE(argument);
    CertificateExceptions::shared().clear();
    store().removeObjectForKey(Settings::kAllowUntrustedCertificates);
    store().removeObjectForKey(Settings::kServer);
    if (stored) {
      store().setString(Settings::kServer, stored);
      CertificateExceptions::shared().setAllowsAnyCertificate(true, "mail.a.test");
    }
    js(std::string("A.makeCertificateTrusted(") + argument + ")");
    EXPECT_EQ(CertificateExceptions::shared().hosts(), excepted);
    EXPECT_EQ(store().boolForKey(Settings::kAllowUntrustedCertificates), flag);
  }
}

// The page opens the Account pane; the pane's "accountChanged" (its own suite drives the save)
// reaches every page, and a page's own calls raise nothing there.
TEST_F(AccountCommandTest, PaneOpenedByThePageAndItsChangeInEveryPage) {
  ASSERT_TRUE(gtk_init_check(nullptr, nullptr));
  FakeWindowFactory factory;
  auto delegate = std::make_unique<AppDelegate>(*context, factory);
  js("A.showPreferences()");
  EXPECT_TRUE(delegate->preferencesWindowController().isVisible());
  EXPECT_EQ(delegate->preferencesWindowController().selectedIdentifier(), "Accounts");
  context->center().post(AccountCommand::kAccountChanged);
  const Json expected = Json::array({Json::array({"accountChanged", Json::object()})});
  expectHeard(expected);
  js("A.verificationResult(true); A.accountWebDiscovery({})");
  EXPECT_EQ(posted, (std::vector<std::string>{"accountChanged", "accountVerificationResult"}));
  EXPECT_EQ(events(0), expected);
  delegate.reset();
  js("A.showPreferences()");  // without a delegate: nothing
}

}  // namespace wd::test
