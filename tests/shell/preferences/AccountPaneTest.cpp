// The Account and General panes and the first-run sheet as real widgets in a Preferences
// window on the test session's display: the sheet against the autodiscovery rig (a server
// found, credentials refused with the window shaken, nothing found), Save, Remove and the
// question asked when leaving a changed pane, the password kept for the session only, the
// General pane's switch; the e-mail check and the shake on their own.
#include <gtest/gtest.h>

#include <gtk/gtk.h>
#include <webkit2/webkit2.h>
#include <cmath>

#include "shell/AccountRig.h"
#include "autodiscover/Loop.h"
#include "shell/preferences/AccountPreferencesViewController.h"
#include "shell/preferences/EmailFormatter.h"
#include "shell/preferences/GeneralView.h"
#include "shell/preferences/PreferencesWindowController.h"
#include "shell/window/WebContext.h"
#include "shell/window/WindowController.h"
#include "shell/window/WindowEffects.h"

namespace wd::test {
namespace {

class AccountPaneTest : public AccountRig {
 protected:
  void SetUp() override {
    ASSERT_TRUE(gtk_init_check(nullptr, nullptr));
    AccountRig::SetUp();
  }
  void TearDown() override {
    prefs.reset();
    AccountRig::TearDown();
  }
  // The Preferences window with both panes, shown on the Account pane.
  void open() {
    keychain->prefetch();
    ASSERT_TRUE(settle(*keychain));
    prefs = std::make_unique<PreferencesWindowController>("Preferences");
    prefs->addViewController(std::make_unique<GeneralView>(UserDefaultsController::shared()));
    auto pane = std::make_unique<AccountPreferencesViewController>(
        *prefs, *context, UserDefaultsController::shared().initialValues());
    account = pane.get();
    prefs->addViewController(std::move(pane));
    prefs->selectControllerWithIdentifier("Accounts");
    prefs->showWindow();
    ASSERT_TRUE(runLoopUntil([&] { return gtk_widget_get_mapped(GTK_WIDGET(prefs->window())); }));
  }
  // A stored account with a password in the keyring.
  void storeAccount(const char* password = "pw") {
    store().setString(Settings::kUsername, "me@x.test");
    store().setString(Settings::kServer, "mail.x.test");
    store().setInteger(Settings::kPort, 993);
    if (password) secrets->items[{kService, "MacGap_password"}] = password;
  }
  static void type(GtkEntry* entry, const char* text) { gtk_entry_set_text(entry, text); }
  static std::string text(GtkEntry* entry) { return gtk_entry_get_text(entry); }
  std::optional<std::string> keyringPassword() {
    auto it = secrets->items.find({kService, "MacGap_password"});
    return it == secrets->items.end() ? std::nullopt : std::optional(it->second);
  }
  bool windowShown() { return prefs->isVisible(); }

  std::unique_ptr<PreferencesWindowController> prefs;
  AccountPreferencesViewController* account = nullptr;
};

TEST(EmailFormatter, AcceptsWholeLowerCaseAddressesOnly) {
  struct Case {
    const char* text;
    bool valid;
  };
  const Case cases[] = {
      {"user@example.com", true},
      {"first.last+tag@mail.example.co", true},
      {"!#$%&'*+/=?^_`{|}~-@a.b", true},
      {"\"quoted\\\"text\"@example.com", true},
      {"\"with space\"@example.com", false},  // the quoted form has no space
      {"user@[192.168.0.1]", true},
      {"user@[192.168.0.tag:x]", true},
      {"User@example.com", false},  // capital letters are refused
      {"user@Example.com", false},
      {"user@localhost", false},  // a domain of one label
      {"user@-a.com", false},     // a label does not begin with a hyphen
      {"user@a-.com", false},
      {"user.@example.com", false},
      {"user@@example.com", false},
      {"userexample.com", false},
      {"", false},
      {" user@example.com", false},  // the whole text must match
      {"user@example.com\n", false},
      {"user@[256.0.0.1]", false},
      {"\xc3\xa9@example.com", false},
      {"\xff@example.com", false},  // not UTF-8
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    std::string error;
    EXPECT_EQ(EmailFormatter::validateEmail(c.text), c.valid);
    EXPECT_EQ(EmailFormatter::objectValueForString(c.text, &error).has_value(), c.valid);
    EXPECT_EQ(error, c.valid ? "" : "This is not valid email address.");
  }
  // A pathological text ends with a refusal, not a crash.
  EXPECT_FALSE(
      EmailFormatter::validateEmail(std::string(200000, 'a') + "@" + std::string(200000, '.')));
}

TEST(WindowShake, FourSwingsOfFivePercentEndingAtTheStart) {
  const double d = 600 * 0.05000000074505806;
  const double step = effects::kShakeDuration / 9;
  const struct {
    double t, offset;
  } samples[] = {{-1, 0},       {0, 0},        {step, -d},          {1.5 * step, 0},
                 {2 * step, d}, {8 * step, d}, {8.5 * step, d / 2}, {effects::kShakeDuration, 0},
                 {5, 0}};
  for (const auto& s : samples) EXPECT_NEAR(effects::shakeOffsetAt(600, s.t), s.offset, 1e-9);
}

TEST(WindowShake, MovesBothWaysEndsWhereItBeganAndIgnoresASecondShake) {
  ASSERT_TRUE(gtk_init_check(nullptr, nullptr));
  GtkWidget* window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
  gtk_window_set_default_size(GTK_WINDOW(window), 400, 200);
  gtk_widget_show(window);
  ASSERT_TRUE(runLoopUntil([&] { return gtk_widget_get_mapped(window); }));
  // Away from the screen's edge, which the window manager would not let it cross.
  int x0 = 0, y0 = 0, width = 0, height = 0;
  gtk_window_move(GTK_WINDOW(window), 200, 150);
  runLoopUntil([&] {
    gtk_window_get_position(GTK_WINDOW(window), &x0, &y0);
    return x0 == 200;
  });
  gtk_window_get_size(GTK_WINDOW(window), &width, &height);
  const int swing = static_cast<int>(std::lround(width * effects::kShakeFactor));
  int minX = x0, maxX = x0;
  auto sample = [&] {
    int x = 0, y = 0;
    gtk_window_get_position(GTK_WINDOW(window), &x, &y);
    minX = std::min(minX, x);
    maxX = std::max(maxX, x);
    return !effects::isShaking(GTK_WINDOW(window));
  };
  EXPECT_TRUE(effects::shake(GTK_WINDOW(window)));
  EXPECT_FALSE(effects::shake(GTK_WINDOW(window)));  // one runs already
  ASSERT_TRUE(runLoopUntil(sample));
  EXPECT_LT(minX, x0);
  EXPECT_GT(maxX, x0);
  EXPECT_GE(minX, x0 - swing);
  EXPECT_LE(maxX, x0 + swing);
  int x = 0, y = 0;
  EXPECT_TRUE(runLoopUntil([&] {
    gtk_window_get_position(GTK_WINDOW(window), &x, &y);
    return x == x0 && y == y0;
  }));
  EXPECT_TRUE(effects::shake(GTK_WINDOW(window)));  // once it ended, it shakes again
  gtk_widget_destroy(window);                       // mid-shake: the effect ends with it
  runLoopFor(0.1);
}

TEST_F(AccountPaneTest, FirstRunSheetOutcomes) {
  WD_REQUIRE_SERVERS();
  useRealKeyring();  // the password must end up where secret-tool finds it
  server->route("h.srv.test", 8443, Behaviour::document(autodiscoverDocument("mail.srv.test")));
  server->route("h.auth.test", 8443, Behaviour::challenge("user@auth.test", "right", "x"));
  struct Case {
    const char* email;
    const char* password;
    bool refused;        // the sheet stays, the window shakes
    bool custom;         // custom configuration switched on
    const char* server;  // the stored server afterwards
  };
  const Case cases[] = {
      {"user@auth.test", "wrong", true, false, nullptr},
      {"user@none.test", "secret", false, true, nullptr},  // nothing found: completed by hand
      {"user@srv.test", "s\xc3\xa9same", false, false, "mail.srv.test"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.email);
    store().removeObjectForKey(Settings::kUsername);
    posted.clear();
    if (!prefs)
      open();
    else
      prefs->showWindow();
    ASSERT_TRUE(account->initialWindow());
    EXPECT_TRUE(gtk_widget_get_visible(GTK_WIDGET(account->initialWindow())));
    // Away from the screen's edge, which the window manager would not let it cross.
    GtkWindow* window = prefs->window();
    int x0 = 0, y0 = 0, minX = 1 << 20;
    gtk_window_move(window, 200, 150);
    runLoopUntil([&] {
      gtk_window_get_position(window, &x0, &y0);
      return x0 == 200;
    });
    GtkWidget* proceed = GTK_WIDGET(account->initialContinueButton());
    type(account->initialEmail(), "User@srv.test");  // refused by the field
    EXPECT_FALSE(gtk_widget_get_sensitive(proceed));
    EXPECT_EQ(std::string(gtk_label_get_text(account->initialEmailError())),
              "This is not valid email address.");
    type(account->initialEmail(), c.email);
    type(account->initialPassword(), c.password);
    ASSERT_TRUE(gtk_widget_get_sensitive(proceed));
    gtk_button_clicked(account->initialContinueButton());
    EXPECT_FALSE(gtk_widget_get_sensitive(proceed));
    EXPECT_TRUE(gtk_widget_get_visible(GTK_WIDGET(account->initialSpinner())));
    ASSERT_TRUE(runLoopUntil(
        [&] {
          int x = 0, y = 0;
          gtk_window_get_position(window, &x, &y);
          minX = std::min(minX, x);
          return !account->isSearching() && !effects::isShaking(window);
        },
        60));
    if (c.refused) {
      EXPECT_LT(minX, x0);  // shaken
      EXPECT_TRUE(account->initialWindow());
      EXPECT_TRUE(gtk_widget_get_sensitive(GTK_WIDGET(account->initialContinueButton())));
      EXPECT_FALSE(gtk_widget_get_visible(GTK_WIDGET(account->initialSpinner())));
      EXPECT_TRUE(windowShown());
      EXPECT_EQ(store().stringForKey(Settings::kUsername), std::nullopt);
      EXPECT_TRUE(posted.empty());
      gtk_button_clicked(account->initialContinueButton());  // another try, then Cancel
      EXPECT_TRUE(account->isSearching());
      account->initialCancelPressed();
      EXPECT_FALSE(account->isSearching());
      EXPECT_FALSE(account->initialWindow());
      EXPECT_TRUE(windowShown());
      prefs->close();
      continue;
    }
    EXPECT_FALSE(account->initialWindow());
    EXPECT_FALSE(windowShown());
    EXPECT_EQ(posted, (std::vector<std::string>{"accountChanged", "accountVerifyRequest"}));
    EXPECT_EQ(store().stringForKey(Settings::kUsername), c.email);
    EXPECT_EQ(store().boolForKey(Settings::kUseCustomConfiguration), c.custom);
    EXPECT_EQ(store().stringForKey(Settings::kServer),
              c.server ? std::optional<std::string>(c.server) : std::nullopt);
    if (c.server) {
      EXPECT_EQ(store().integerForKey(Settings::kPort), 443);
    }
    ASSERT_TRUE(settle(*keychain));
    if (keychain->storage() == PDKeychainBindingsController::Storage::Keyring)
      EXPECT_EQ(lookupOutside("MacGap_password"), c.password);
    else
      ADD_FAILURE() << "no keyring in the test session";
  }
  // A search still running when its pane goes reports to nobody.
  server->route("h.hang.test", 8443, Behaviour::hang());
  store().removeObjectForKey(Settings::kUsername);
  posted.clear();
  prefs->showWindow();
  ASSERT_TRUE(account->initialWindow());
  type(account->initialEmail(), "user@hang.test");
  gtk_button_clicked(account->initialContinueButton());
  ASSERT_TRUE(account->isSearching());
  ASSERT_TRUE(runLoopUntil([&] { return server->requestCount("h.hang.test") > 0; }));
  prefs.reset();
  runLoopFor(1);
  EXPECT_TRUE(posted.empty());
  EXPECT_EQ(store().stringForKey(Settings::kUsername), std::nullopt);
}

TEST_F(AccountPaneTest, SaveAndRemove) {
  storeAccount();
  open();
  EXPECT_FALSE(account->initialWindow());
  EXPECT_EQ(text(account->usernameTF()), "me@x.test");
  EXPECT_EQ(text(account->passwordTF()), "pw");
  EXPECT_EQ(text(account->portTF()), "993");
  EXPECT_FALSE(account->hasDataChanged());

  // Edits stay pending until Save.
  type(account->serverTF(), "other.x.test");
  type(account->portTF(), "8443");
  type(account->passwordTF(), "new");
  gtk_toggle_button_set_active(account->customServerAndPort(), TRUE);
  EXPECT_TRUE(account->hasDataChanged());
  EXPECT_EQ(store().stringForKey(Settings::kServer), "mail.x.test");
  gtk_button_clicked(account->saveButton());
  EXPECT_EQ(store().stringForKey(Settings::kServer), "other.x.test");
  EXPECT_EQ(store().integerForKey(Settings::kPort), 8443);
  EXPECT_TRUE(store().boolForKey(Settings::kUseCustomConfiguration));
  ASSERT_TRUE(settle(*keychain));
  EXPECT_EQ(keyringPassword(), "new");
  EXPECT_FALSE(windowShown());
  EXPECT_EQ(posted, (std::vector<std::string>{"accountChanged", "accountVerifyRequest"}));

  // Remove returns to the initial values; the keyring changes only with Save (an empty
  // password is stored, not removed).
  prefs->showWindow();
  gtk_button_clicked(account->removeButton());
  EXPECT_EQ(text(account->usernameTF()), "");
  EXPECT_EQ(text(account->portTF()), "443");
  EXPECT_EQ(text(account->passwordTF()), "");
  EXPECT_EQ(store().stringForKey(Settings::kUsername), "me@x.test");
  EXPECT_EQ(keyringPassword(), "new");
  gtk_button_clicked(account->saveButton());
  EXPECT_EQ(store().objectForKey(Settings::kUsername), std::nullopt);
  ASSERT_TRUE(settle(*keychain));
  EXPECT_EQ(keyringPassword(), "");
}

TEST_F(AccountPaneTest, LeavingAChangedPaneAsksAndWaitsForTheAnswer) {
  struct Case {
    const char* name;
    bool storedPassword;
    bool edit;
    std::optional<int> answer;  // none: no question expected
    bool leaves;
    const char* storedServer;
  };
  using A = AccountPreferencesViewController;
  const Case cases[] = {
      {"unchanged", true, false, std::nullopt, true, "mail.x.test"},
      {"no password in the keyring", false, false, A::kCancel, false, "mail.x.test"},
      {"save", true, true, A::kSave, true, "other.x.test"},
      {"don't save", true, true, A::kDontSave, true, "mail.x.test"},
      {"cancel", true, true, A::kCancel, false, "mail.x.test"},
      {"closed without answer", true, true, GTK_RESPONSE_DELETE_EVENT, false, "mail.x.test"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    prefs.reset();  // before the context its pane uses
    secrets->items.clear();
    storeAccount(c.storedPassword ? "pw" : nullptr);
    keychain = std::make_shared<PDKeychainBindingsController>(kService, secrets);
    context = makeContext();
    posted.clear();
    open();
    if (c.edit) {
      type(account->serverTF(), "other.x.test");
      type(account->passwordTF(), "edited");
    }
    const bool left = prefs->selectControllerWithIdentifier("General");
    if (!c.answer) {
      EXPECT_TRUE(left);
      EXPECT_FALSE(account->question());
      continue;
    }
    // Nothing waits: the question is open, the pane still shown.
    ASSERT_TRUE(account->question());
    EXPECT_FALSE(left);
    EXPECT_EQ(prefs->selectedIdentifier(), "Accounts");
    EXPECT_FALSE(prefs->selectControllerWithIdentifier("General"));  // asked once only
    gtk_dialog_response(account->question(), *c.answer);
    EXPECT_FALSE(account->question());
    EXPECT_EQ(prefs->selectedIdentifier(), c.leaves ? "General" : "Accounts");
    EXPECT_EQ(store().stringForKey(Settings::kServer), c.storedServer);
    EXPECT_EQ(posted.empty(), *c.answer != A::kSave);
    if (c.edit) {
      EXPECT_EQ(text(account->passwordTF()), "edited");  // until the pane is shown again
      EXPECT_EQ(text(account->serverTF()),
                *c.answer == A::kDontSave ? "mail.x.test" : "other.x.test");
    }
  }
  // Closing the window asks the same way.
  type(account->serverTF(), "third.x.test");
  prefs->performClose();
  ASSERT_TRUE(account->question());
  EXPECT_TRUE(windowShown());
  gtk_dialog_response(account->question(), AccountPreferencesViewController::kSave);
  EXPECT_FALSE(windowShown());
  EXPECT_EQ(store().stringForKey(Settings::kServer), "third.x.test");
}

TEST_F(AccountPaneTest, CertificateExceptionStaysWithItsServer) {
  storeAccount();
  store().setBool(Settings::kAllowUntrustedCertificates, true);
  CertificateExceptions::shared().setAllowsAnyCertificate(true, "mail.x.test");
  open();
  type(account->usernameTF(), "me2@x.test");
  account->save();  // same server: the user's choice stands
  EXPECT_TRUE(CertificateExceptions::shared().allowsAnyCertificate("mail.x.test"));
  EXPECT_TRUE(store().boolForKey(Settings::kAllowUntrustedCertificates));
  type(account->serverTF(), "other.x.test:8443");
  account->save();  // another server: validated until the user trusts it
  EXPECT_FALSE(CertificateExceptions::shared().allowsAnyCertificate("mail.x.test"));
  EXPECT_FALSE(CertificateExceptions::shared().allowsAnyCertificate("other.x.test"));
  EXPECT_FALSE(store().boolForKey(Settings::kAllowUntrustedCertificates));
}

TEST_F(AccountPaneTest, SessionOnlyPasswordIsSaidInOneLine) {
  secrets->status = keychain::SecretStatus::NoService;
  storeAccount(nullptr);
  open();
  ASSERT_EQ(keychain->storage(), PDKeychainBindingsController::Storage::SessionOnly);
  EXPECT_TRUE(gtk_widget_get_visible(GTK_WIDGET(account->storageNotice())));
  const std::string line = gtk_label_get_text(account->storageNotice());
  EXPECT_EQ(line, keychain->sessionOnlyMessage().value_or("?"));
  EXPECT_EQ(line.find('\n'), std::string::npos);
  type(account->passwordTF(), "kept");
  gtk_button_clicked(account->saveButton());
  EXPECT_EQ(keychain->valueForKeyPath("values.MacGap_password"), "kept");
  EXPECT_FALSE(keyringPassword());
}

TEST_F(AccountPaneTest, GeneralSwitchWritesAtOnceAndSwitchesTheInspectorOfOpenWindows) {
  FakeWindowFactory factory;
  AppDelegate delegate(*context, factory);
  WebContext web(context->bridgeHost(), context->defaults());
  WindowEnvironment env{*context, web, delegate,
                        [&](std::shared_ptr<WebWindow> w) { return delegate.makeRootObject(w); }};
  auto window = WindowController::initWithRequest(env, "");
  auto inspector = [&] {
    return webkit_settings_get_enable_developer_extras(
        webkit_web_view_get_settings(window->webView()));
  };
  open();
  prefs->selectControllerWithIdentifier("General");
  auto* general = static_cast<GeneralView*>(prefs->panes()[0].get());
  GtkToggleButton* box = GTK_TOGGLE_BUTTON(general->enableDeveloperMode());
  EXPECT_FALSE(gtk_toggle_button_get_active(box));  // nothing stored: off
  EXPECT_FALSE(inspector());
  gtk_button_clicked(GTK_BUTTON(box));
  EXPECT_EQ(store().objectForKey(Settings::kEnableDeveloperMode), Json(true));
  EXPECT_TRUE(inspector());
  store().setBool(Settings::kEnableDeveloperMode, false);  // written elsewhere: shown
  EXPECT_FALSE(gtk_toggle_button_get_active(box));
  EXPECT_FALSE(inspector());
  store().setBool(Settings::kDeveloper, true);  // the older switch still counts
  EXPECT_TRUE(inspector());
}

}  // namespace
}  // namespace wd::test
