// MacGap.Defaults from real JavaScript in the headless page, over the process's settings store
// and an in-memory keyring: every type read and written (the page's own conversions), the key
// rule, the native forms the page reads, secure values, and "userDefaultsChanged" raised in
// every window's page for every change of the settings, whoever made it.
#include <glib.h>
#include <gtest/gtest.h>

#include <memory>

#include "keychain/PDKeychainBindings.h"
#include "keychain/testing/MemorySecretBackend.h"
#include "shell/ShellFakes.h"
#include "shell/commands/Defaults.h"
#include "shell/commands/DesktopCommand.h"

namespace wd::test {
namespace {

using keychain::testing::MemorySecretBackend;

class DefaultsObject : public ::testing::Test {
 protected:
  void SetUp() override {
    const Json all = store().dictionaryRepresentation();
    for (const auto& item : all.items()) store().removeObjectForKey(item.key());
    keychain->prefetch();
    for (auto& w : windows) {
      w.window = std::make_shared<FakeWindow>();
      w.defaults = std::make_shared<Defaults>(w.window, context);
      w.window->page.install(
          {std::make_shared<DesktopCommand>(w.window), {{"Defaults", w.defaults}}});
      w.window->page.evaluate(
          "window.changes = [];"
          "document.addEventListener('userDefaultsChanged', function (e) { changes.push(e.data); "
          "});");
    }
  }
  static UserDefaults& store() { return UserDefaults::standard(); }
  Json js(const std::string& script, int window = 0) {
    return windows[window].window->page.evaluate(script).value_or(Json("<undefined>"));
  }
  Json changes(int window) { return js("changes", window); }
  void clearChanges() {
    for (int i = 0; i < 2; ++i) js("changes = []", i);
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
  struct Window {
    std::shared_ptr<FakeWindow> window;
    std::shared_ptr<Defaults> defaults;
  } windows[2];
};

TEST_F(DefaultsObject, EveryTypeIsWrittenWithThePagesConversionAndReadBack) {
  struct Case {
    const char* value;  // script
    const char* type;   // script: a string or undefined
    Json read;          // get(key, type)
  };
  const Case cases[] = {
      {"5", "'int'", 5},
      {"3000000000", "'int'", -1294967296},
      {"2.9", "'int'", 2},
      {"-2.9", "'int'", -2},
      {"' 12 '", "'int'", 12},
      {"'0x10'", "'int'", 16},
      {"[7]", "'int'", 7},
      {"'abc'", "'int'", 0},
      {"undefined", "'int'", 0},
      {"true", "'int'", 1},
      {"'x'", "undefined", "x"},
      {"'x'", "null", "x"},
      {"5", "'string'", "5"},
      {"0.1", "'string'", "0.1"},
      {"undefined", "'string'", "undefined"},
      {"null", "'string'", "null"},
      {"({a: 1})", "'string'", "[object Object]"},
      {"'\\u00e9\\ud83d\\ude00'", "'string'", "\xC3\xA9\xF0\x9F\x98\x80"},
      {"'a\\ud800'", "'string'", "a\xEF\xBF\xBD"},  // a lone surrogate arrives repaired
      {"'false'", "'bool'", true},
      {"''", "'bool'", false},
      {"0", "'bool'", false},
      {"({})", "'bool'", true},
      {"0.1", "'float'", 0.10000000149011612},
      {"'2.5'", "'float'", 2.5},
      {"'https://mail.example.com:8443/a?b=c#d'", "'url'", "https://mail.example.com:8443/a?b=c#d"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.value) + " as " + c.type);
    js(std::string("MacGap.Defaults.set('k', ") + c.value + ", " + c.type + ")");
    EXPECT_EQ(js(std::string("MacGap.Defaults.get('k', ") + c.type + ")"), c.read);
    EXPECT_EQ(js(std::string("MacGap.Defaults.get('MacGap_k', ") + c.type + ")"), c.read);
    EXPECT_EQ(js("MacGap.Defaults.defaults.MacGap_k === undefined"), false);
  }
  // The stored forms natively.
  js("MacGap.Defaults.set('a', 5, 'int')");
  EXPECT_EQ(store().objectForKey("MacGap_a"), Json(5));
  js("MacGap.Defaults.set('f', 0.1, 'float')");
  EXPECT_EQ(store().doubleForKey("MacGap_f"), static_cast<double>(0.1f));

  // What stores nothing: "object", unknown types, no key, no URL, no number.
  js("MacGap.Defaults.set('o', 'x', 'object'); MacGap.Defaults.set('o', 'x', 'Int');"
     "MacGap.Defaults.set(undefined, 'x'); MacGap.Defaults.set(null, 1, 'int');"
     "MacGap.Defaults.set('f2', NaN, 'float'); MacGap.Defaults.set('u', 'not a url', 'url')");
  EXPECT_EQ(store().objectForKey("MacGap_o"), std::nullopt);
  EXPECT_EQ(store().objectForKey("MacGap_f2"), std::nullopt);
  EXPECT_EQ(store().objectForKey("MacGap_u"), std::nullopt);
  EXPECT_EQ(js("Object.keys(MacGap.Defaults.defaults).sort()"),
            Json({"MacGap_a", "MacGap_f", "MacGap_k"}));
}

TEST_F(DefaultsObject, ReadsGiveEachTypesEmptyAnswerOrTheNativeForm) {
  EXPECT_EQ(
      js("[MacGap.Defaults.get('none', 'bool'), MacGap.Defaults.get('none', 'int'),"
         " MacGap.Defaults.get('none', 'float'), typeof MacGap.Defaults.get('none'),"
         " typeof MacGap.Defaults.get('none', 'url'), typeof MacGap.Defaults.get('none', 'object'),"
         " typeof MacGap.Defaults.get(undefined), typeof MacGap.Defaults.get('x', 'Int')]"),
      Json({false, 0, 0, "undefined", "undefined", "undefined", "undefined", "undefined"}));
  store().setObject("MacGap_obj", Json{{"a", 1}, {"b", {true, "x"}}});
  store().setInteger("MacGap_port", 993);
  store().setString("MacGap_destinationDownload", "/tmp/down loads");
  store().setString("MacGap_home", "~/mail");
  store().setString("macgap_lower", "not the page's");
  EXPECT_EQ(js("MacGap.Defaults.get('obj', 'object')"), (Json{{"a", 1}, {"b", {true, "x"}}}));
  EXPECT_EQ(js("typeof MacGap.Defaults.get('port', 'object')"), "undefined");
  EXPECT_EQ(js("MacGap.Defaults.get('port')"), "993");
  EXPECT_EQ(js("MacGap.Defaults.get('MacGap_port', 'int')"), 993);
  EXPECT_EQ(js("MacGap.Defaults.get('destinationDownload', 'url')"), "file:///tmp/down%20loads");
  EXPECT_EQ(js("MacGap.Defaults.get('home', 'url')"),
            "file://" + std::string(g_get_home_dir()) + "/mail");
  // The prefix test is case-sensitive: "macgap_lower" becomes "MacGap_macgap_lower".
  EXPECT_EQ(js("typeof MacGap.Defaults.get('macgap_lower')"), "undefined");
  js("MacGap.Defaults.set('macgap_lower', 'page')");
  EXPECT_EQ(store().stringForKey("MacGap_macgap_lower"), "page");
  EXPECT_EQ(store().stringForKey("macgap_lower"), "not the page's");
  EXPECT_EQ(js("Object.keys(MacGap.Defaults.defaults).sort()"),
            Json({"MacGap_destinationDownload", "MacGap_home", "MacGap_macgap_lower", "MacGap_obj",
                  "MacGap_port"}));
}

TEST_F(DefaultsObject, SecureValuesLiveInTheKeychainStoreUnderThePrefixedKey) {
  js("MacGap.Defaults.setSecure('password', 'p\\u00e4ss')");
  EXPECT_EQ(js("MacGap.Defaults.getSecure('password')"), "p\xC3\xA4ss");
  EXPECT_EQ(js("MacGap.Defaults.getSecure('MacGap_password', 'int')"), "p\xC3\xA4ss");
  EXPECT_EQ((secrets->items[{"com.tovik.WendrelDesktop", "MacGap_password"}]), "p\xC3\xA4ss");
  EXPECT_EQ(store().objectForKey("MacGap_password"), std::nullopt);  // not a setting
  EXPECT_EQ(changes(0), Json::array());                              // nor a settings change
  // What the Account pane stores is what the page reads.
  keychain->keychainBindings().setString("from pane", "MacGap_password");
  EXPECT_EQ(js("MacGap.Defaults.getSecure('password')"), "from pane");
  for (const char* removal :
       {"MacGap.Defaults.setSecure('password')", "MacGap.Defaults.setSecure('password', null)"}) {
    SCOPED_TRACE(removal);
    js("MacGap.Defaults.setSecure('password', 'x')");
    js(removal);
    EXPECT_EQ(js("typeof MacGap.Defaults.getSecure('password')"), "undefined");
    EXPECT_EQ(secrets->items.count({"com.tovik.WendrelDesktop", "MacGap_password"}), 0u);
  }
  EXPECT_EQ(js("typeof MacGap.Defaults.getSecure(undefined)"), "undefined");
  js("MacGap.Defaults.setSecure(null, 'x')");
  EXPECT_TRUE(keychain->values().empty());
}

TEST_F(DefaultsObject, EveryChangeOfAPageSettingIsRaisedInEveryWindow) {
  js("MacGap.Defaults.set('a', 1, 'int')");
  const Json afterSet = Json::array({Json{{"MacGap_a", 1}}});
  EXPECT_EQ(changes(0), afterSet);
  EXPECT_EQ(changes(1), afterSet);
  clearChanges();

  js("MacGap.Defaults.remove('a')", 1);
  EXPECT_EQ(changes(0), Json::array({Json::object()}));
  EXPECT_EQ(changes(1), Json::array({Json::object()}));
  EXPECT_EQ(js("typeof MacGap.Defaults.get('a')"), "undefined");
  clearChanges();

  // Native changes (the preference panes), of any key: each one raises.
  store().setString("MacGap_server", "mail.example.com");
  store().setBool("developer", true);
  store().setObject("MacGap_when", Json{{"nested", {1, 2}}});
  const Json server = Json{{"MacGap_server", "mail.example.com"}};
  EXPECT_EQ(changes(0), Json::array({server, server,
                                     Json{{"MacGap_server", "mail.example.com"},
                                          {"MacGap_when", {{"nested", {1, 2}}}}}}));
  EXPECT_EQ(changes(1), changes(0));
  EXPECT_EQ(js("JSON.stringify(changes[2]) === JSON.stringify(MacGap.Defaults.defaults)"), true);
  clearChanges();

  // A window reloaded to a page without the object: the other window still hears.
  windows[1].window->page.install({std::make_shared<DesktopCommand>(windows[1].window), {}});
  windows[1].window->page.reload();
  windows[1].defaults.reset();
  js("MacGap.Defaults.set('b', true, 'bool')");
  EXPECT_EQ(changes(0), Json::array({Json{{"MacGap_b", true},
                                          {"MacGap_server", "mail.example.com"},
                                          {"MacGap_when", {{"nested", {1, 2}}}}}}));
}

}  // namespace
}  // namespace wd::test
