// MacGap.AccountCommand and MacGap.Defaults in two headless pages over the account rig's settings
// store and in-memory keyring (the search's outcomes are the autodiscovery suites').
#include "PageObjectTest.h"
#include "shell/AccountRig.h"
#include "shell/commands/AccountCommand.h"
#include "shell/commands/Defaults.h"
#include "shell/preferences/PreferencesWindowController.h"

namespace wd::test {

// Two pages with both objects (A, D); window.events lists the account events each hears,
// window.seen the data of its "userDefaultsChanged" events.
class AccountAndDefaults : public PageObjectTestOn<AccountRig> {
 protected:
  void SetUp() override {
    AccountRig::SetUp();
    keychain->prefetch();
    for (const auto& w : {window, other}) {
      w->page.install({std::make_shared<DesktopCommand>(w),
                       {{"AccountCommand", std::make_shared<AccountCommand>(w, *context)},
                        {"Defaults", std::make_shared<Defaults>(w, *context)}}});
      listen("'userDefaultsChanged'", w.get());
      listen("'accountWebDiscovery', 'accountChanged'", w.get(), "document", "events");
      js("var A = MacGap.AccountCommand, D = MacGap.Defaults", w.get());
    }
  }
  // Each of the two pages' `list` holds `each` (emptied for the next call).
  void expectHeard(const Json& each, const std::string& list = "seen") {
    EXPECT_EQ(js(list), each) << list;
    EXPECT_EQ(js(list, other.get()), each) << list << " of the other page";
    js(list + " = []"), js(list + " = []", other.get());
  }
  std::shared_ptr<FakeWindow> other = std::make_shared<FakeWindow>();
};

TEST_F(AccountAndDefaults, EveryTypeIsWrittenWithThePagesConversionAndReadInItsNativeForm) {
  // Rows: the value written, its type, what get() then reads, with or without the prefix (a lone
  // surrogate arrives repaired).
  EXPECT_EQ(js(R"([[3000000000, 'int', -1294967296], [2.9, 'int', 2], [-2.9, 'int', -2],
      [' 12 ', 'int', 12], ['0x10', 'int', 16], [[7], 'int', 7], ['abc', 'int', 0],
      [true, 'int', 1], ['x', null, 'x'], [0.1, 'string', '0.1'], [undefined, 'string', 'undefined'],
      ['\u00e9\ud83d\ude00', 'string', '\u00e9\ud83d\ude00'], ['a\ud800', 'string', 'a\ufffd'],
      ['false', 'bool', true], ['', 'bool', false], [0, 'bool', false], [{}, 'bool', true],
      [0.1, 'float', 0.10000000149011612], ['2.5', 'float', 2.5],
      ['https://mail.example.com:8443/a?b=c#d', 'url', 'https://mail.example.com:8443/a?b=c#d']]
    .map(function (r) {
      D.set('k', r[0], r[1]); var got = D.get('k', r[1]);
      return D.get('MacGap_k', r[1]) === got && D.defaults.MacGap_k !== undefined &&
          JSON.stringify(got) === JSON.stringify(r[2]) ? '' : r + ' gave ' + got;
    }).filter(String))"),
            Json::array());
  // The stored forms natively; what stores nothing: "object", unknown types, no key, no URL, no
  // number.
  js("D.set('a', 5, 'int'); D.set('f', 0.1, 'float'); D.set('o', 'x', 'object');"
     "D.set('o', 'x', 'Int'); D.set(undefined, 'x'); D.set(null, 1, 'int');"
     "D.set('f2', NaN, 'float'); D.set('u', 'not a url', 'url')");
  EXPECT_EQ(store().objectForKey("MacGap_a"), Json(5));
  EXPECT_EQ(store().doubleForKey("MacGap_f"), static_cast<double>(0.1f));
  // Reads give each type's empty answer, or the native form.
  EXPECT_EQ(js("[D.get('none', 'bool'), D.get('none', 'int'), D.get('none', 'float'),"
               " typeof D.get('none'), typeof D.get('none', 'url'), typeof D.get('none', 'object'),"
               " typeof D.get(undefined), typeof D.get('x', 'Int')]"),
            Json({false, 0, 0, "undefined", "undefined", "undefined", "undefined", "undefined"}));
  store().setObject("MacGap_obj", Json{{"a", 1}, {"b", {true, "x"}}});
  store().setInteger("MacGap_port", 993);
  store().setString("MacGap_destinationDownload", "/tmp/down loads");
  store().setString("MacGap_home", "~/mail");
  store().setString("macgap_lower", "not the page's");
  // The prefix test is case-sensitive: "macgap_lower" becomes "MacGap_macgap_lower".
  expectAll({{"D.get('obj', 'object')", {{"a", 1}, {"b", {true, "x"}}}},
             {"typeof D.get('port', 'object')", "undefined"},
             {"D.get('port')", "993"},
             {"D.get('MacGap_port', 'int')", 993},
             {"D.get('destinationDownload', 'url')", "file:///tmp/down%20loads"},
             {"D.get('home', 'url')", "file://" + std::string(g_get_home_dir()) + "/mail"},
             {"typeof D.get('macgap_lower')", "undefined"}});
  EXPECT_EQ(js("D.set('macgap_lower', 'page'); Object.keys(D.defaults).sort()"),
            Json({"MacGap_a", "MacGap_destinationDownload", "MacGap_f", "MacGap_home", "MacGap_k",
                  "MacGap_macgap_lower", "MacGap_obj", "MacGap_port"}));
}

TEST_F(AccountAndDefaults,
       SecureValuesStayInTheKeychainAndEveryChangeOfASettingIsRaisedEverywhere) {
  const std::pair<std::string, std::string> item = {kService, "MacGap_password"};
  expectAll({{"D.setSecure('password', 'p\\u00e4ss'); D.getSecure('password')", "p\xC3\xA4ss"},
             {"D.getSecure('MacGap_password', 'int')", "p\xC3\xA4ss"}});
  EXPECT_EQ(secrets->items[item], "p\xC3\xA4ss");
  EXPECT_EQ(store().objectForKey("MacGap_password"), std::nullopt);  // not a setting
  expectHeard(Json::array());                                        // nor a settings change
  EXPECT_EQ(js("D.setSecure('password', null); typeof D.getSecure('password')"), "undefined");
  EXPECT_EQ(secrets->items.count(item), 0u);
  EXPECT_EQ(js("typeof D.getSecure(undefined)"), "undefined");
  js("D.setSecure(null, 'x')");
  EXPECT_TRUE(keychain->values().empty());
  // Every change of a page setting is raised in every window.
  js("D.set('a', 1, 'int')");
  expectHeard(Json::parse(R"([{"MacGap_a": 1}])"));
  js("D.remove('a')", other.get());
  expectHeard(Json::parse("[{}]"));
  // Native changes (the preference panes), of any key: each one raises.
  store().setString("MacGap_server", "mail.example.com");
  store().setBool("developer", true);
  store().setObject("MacGap_when", Json{{"nested", {1, 2}}});
  const Json one = {{"MacGap_server", "mail.example.com"}};
  Json all = {{"MacGap_server", "mail.example.com"}, {"MacGap_when", {{"nested", {1, 2}}}}};
  expectHeard({one, one, all});
  // A window reloaded to a page without the object: the other window still hears.
  other->page.install({std::make_shared<DesktopCommand>(other), {}});
  other->page.reload();
  js("D.set('b', true, 'bool')");
  all["MacGap_b"] = true;
  EXPECT_EQ(js("seen"), Json::array({all}));
}

// The newer search replaces the older one, which never asks nor reports.
TEST_F(AccountAndDefaults, PageSearchEndsInOneEventInEveryPage) {
  WD_REQUIRE_SERVERS();
  server->route("h.srv.test", 8443, Behaviour{200, autodiscoverDocument("mail.srv.test")});
  server->route("h.hang.test", 8443, Behaviour{0});
  js("A.autodiscoveryPasswordServer('u@hang.test', 'pw', 'hang.test');"
     "A.autodiscoveryPasswordServer('u@srv.test', 'pw', 'srv.test')");
  ASSERT_TRUE(waitFor(
      [&] { return js("events.length") != 0 && js("events.length", other.get()) != 0; }, 60));
  runLoopFor(1);  // nothing more arrives
  expectHeard(Json::parse(R"([["accountWebDiscovery",
      {"result": "success", "server": "mail.srv.test", "port": "443"}]])"),
              "events");
  EXPECT_EQ(server->requestCount("h.hang.test"), 0u);
}

// The stored server's host loses its exception, the given one (host, host:port or URL) gains it.
TEST_F(AccountAndDefaults, CertificateTrustMovesAndThePaneOpensAndItsChangeReachesEveryPage) {
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
  // The page opens the Account pane; the pane's "accountChanged" (its own suite drives the save)
  // reaches every page, and a page's own calls raise nothing there.
  ASSERT_TRUE(gtk_init_check(nullptr, nullptr));
  FakeWindowFactory factory;
  auto delegate = std::make_unique<AppDelegate>(*context, factory);
  js("A.showPreferences()");
  EXPECT_TRUE(delegate->preferencesWindowController().isVisible());
  EXPECT_EQ(delegate->preferencesWindowController().selectedIdentifier(), "Accounts");
  context->center().post(AccountCommand::kAccountChanged);
  expectHeard(Json::array({Json::array({"accountChanged", Json::object()})}), "events");
  js("A.verificationResult(true); A.accountWebDiscovery({})");
  EXPECT_EQ(posted, (std::vector<std::string>{"accountChanged", "accountVerificationResult"}));
  expectHeard(Json::array(), "events");
  delegate.reset();
  js("A.showPreferences()");  // without a delegate: nothing
}

}  // namespace wd::test
