// The Account and General panes and the first-run sheet as real widgets in a Preferences
// window on the test session's display: the sheet against the autodiscovery rig (a server
// found, credentials refused with the window shaken, nothing found), Save, Remove and the
// question asked when leaving a changed pane, the keyboard (Escape, Ctrl+W, Enter), the texts in
// the user's language, the password kept for the session only, the General pane's switch; the
// e-mail check and the shake on their own.
#include <gtest/gtest.h>

#include <gio/gio.h>
#include <gtk/gtk.h>
#include <libintl.h>
#include <unistd.h>
#include <webkit2/webkit2.h>

#include <clocale>
#include <cmath>
#include <set>

#include "autodiscover/Loop.h"
#include "core/Bundle.h"
#include "shell/AccountRig.h"
#include "shell/about/AboutWindowController.h"
#include "shell/app/MainMenu.h"
#include "shell/downloads/DownloadBar.h"
#include "shell/menu/NativeMenu.h"
#include "shell/preferences/AccountPreferencesViewController.h"
#include "shell/preferences/EmailFormatter.h"
#include "shell/preferences/GeneralView.h"
#include "shell/preferences/PreferencesWindowController.h"
#include "shell/update/UpdateWindowController.h"
#include "shell/window/WebContext.h"
#include "shell/window/WindowController.h"
#include "shell/window/WindowEffects.h"
#include "support/Keys.h"

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
    prefs = std::make_unique<PreferencesWindowController>(_("Preferences"));  // as the app does
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

TEST(EmailFormatter, AcceptsWholeAddressesInAnyCase) {
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
      {"Ann@Example.com", true},  // letters in either case
      {"USER@EXAMPLE.COM", true},
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
    bool notFound;       // the pane stays for server and port by hand
    const char* server;  // the stored server afterwards
  };
  const Case cases[] = {
      {"user@auth.test", "wrong", true, false, nullptr},
      {"user@none.test", "secret", false, true, nullptr},
      {"User@srv.test", "s\xc3\xa9same", false, false, "mail.srv.test"},
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
    type(account->initialEmail(), "user@srv");  // refused by the field
    EXPECT_FALSE(gtk_widget_get_sensitive(proceed));
    EXPECT_EQ(std::string(gtk_label_get_text(account->initialEmailError())),
              "This is not valid email address.");
    type(account->initialEmail(), c.email);
    type(account->initialPassword(), c.password);
    ASSERT_TRUE(gtk_widget_get_sensitive(proceed));
    // Modal to the Preferences window only: the application's other windows take input.
    GtkWindowGroup* group = gtk_window_get_group(account->initialWindow());
    EXPECT_EQ(group, gtk_window_get_group(window));
    EXPECT_EQ(gtk_window_group_get_current_grab(group), GTK_WIDGET(account->initialWindow()));
    EXPECT_EQ(gtk_window_group_get_current_grab(gtk_window_get_group(nullptr)), nullptr);
    // Enter in a field is Continue (the button shows itself pressed for a moment first).
    gtk_widget_grab_focus(GTK_WIDGET(account->initialPassword()));
    pressKey(account->initialWindow(), GDK_KEY_Return);
    ASSERT_TRUE(runLoopUntil([&] { return account->isSearching(); }));
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
    if (c.notFound) {
      // Nothing saved: the pane shows what was entered, custom configuration on, and says why
      // the server field has the focus.
      EXPECT_TRUE(windowShown());
      EXPECT_TRUE(posted.empty());
      EXPECT_EQ(store().stringForKey(Settings::kUsername), std::nullopt);
      EXPECT_EQ(text(account->usernameTF()), c.email);
      EXPECT_EQ(text(account->passwordTF()), c.password);
      EXPECT_TRUE(gtk_toggle_button_get_active(account->customServerAndPort()));
      EXPECT_TRUE(gtk_widget_get_visible(GTK_WIDGET(account->discoveryNotice())));
      EXPECT_EQ(gtk_window_get_focus(window), GTK_WIDGET(account->serverTF()));
      prefs->performClose();  // the entries are changes: dropped
      ASSERT_TRUE(account->question());
      gtk_dialog_response(account->question(), AccountPreferencesViewController::kDontSave);
      EXPECT_FALSE(windowShown());
      continue;
    }
    EXPECT_FALSE(windowShown());
    EXPECT_EQ(posted, (std::vector<std::string>{"accountChanged", "accountVerifyRequest"}));
    EXPECT_EQ(store().stringForKey(Settings::kUsername), c.email);
    EXPECT_FALSE(store().boolForKey(Settings::kUseCustomConfiguration));
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
      {"no password in the keyring", false, false, std::nullopt, true, "mail.x.test"},
      {"typed over and back", true, false, std::nullopt, true, "mail.x.test"},
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
    } else {
      type(account->serverTF(), "other.x.test");
      type(account->serverTF(), "mail.x.test");
      type(account->passwordTF(), c.storedPassword ? "pw" : "");
    }
    const bool left = prefs->selectControllerWithIdentifier("General");
    if (!c.answer) {
      EXPECT_TRUE(left);
      EXPECT_FALSE(account->question());
      continue;
    }
    // Nothing waits: the question is open, the pane still shown.
    ASSERT_TRUE(account->question());
    const char* title = gtk_window_get_title(GTK_WINDOW(account->question()));
    EXPECT_TRUE(title && *title);
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

// GNOME's keys in the Preferences window and its sheet: Escape and Ctrl+W close as the close
// button does (asking first when something changed), Enter in a field saves, Escape cancels the
// sheet and leaves the window.
TEST_F(AccountPaneTest, KeyboardClosesCancelsAndSaves) {
  struct Case {
    const char* name;
    guint key;
    GdkModifierType modifiers;
    const char* server;  // typed into the server field first, when any
    bool asks;
    bool closes;
    const char* storedServer;
  };
  const auto none = GdkModifierType(0);
  const Case cases[] = {
      {"Escape, unchanged", GDK_KEY_Escape, none, nullptr, false, true, "mail.x.test"},
      {"Ctrl+W, unchanged", GDK_KEY_w, GDK_CONTROL_MASK, nullptr, false, true, "mail.x.test"},
      {"Escape, changed", GDK_KEY_Escape, none, "other.x.test", true, false, "mail.x.test"},
      {"Ctrl+W, changed", GDK_KEY_w, GDK_CONTROL_MASK, "other.x.test", true, false, "mail.x.test"},
      {"Enter in a field", GDK_KEY_Return, none, "other.x.test", false, true, "other.x.test"},
      {"Shift+Escape does nothing", GDK_KEY_Escape, GDK_SHIFT_MASK, nullptr, false, false,
       "mail.x.test"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    prefs.reset();
    storeAccount();
    open();
    if (c.server) type(account->serverTF(), c.server);
    gtk_widget_grab_focus(GTK_WIDGET(account->serverTF()));
    pressKey(prefs->window(), c.key, c.modifiers);
    // Enter shows the default button pressed for a moment before it acts.
    if (c.closes) {
      EXPECT_TRUE(runLoopUntil([&] { return !windowShown(); }));
    }
    EXPECT_EQ(account->question() != nullptr, c.asks);
    EXPECT_EQ(windowShown(), !c.closes);
    EXPECT_EQ(store().stringForKey(Settings::kServer), c.storedServer);
    if (!c.asks) continue;
    // Quitting asks the same question and learns the answer: Cancel keeps everything.
    bool quit = true;
    prefs->performClose([&](bool closed) { quit = closed; });
    EXPECT_FALSE(quit);  // asked already: the open question decides
    gtk_dialog_response(account->question(), AccountPreferencesViewController::kCancel);
    EXPECT_TRUE(windowShown());
    std::optional<bool> answered;
    prefs->performClose([&](bool closed) { answered = closed; });
    ASSERT_TRUE(account->question());
    gtk_dialog_response(account->question(), AccountPreferencesViewController::kDontSave);
    EXPECT_EQ(answered, true);
    EXPECT_FALSE(windowShown());
  }
  // Quit (Ctrl+Q, the menu) with a changed Account pane asks first and quits only after the
  // answer lets the window close.
  {
    prefs.reset();
    storeAccount();
    FakeWindowFactory factory;
    AppDelegate delegate(*context, factory);
    delegate.openPreferencesOn("Accounts");
    auto& shown = delegate.preferencesWindowController();
    auto* pane = static_cast<AccountPreferencesViewController*>(shown.panes()[1].get());
    type(pane->serverTF(), "other.x.test");
    auto& control = static_cast<FakeApplicationControl&>(context->application());
    for (int answer :
         {AccountPreferencesViewController::kCancel, AccountPreferencesViewController::kDontSave}) {
      delegate.terminate();
      ASSERT_TRUE(pane->question());
      EXPECT_TRUE(control.calls.empty());
      gtk_dialog_response(pane->question(), answer);
    }
    EXPECT_EQ(control.calls, std::vector<std::string>{"terminate"});
  }
  // The sheet: Escape and Ctrl+W cancel it; the window stays.
  for (guint key : {GDK_KEY_Escape, GDK_KEY_w}) {
    prefs.reset();
    store().removeObjectForKey(Settings::kUsername);
    open();
    ASSERT_TRUE(account->initialWindow());
    ASSERT_TRUE(
        runLoopUntil([&] { return gtk_widget_get_mapped(GTK_WIDGET(account->initialWindow())); }));
    pressKey(account->initialWindow(), key, key == GDK_KEY_w ? GDK_CONTROL_MASK : none);
    EXPECT_FALSE(account->initialWindow());
    EXPECT_TRUE(windowShown());
  }
}

// Every label and title of a window, its internal children included.
void collectTexts(GtkWidget* widget, std::set<std::string>& out) {
  if (GTK_IS_WINDOW(widget) && gtk_window_get_title(GTK_WINDOW(widget)))
    out.insert(gtk_window_get_title(GTK_WINDOW(widget)));
  if (GTK_IS_LABEL(widget)) out.insert(gtk_label_get_label(GTK_LABEL(widget)));
  if (GTK_IS_TOOL_BUTTON(widget) && gtk_tool_button_get_label(GTK_TOOL_BUTTON(widget)))
    out.insert(gtk_tool_button_get_label(GTK_TOOL_BUTTON(widget)));
  if (GTK_IS_CONTAINER(widget))
    gtk_container_forall(
        GTK_CONTAINER(widget),
        +[](GtkWidget* child, gpointer set) {
          collectTexts(child, *static_cast<std::set<std::string>*>(set));
        },
        &out);
}

// Whether a rendered menu (its sections and submenus included) has an item labelled `label`.
bool hasLabel(GMenuModel* model, const std::string& label) {
  for (int i = 0; i < g_menu_model_get_n_items(model); ++i) {
    g_autofree gchar* text = nullptr;
    if (g_menu_model_get_item_attribute(model, i, G_MENU_ATTRIBUTE_LABEL, "s", &text) &&
        label == text)
      return true;
    g_autoptr(GMenuLinkIter) links = g_menu_model_iterate_item_links(model, i);
    GMenuModel* child = nullptr;
    while (g_menu_link_iter_get_next(links, nullptr, &child)) {
      const bool found = hasLabel(child, label);
      g_object_unref(child);
      if (found) return true;
    }
  }
  return false;
}

// Every native text of the panes, the sheet, the About window and the main menu in the
// language of LANGUAGE, from the build tree's catalogues; the menu's titles and the targets
// the page receives stay the same in every language.
TEST_F(AccountPaneTest, NativeTextsFollowTheLanguage) {
  struct Case {
    const char* language;
    std::vector<std::string> texts;  // labels (with their access keys) and titles
    const char* newMessage;          // the menu item's label
  };
  const Case cases[] = {
      {"de",
       {"Einstellungen", "Allgemein", "Konto", "_Benutzername:", "_Passwort:", "_Speichern",
        "Konto einrichten", "_E-Mail:", "_Weiter", "Über Wendrel Desktop"},
       "Neue _Nachricht"},
      {"fr",
       {"Préférences", "Général", "Compte",
        "Nom d’_utilisateur :", "_Mot de passe :", "_Enregistrer", "Configurer votre compte",
        "_Courriel :", "C_ontinuer", "À propos de Wendrel Desktop"},
       "Nouveau _message"},
      {"en",
       {"Preferences", "General", "Account", "_User name:", "_Password:", "_Save",
        "Set Up Your Account", "_E-mail:", "C_ontinue", "About Wendrel Desktop"},
       "New _Message"},
  };
  const char* former = std::getenv("LANGUAGE");
  for (const auto& c : cases) {
    SCOPED_TRACE(c.language);
    ::setenv("LANGUAGE", c.language, 1);
    std::setlocale(LC_ALL, "C.UTF-8");  // a locale other than C
    textdomain(textdomain(nullptr));    // the catalogues read anew
    prefs.reset();
    store().removeObjectForKey(Settings::kUsername);
    open();
    ASSERT_TRUE(account->initialWindow());
    std::set<std::string> seen;
    collectTexts(GTK_WIDGET(prefs->window()), seen);
    collectTexts(GTK_WIDGET(account->initialWindow()), seen);
    AboutWindowController about;
    ASSERT_TRUE(about.window());
    collectTexts(GTK_WIDGET(about.window()), seen);
    for (const auto& t : c.texts) EXPECT_TRUE(seen.count(t)) << t;
    // The message the pane shows is translated; the check's source text is not.
    std::string error;
    EmailFormatter::objectValueForString("x", &error);
    EXPECT_EQ(error == EmailFormatter::kErrorMessage, std::string(c.language) == "en");

    GSimpleActionGroup* actions = g_simple_action_group_new();
    {
      MainMenu menu(G_ACTION_MAP(actions), [] { return nullptr; });
      ASSERT_TRUE(menu.load(*Bundle::main().pathForResource("MainMenu", "ui", "ui")));
      auto file = menu.mainMenu()->itemWithTitle("File");
      ASSERT_TRUE(file && file->submenu());
      ASSERT_TRUE(file->submenu()->itemWithTitle("New Message"));
      EXPECT_TRUE(hasLabel(menu.model(), c.newMessage));
      auto found = menu.findItem("New Message");
      ASSERT_TRUE(found);
      EXPECT_EQ(found->target, "New Message");  // what the page receives
      EXPECT_TRUE(menu.mainMenu()->items().front()->submenu()->itemWithTitle("Out of Office"));
    }
    g_object_unref(actions);
  }
  if (former)
    ::setenv("LANGUAGE", former, 1);
  else
    ::unsetenv("LANGUAGE");
  std::setlocale(LC_ALL, "C.UTF-8");
}

// What a screen reader user meets in every native window, walked over the accessibility bus
// with pyatspi's library: the main window with its menu bar and a download bar, the Preferences
// window with both panes and the first-run sheet, the About window and both update windows. No
// focusable or editable control and no image may be without a name. Then one task through the
// bus alone: the address and password typed into the sheet's named fields and Continue pressed
// set the account up.
TEST_F(AccountPaneTest, ScreenReadersFindEveryControlByItsName) {
  WD_REQUIRE_SERVERS();
  server->route("h.srv.test", 8443, Behaviour::document(autodiscoverDocument("mail.srv.test")));
  GtkApplication* app =
      gtk_application_new("com.tovik.WendrelDesktop.AccessibilityTest", G_APPLICATION_NON_UNIQUE);
  ASSERT_TRUE(g_application_register(G_APPLICATION(app), nullptr, nullptr));
  auto menu = std::make_unique<MainMenu>(G_ACTION_MAP(app), [] { return nullptr; });
  ASSERT_TRUE(menu->load(*Bundle::main().pathForResource("MainMenu", "ui", "ui")));
  gtk_application_set_menubar(app, menu->model());
  FakeWindowFactory factory;
  AppDelegate delegate(*context, factory);
  WebContext web(context->bridgeHost(), context->defaults());
  WindowEnvironment env{*context, web, delegate,
                        [&](std::shared_ptr<WebWindow> w) { return delegate.makeRootObject(w); }};
  auto main = WindowController::initWithRequest(env, "");
  gtk_window_set_application(main->gtkWindow(), app);
  main->makeKeyAndOrderFront();
  auto bar = DownloadBar::attach(main->gtkWindow(), [](DownloadBar::Action) {});
  ASSERT_TRUE(bar);
  bar->showSaved("report.pdf");
  AboutWindowController about;
  about.showWindow();
  FakeWorkspace workspace;
  UpdateWindowController update(workspace, [] {});
  update.showWindow();
  NoUpdateWindowController noUpdate;
  noUpdate.showWindow();
  open();
  ASSERT_TRUE(account->initialWindow());
  ASSERT_TRUE(runLoopUntil([&] { return gtk_widget_get_mapped(GTK_WIDGET(noUpdate.window())); }));

  // The walker runs beside this process, whose main loop answers its questions meanwhile.
  auto walk = [](std::vector<std::string> tasks) {
    const std::string script =
        std::string(std::getenv("WD_SOURCE_DIR")) + "/tests/shell/atspi-walk.py";
    const std::string pid = std::to_string(::getpid());
    const std::string out = std::string(std::getenv("HOME")) + "/atspi-walk.out";
    std::vector<const char*> argv{"/usr/bin/python3", script.c_str(), pid.c_str()};
    for (const auto& t : tasks) argv.push_back(t.c_str());
    argv.push_back(nullptr);
    g_autoptr(GSubprocessLauncher) launcher =
        g_subprocess_launcher_new(G_SUBPROCESS_FLAGS_STDERR_MERGE);
    g_subprocess_launcher_set_stdout_file_path(launcher, out.c_str());
    g_autoptr(GSubprocess) walker = g_subprocess_launcher_spawnv(launcher, argv.data(), nullptr);
    bool done = !walker;
    if (walker)
      g_subprocess_wait_async(
          walker, nullptr,
          [](GObject*, GAsyncResult*, gpointer d) { *static_cast<bool*>(d) = true; }, &done);
    if (!runLoopUntil([&] { return done; }, 120)) g_subprocess_force_exit(walker);
    runLoopUntil([&] { return done; });
    g_autofree gchar* report = nullptr;
    g_file_get_contents(out.c_str(), &report, nullptr, nullptr);
    const int status =
        walker && g_subprocess_get_if_exited(walker) ? g_subprocess_get_exit_status(walker) : -1;
    return std::make_pair(status, std::string(report ? report : "the walker did not start"));
  };
  auto [status, report] = walk({});
  EXPECT_EQ(status, 0) << report;

  std::tie(status, report) = walk({"Set Up Your Account|text|E-mail|text|user@srv.test",
                                   "Set Up Your Account|password text|Password|text|secret",
                                   "Set Up Your Account|push button|Continue|click"});
  ASSERT_EQ(status, 0) << report;
  EXPECT_TRUE(
      runLoopUntil([&] { return store().stringForKey(Settings::kUsername).has_value(); }, 60));
  EXPECT_EQ(store().stringForKey(Settings::kUsername), "user@srv.test");
  EXPECT_EQ(store().stringForKey(Settings::kServer), "mail.srv.test");
  EXPECT_FALSE(account->initialWindow());

  prefs.reset();
  bar.reset();
  main->performClose();
  runLoopFor(0.5);
  menu.reset();
  g_object_unref(app);
}

}  // namespace
}  // namespace wd::test
