// MacGap.Defaults in headless pages over the process's settings store and an in-memory keyring:
// the page's conversions, native forms, secure values and "userDefaultsChanged" in every page.
#include "PageObjectTest.h"
#include "keychain/PDKeychainBindings.h"
#include "keychain/testing/MemorySecretBackend.h"
#include "shell/commands/Defaults.h"

namespace wd::test {

using keychain::testing::MemorySecretBackend;

// Two pages, each with its own Defaults object, whose window.seen lists the data of their
// "userDefaultsChanged" events.
class DefaultsObject : public PageObjectTest {
 protected:
  void SetUp() override {
    const Json all = store().dictionaryRepresentation();
    for (const auto& item : all.items()) store().removeObjectForKey(item.key());
    keychain->prefetch();
    for (const auto& w : {window, other}) {
      install("Defaults", std::make_shared<Defaults>(w, context), w);
      listen("'userDefaultsChanged'", w.get());
      js("var D = MacGap.Defaults", w.get());
    }
  }
  static UserDefaults& store() { return UserDefaults::standard(); }
  // The changes both pages heard since the last call.
  Json changes() {
    const Json both = {js("seen"), js("seen", other.get())};
    js("seen = []"), js("seen = []", other.get());
    return both;
  }
  std::shared_ptr<MemorySecretBackend> secrets = std::make_shared<MemorySecretBackend>();
  std::shared_ptr<PDKeychainBindingsController> keychain =
      std::make_shared<PDKeychainBindingsController>("com.tovik.WendrelDesktop", secrets);
  // The store announces its changes on the process's notification centre.
  ShellContext context{
      ShellContext::Services{.application = std::make_shared<FakeApplicationControl>(),
                             .notifications = std::make_shared<FakeNotificationService>(),
                             .workspace = std::make_shared<FakeWorkspace>(),
                             .defaults = &UserDefaults::standard(),
                             .center = &NotificationCenter::defaultCenter(),
                             .clipboard = std::make_shared<MemoryClipboard>(),
                             .keychain = keychain}};
  std::shared_ptr<FakeWindow> other = std::make_shared<FakeWindow>();
};

TEST_F(DefaultsObject, EveryTypeIsWrittenWithThePagesConversionAndReadBack) {
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
  EXPECT_EQ(js("Object.keys(D.defaults).sort()"), Json({"MacGap_a", "MacGap_f", "MacGap_k"}));
}

TEST_F(DefaultsObject, ReadsGiveEachTypesEmptyAnswerOrTheNativeForm) {
  EXPECT_EQ(
      js("[D.get('none', 'bool'), D.get('none', 'int'), D.get('none', 'float'),"
         " typeof D.get('none'), typeof D.get('none', 'url'),"
         " typeof D.get('none', 'object'), typeof D.get(undefined), typeof D.get('x', 'Int')]"),
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
  js("D.set('macgap_lower', 'page')");
  EXPECT_EQ(store().stringForKey("MacGap_macgap_lower"), "page");
  EXPECT_EQ(store().stringForKey("macgap_lower"), "not the page's");
  EXPECT_EQ(js("Object.keys(D.defaults).sort()"),
            Json({"MacGap_destinationDownload", "MacGap_home", "MacGap_macgap_lower", "MacGap_obj",
                  "MacGap_port"}));
}

TEST_F(DefaultsObject, SecureValuesLiveInTheKeychainStoreUnderThePrefixedKey) {
  const std::pair<std::string, std::string> item = {"com.tovik.WendrelDesktop", "MacGap_password"};
  expectAll({{"D.setSecure('password', 'p\\u00e4ss'); D.getSecure('password')", "p\xC3\xA4ss"},
             {"D.getSecure('MacGap_password', 'int')", "p\xC3\xA4ss"}});
  EXPECT_EQ(secrets->items[item], "p\xC3\xA4ss");
  EXPECT_EQ(store().objectForKey("MacGap_password"), std::nullopt);   // not a setting
  EXPECT_EQ(changes(), Json::array({Json::array(), Json::array()}));  // nor a settings change
  EXPECT_EQ(js("D.setSecure('password', null); typeof D.getSecure('password')"), "undefined");
  EXPECT_EQ(secrets->items.count(item), 0u);
  EXPECT_EQ(js("typeof D.getSecure(undefined)"), "undefined");
  js("D.setSecure(null, 'x')");
  EXPECT_TRUE(keychain->values().empty());
}

TEST_F(DefaultsObject, EveryChangeOfAPageSettingIsRaisedInEveryWindow) {
  js("D.set('a', 1, 'int')");
  const Json afterSet = Json::array({Json{{"MacGap_a", 1}}});
  EXPECT_EQ(changes(), Json::array({afterSet, afterSet}));
  js("D.remove('a')", other.get());
  EXPECT_EQ(changes(), Json::parse("[[{}], [{}]]"));
  // Native changes (the preference panes), of any key: each one raises.
  store().setString("MacGap_server", "mail.example.com");
  store().setBool("developer", true);
  store().setObject("MacGap_when", Json{{"nested", {1, 2}}});
  const Json server = {{"MacGap_server", "mail.example.com"}};
  const Json all = {{"MacGap_server", "mail.example.com"}, {"MacGap_when", {{"nested", {1, 2}}}}};
  const Json heard = Json::array({server, server, all});
  EXPECT_EQ(changes(), Json::array({heard, heard}));
  // A window reloaded to a page without the object: the other window still hears.
  other->page.install({std::make_shared<DesktopCommand>(other), {}});
  other->page.reload();
  js("D.set('b', true, 'bool')");
  Json withB = all;
  withB["MacGap_b"] = true;
  EXPECT_EQ(js("seen"), Json::array({withB}));
}

}  // namespace wd::test
