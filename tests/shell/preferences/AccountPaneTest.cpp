// The Account and General panes and the first-run sheet as real widgets on the test session's
// display against the autodiscovery rig; the e-mail check and the shake they use.
#include <gtest/gtest.h>

#include <gtk/gtk.h>
#include <libintl.h>
#include <unistd.h>
#include <webkit2/webkit2.h>

#include <clocale>
#include <cmath>
#include <tuple>

#include "core/Bundle.h"
#include "shell/AccountRig.h"
#include "shell/RealWindows.h"
#include "shell/about/AboutWindowController.h"
#include "shell/app/MainMenu.h"
#include "shell/downloads/DownloadBar.h"
#include "shell/menu/NativeMenu.h"
#include "shell/preferences/AccountPreferencesViewController.h"
#include "shell/preferences/EmailFormatter.h"
#include "shell/preferences/GeneralView.h"
#include "shell/preferences/PreferencesWindowController.h"
#include "shell/update/UpdateWindowController.h"
#include "shell/window/WindowEffects.h"
#include "support/Keys.h"
#include "support/Loop.h"
#include "support/Process.h"

namespace wd::test {
namespace {

using A = AccountPreferencesViewController;

class AccountPaneTest : public AccountRig {
 protected:
  void SetUp() override {
    ASSERT_TRUE(gtk_init_check(nullptr, nullptr));
    AccountRig::SetUp();
  }
  // The Preferences window with both panes, shown on the Account pane.
  void open() {
    keychain->prefetch();
    ASSERT_TRUE(settle(*keychain));
    prefs = std::make_unique<PreferencesWindowController>(_("Preferences"));  // as the app does
    prefs->addViewController(std::make_unique<GeneralView>(UserDefaultsController::shared()));
    prefs->addViewController(
        std::make_unique<A>(*prefs, *context, UserDefaultsController::shared().initialValues()));
    account = static_cast<A*>(prefs->panes()[1].get());
    prefs->selectControllerWithIdentifier("Accounts");
    prefs->showWindow();
    ASSERT_TRUE(waitFor([&] { return gtk_widget_get_mapped(GTK_WIDGET(prefs->window())); }));
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
  // Last: the Preferences window goes first, before the context its pane uses.
  std::unique_ptr<PreferencesWindowController> prefs;
  A* account = nullptr;
};

TEST(EmailFormatter, AcceptsWholeAddressesInAnyCase) {
  // Letters in either case; the quoted form has no space; a domain has two labels or more, none
  // beginning or ending with a hyphen; the whole text must match; UTF-8 only.
  const std::pair<bool, std::vector<const char*>> cases[] = {
      {true,
       {"first.last+tag@mail.example.co", "!#$%&'*+/=?^_`{|}~-@a.b",
        "\"quoted\\\"text\"@example.com", "user@[192.168.0.1]", "user@[192.168.0.tag:x]",
        "Ann@Example.com"}},
      {false,
       {"\"with space\"@example.com", "user@localhost", "user@-a.com", "user@a-.com",
        "user.@example.com", "user@@example.com", "userexample.com", "", " user@example.com",
        "user@example.com\n", "user@[256.0.0.1]", "\xc3\xa9@example.com", "\xff@example.com"}}};
  for (const auto& [valid, texts] : cases)
    for (const char* text : texts) {
      SCOPED_TRACE(text);
      std::string error;
      EXPECT_EQ(EmailFormatter::validateEmail(text), valid);
      EXPECT_EQ(EmailFormatter::objectValueForString(text, &error).has_value(), valid);
      EXPECT_EQ(error, valid ? "" : "This is not valid email address.");
    }
  // A pathological text ends with a refusal, not a crash.
  EXPECT_FALSE(
      EmailFormatter::validateEmail(std::string(200000, 'a') + "@" + std::string(200000, '.')));
}

TEST_F(AccountPaneTest, FirstRunSheetOutcomes) {
  WD_REQUIRE_SERVERS();
  useRealKeyring();  // the password must end up where secret-tool finds it
  server->route("h.srv.test", 8443, Behaviour{200, autodiscoverDocument("mail.srv.test")});
  server->route("h.auth.test", 8443, Behaviour{200, "x", "user@auth.test", "right"});
  // Refused: the sheet stays, the window shakes (both ways, ending where it began). Not found:
  // the pane stays for server and port by hand. Found: the account is stored.
  enum { kRefused, kNotFound, kFound };
  const std::tuple<const char*, const char*, int> cases[] = {
      {"user@auth.test", "wrong", kRefused},
      {"user@none.test", "secret", kNotFound},
      {"User@srv.test", "s\xc3\xa9same", kFound},
  };
  for (const auto& [email, password, outcome] : cases) {
    SCOPED_TRACE(email);
    open();  // each outcome but the last closes the window, and stores and posts nothing
    ASSERT_TRUE(account->initialWindow());
    // Away from the screen's edge, which the window manager would not let it cross.
    GtkWindow* window = prefs->window();
    int x0 = 0, y0 = 0, x = 0, y = 0;
    gtk_window_move(window, 200, 150);
    waitFor([&] {
      gtk_window_get_position(window, &x0, &y0);
      return x0 == 200;
    });
    int minX = x0, maxX = x0;
    bool again = false;  // a second shake while one runs
    GtkWidget* proceed = GTK_WIDGET(account->initialContinueButton());
    type(account->initialEmail(), "user@srv");  // refused by the field
    EXPECT_FALSE(gtk_widget_get_sensitive(proceed));
    EXPECT_EQ(std::string(gtk_label_get_text(account->initialEmailError())),
              "This is not valid email address.");
    type(account->initialEmail(), email);
    type(account->initialPassword(), password);
    // Modal to the Preferences window only: the application's other windows take input.
    GtkWindowGroup* group = gtk_window_get_group(account->initialWindow());
    EXPECT_EQ(group, gtk_window_get_group(window));
    EXPECT_EQ(gtk_window_group_get_current_grab(group), GTK_WIDGET(account->initialWindow()));
    EXPECT_EQ(gtk_window_group_get_current_grab(gtk_window_get_group(nullptr)), nullptr);
    // Enter in a field is Continue (the button shows itself pressed for a moment first).
    gtk_widget_grab_focus(GTK_WIDGET(account->initialPassword()));
    pressKey(account->initialWindow(), GDK_KEY_Return);
    ASSERT_TRUE(waitFor([&] { return account->isSearching(); }));
    EXPECT_FALSE(gtk_widget_get_sensitive(proceed));
    EXPECT_TRUE(gtk_widget_get_visible(GTK_WIDGET(account->initialSpinner())));
    ASSERT_TRUE(waitFor(
        [&] {
          gtk_window_get_position(window, &x, &y);
          minX = std::min(minX, x);
          maxX = std::max(maxX, x);
          if (effects::isShaking(window)) again = again || effects::shake(window);
          return !account->isSearching() && !effects::isShaking(window);
        },
        60));
    EXPECT_FALSE(again);
    if (outcome != kFound) {  // nothing saved
      EXPECT_TRUE(prefs->isVisible());
      EXPECT_TRUE(posted.empty());
      EXPECT_EQ(store().stringForKey(Settings::kUsername), std::nullopt);
    }
    if (outcome == kRefused) {
      int width = 0, height = 0;
      gtk_window_get_size(window, &width, &height);
      const int swing = static_cast<int>(std::lround(width * effects::kShakeFactor));
      EXPECT_TRUE(x0 - swing <= minX && minX < x0) << minX << " from " << x0;  // to the left
      EXPECT_TRUE(x0 < maxX && maxX <= x0 + swing) << maxX << " from " << x0;  // and the right
      EXPECT_TRUE(waitFor([&] {
        gtk_window_get_position(window, &x, &y);
        return x == x0 && y == y0;
      }));
      ASSERT_TRUE(account->initialWindow());
      EXPECT_TRUE(gtk_widget_get_sensitive(GTK_WIDGET(account->initialContinueButton())));
      EXPECT_FALSE(gtk_widget_get_visible(GTK_WIDGET(account->initialSpinner())));
      gtk_button_clicked(account->initialContinueButton());  // another try, then Escape
      EXPECT_TRUE(account->isSearching());
      pressKey(account->initialWindow(), GDK_KEY_Escape);
      EXPECT_FALSE(account->isSearching());
      EXPECT_FALSE(account->initialWindow());
      EXPECT_TRUE(prefs->isVisible());
      EXPECT_TRUE(effects::shake(window));  // once it ended, it shakes again
      prefs.reset();                        // mid-shake: the effect ends with the window
      continue;
    }
    EXPECT_FALSE(account->initialWindow());
    if (outcome == kNotFound) {
      // The pane shows what was entered, custom configuration on, and says why the server field
      // has the focus.
      EXPECT_EQ(text(account->usernameTF()), email);
      EXPECT_EQ(text(account->passwordTF()), password);
      EXPECT_TRUE(gtk_toggle_button_get_active(account->customServerAndPort()));
      EXPECT_TRUE(gtk_widget_get_visible(GTK_WIDGET(account->discoveryNotice())));
      EXPECT_EQ(gtk_window_get_focus(window), GTK_WIDGET(account->serverTF()));
      prefs.reset();
      continue;
    }
    EXPECT_FALSE(prefs->isVisible());
    EXPECT_EQ(posted, (std::vector<std::string>{"accountChanged", "accountVerifyRequest"}));
    EXPECT_EQ(store().stringForKey(Settings::kUsername), email);
    EXPECT_FALSE(store().boolForKey(Settings::kUseCustomConfiguration));
    EXPECT_EQ(store().stringForKey(Settings::kServer), "mail.srv.test");
    EXPECT_EQ(store().integerForKey(Settings::kPort), 443);
    ASSERT_TRUE(settle(*keychain));
    EXPECT_EQ(lookupOutside("MacGap_password"), password);
  }
  // A search still running when its pane goes reports to nobody.
  server->route("h.hang.test", 8443, Behaviour{0});
  store().removeObjectForKey(Settings::kUsername);
  posted.clear();
  prefs->showWindow();
  ASSERT_TRUE(account->initialWindow());
  type(account->initialEmail(), "user@hang.test");
  gtk_button_clicked(account->initialContinueButton());
  ASSERT_TRUE(waitFor([&] { return server->requestCount("h.hang.test") > 0; }));
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
  type(account->serverTF(), "other.x.test");
  type(account->portTF(), "8443");
  type(account->passwordTF(), "new");
  gtk_toggle_button_set_active(account->customServerAndPort(), TRUE);
  gtk_button_clicked(account->saveButton());
  EXPECT_EQ(store().stringForKey(Settings::kServer), "other.x.test");
  EXPECT_EQ(store().integerForKey(Settings::kPort), 8443);
  EXPECT_TRUE(store().boolForKey(Settings::kUseCustomConfiguration));
  ASSERT_TRUE(settle(*keychain));
  EXPECT_EQ(keyringPassword(), "new");
  EXPECT_FALSE(prefs->isVisible());
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

// Leaving a changed pane asks first and waits for the answer, whether the General pane is
// chosen or the window closed with GNOME's keys (which keys close is AboutWindow's table):
// Escape closes, Ctrl+W closes once the answer lets it, Enter in a field saves; Quit with a
// changed pane quits only once the answer lets it.
TEST_F(AccountPaneTest, LeavingAChangedPaneAsksAndWaitsForTheAnswer) {
  // How it is left (a key, or none: the General pane chosen), a stored password, whether the
  // fields changed (else typed over and back), the answer (none: no question), whether it is
  // left, the server stored.
  const std::tuple<guint, GdkModifierType, bool, bool, std::optional<int>, bool, const char*>
      cases[] = {
          {0, {}, false, false, std::nullopt, true, "mail.x.test"},
          {0, {}, true, false, std::nullopt, true, "mail.x.test"},
          {0, {}, true, true, A::kSave, true, "other.x.test"},
          {0, {}, true, true, A::kDontSave, true, "mail.x.test"},
          {0, {}, true, true, A::kCancel, false, "mail.x.test"},
          {GDK_KEY_Escape, {}, true, false, std::nullopt, true, "mail.x.test"},
          {GDK_KEY_w, GDK_CONTROL_MASK, true, true, A::kCancel, false, "mail.x.test"},
          {GDK_KEY_Return, {}, true, true, std::nullopt, true, "other.x.test"},
      };
  bool closed = true;  // what a second close while the question is open was told
  for (const auto& [key, modifiers, storedPassword, changed, response, leaves, storedServer] :
       cases) {
    SCOPED_TRACE(testing::Message() << key << " " << response.value_or(0));
    prefs.reset();  // before the context its pane uses
    secrets->items.clear();
    storeAccount(storedPassword ? "pw" : nullptr);
    keychain = std::make_shared<PDKeychainBindingsController>(kService, secrets);
    context = makeContext();
    posted.clear();
    open();
    type(account->serverTF(), "other.x.test");
    if (changed) {
      type(account->passwordTF(), "edited");
    } else {
      type(account->serverTF(), "mail.x.test");
      type(account->passwordTF(), storedPassword ? "pw" : "");
    }
    const bool byKey = key != 0;
    const auto left = [&] {
      return byKey ? !prefs->isVisible() : prefs->selectedIdentifier() == "General";
    };
    if (key) {
      gtk_widget_grab_focus(GTK_WIDGET(account->serverTF()));
      pressKey(prefs->window(), key, modifiers);
      // Enter shows the default button pressed for a moment before it acts.
      if (!response) {
        EXPECT_TRUE(waitFor(left));
      }
    } else {
      EXPECT_EQ(prefs->selectControllerWithIdentifier("General"), !response);
    }
    EXPECT_EQ(store().stringForKey(Settings::kServer), response ? "mail.x.test" : storedServer);
    if (!response) {
      EXPECT_TRUE(left());
      EXPECT_FALSE(account->question());
      continue;
    }
    // Nothing waits: the question is open, the pane still shown; a second try is asked nothing.
    ASSERT_TRUE(account->question());
    const char* title = gtk_window_get_title(GTK_WINDOW(account->question()));
    EXPECT_TRUE(title && *title);
    EXPECT_FALSE(left());
    EXPECT_EQ(prefs->selectedIdentifier(), "Accounts");
    if (key) prefs->performClose([&](bool done) { closed = done; });
    EXPECT_FALSE(key ? closed : prefs->selectControllerWithIdentifier("General"));
    gtk_dialog_response(account->question(), *response);
    EXPECT_FALSE(account->question());
    EXPECT_EQ(left(), leaves);
    EXPECT_EQ(store().stringForKey(Settings::kServer), storedServer);
    EXPECT_EQ(posted.empty(), *response != A::kSave);
    EXPECT_EQ(text(account->passwordTF()), "edited");  // until the pane is shown again
    EXPECT_EQ(text(account->serverTF()),
              *response == A::kDontSave ? "mail.x.test" : "other.x.test");
  }
  prefs->showWindow();
  type(account->serverTF(), "again.x.test");  // a question still open goes with its window
  EXPECT_FALSE(prefs->selectControllerWithIdentifier("General"));
  ASSERT_TRUE(account->question());
  prefs.reset();
  storeAccount();
  FakeWindowFactory factory;
  AppDelegate delegate(*context, factory);
  delegate.openPreferencesOn("Accounts");
  auto* pane = static_cast<A*>(delegate.preferencesWindowController().panes()[1].get());
  type(pane->serverTF(), "other.x.test");
  auto& control = static_cast<FakeApplicationControl&>(context->application());
  for (int response : {A::kCancel, A::kDontSave}) {
    delegate.terminate();
    ASSERT_TRUE(pane->question());
    EXPECT_TRUE(control.calls.empty());
    gtk_dialog_response(pane->question(), response);
  }
  EXPECT_EQ(control.calls, std::vector<std::string>{"terminate"});
}

// Without a keyring the password is kept for the session, which the pane says in one line; a
// certificate exception stays with its server.
TEST_F(AccountPaneTest, SessionOnlyPasswordAndCertificateExceptionOfTheServer) {
  secrets->status = keychain::SecretStatus::NoService;
  storeAccount(nullptr);
  store().setBool(Settings::kAllowUntrustedCertificates, true);
  CertificateExceptions::shared().setAllowsAnyCertificate(true, "mail.x.test");
  open();
  ASSERT_EQ(keychain->storage(), PDKeychainBindingsController::Storage::SessionOnly);
  EXPECT_TRUE(gtk_widget_get_visible(GTK_WIDGET(account->storageNotice())));
  const std::string line = gtk_label_get_text(account->storageNotice());
  EXPECT_EQ(line, keychain->sessionOnlyMessage().value_or("?"));
  EXPECT_EQ(line.find('\n'), std::string::npos);
  type(account->passwordTF(), "kept");
  type(account->usernameTF(), "me2@x.test");
  account->save();  // same server: the user's choice stands
  EXPECT_EQ(keychain->valueForKeyPath("values.MacGap_password"), "kept");
  EXPECT_FALSE(keyringPassword());
  EXPECT_TRUE(CertificateExceptions::shared().allowsAnyCertificate("mail.x.test"));
  EXPECT_TRUE(store().boolForKey(Settings::kAllowUntrustedCertificates));
  type(account->serverTF(), "other.x.test:8443");
  account->save();  // another server: validated until the user trusts it
  EXPECT_FALSE(CertificateExceptions::shared().allowsAnyCertificate("mail.x.test"));
  EXPECT_FALSE(CertificateExceptions::shared().allowsAnyCertificate("other.x.test"));
  EXPECT_FALSE(store().boolForKey(Settings::kAllowUntrustedCertificates));
}

TEST_F(AccountPaneTest, GeneralSwitchWritesAtOnceAndSwitchesTheInspectorOfOpenWindows) {
  // A real web window over this context, whose notification centre carries the settings' changes.
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

// Every native text of the panes, the sheet, the About window and the main menu in German, from
// the build tree's catalogues; the menu's titles and the targets the page receives stay English.
TEST_F(AccountPaneTest, NativeTextsFollowTheLanguage) {
  const char* former = std::getenv("LANGUAGE");
  ::setenv("LANGUAGE", "de", 1);
  std::setlocale(LC_ALL, "C.UTF-8");  // a locale other than C
  textdomain(textdomain(nullptr));    // the catalogues read anew
  open();
  ASSERT_TRUE(account->initialWindow());
  // A text of each window's own code and layout, with its access key.
  EXPECT_STREQ(gtk_window_get_title(prefs->window()), "Einstellungen");
  EXPECT_STREQ(gtk_button_get_label(account->saveButton()), "_Speichern");
  EXPECT_STREQ(gtk_window_get_title(account->initialWindow()), "Konto einrichten");
  EXPECT_STREQ(gtk_button_get_label(account->initialContinueButton()), "_Weiter");
  AboutWindowController about;
  ASSERT_TRUE(about.window());
  EXPECT_STREQ(gtk_window_get_title(about.window()), "Über Wendrel Desktop");
  std::string error;  // the message the pane shows is translated; the check's source text is not
  EmailFormatter::objectValueForString("x", &error);
  EXPECT_NE(error, EmailFormatter::kErrorMessage);
  g_autoptr(GSimpleActionGroup) actions = g_simple_action_group_new();
  MainMenu menu(G_ACTION_MAP(actions), [] { return nullptr; });
  ASSERT_TRUE(menu.load(*Bundle::main().pathForResource("MainMenu", "ui", "ui")));
  auto file = menu.mainMenu()->itemWithTitle("File");
  ASSERT_TRUE(file && file->submenu() && file->submenu()->itemWithTitle("New Message"));
  EXPECT_EQ(file->submenu()->itemWithTitle("New Message")->label(), "Neue _Nachricht");
  auto found = menu.findItem("New Message");
  ASSERT_TRUE(found);
  EXPECT_EQ(found->target, "New Message");  // what the page receives
  if (former)
    ::setenv("LANGUAGE", former, 1);
  else
    ::unsetenv("LANGUAGE");
  std::setlocale(LC_ALL, "C.UTF-8");
  textdomain(textdomain(nullptr));
}

// What a screen reader user meets in every native window, walked over the accessibility bus
// with pyatspi's library: the main window with its menu bar and a download bar, the Preferences
// window with both panes and the first-run sheet, the About window and both update windows. No
// focusable or editable control and no image may be without a name. Then one task through the
// bus alone: the address and password typed into the sheet's named fields and Continue pressed
// set the account up.
TEST_F(AccountPaneTest, ScreenReadersFindEveryControlByItsName) {
  WD_REQUIRE_SERVERS();
  server->route("h.srv.test", 8443, Behaviour{200, autodiscoverDocument("mail.srv.test")});
  GtkApplication* app =
      gtk_application_new("com.tovik.WendrelDesktop.AccessibilityTest", G_APPLICATION_NON_UNIQUE);
  ASSERT_TRUE(g_application_register(G_APPLICATION(app), nullptr, nullptr));
  auto menu = std::make_unique<MainMenu>(G_ACTION_MAP(app), [] { return nullptr; });
  ASSERT_TRUE(menu->load(*Bundle::main().pathForResource("MainMenu", "ui", "ui")));
  gtk_application_set_menubar(app, menu->model());
  RealWindowsApp windows;
  auto main = WindowController::initWithRequest(windows.env, "");
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
  ASSERT_TRUE(waitFor([&] { return gtk_widget_get_mapped(GTK_WIDGET(noUpdate.window())); }));
  // The walker runs beside this process, whose main loop answers its questions meanwhile.
  const std::string walk = "/usr/bin/python3 '" + std::string(std::getenv("WD_SOURCE_DIR")) +
                           "/tests/shell/atspi-walk.py' " + std::to_string(::getpid());
  ProcessResult r = runProcess(walk, {}, true);
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  r = runProcess(walk +
                     " 'Set Up Your Account|text|E-mail|text|user@srv.test'"
                     " 'Set Up Your Account|password text|Password|text|secret'"
                     " 'Set Up Your Account|push button|Continue|click'",
                 {}, true);
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_TRUE(waitFor([&] { return store().stringForKey(Settings::kUsername).has_value(); }, 60));
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
