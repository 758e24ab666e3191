// The About window on the test session's display over the shell's doubles: version, requests to
// the main page before and after it is ready, one window that closing hides, missing or damaged
// layouts; its keys (Escape, Ctrl+W) close the update windows too.
#include <gtest/gtest.h>
#include <gtk/gtk.h>

#include <filesystem>
#include <fstream>

#include "core/Bundle.h"
#include "shell/NotificationDaemon.h"  // waitFor
#include "shell/ShellFakes.h"
#include "shell/about/AboutWindowController.h"
#include "shell/update/UpdateWindowController.h"
#include "shell/window/Layout.h"
#include "support/Keys.h"

namespace wd::test {
namespace {
namespace fs = std::filesystem;

TEST(LayoutText, TheFirstPlaceholderTakesTheValue) {
  const std::pair<const char*, const char*> cases[] = {{"Version %@", "Version 1.2.3"},
                                                       {"%@", "1.2.3"},
                                                       {"no placeholder", "no placeholder"},
                                                       {"%@ (%@)", "1.2.3 (%@)"},
                                                       {"100% %@", "100% 1.2.3"},
                                                       {"", ""}};
  for (const auto& [format, expected] : cases)
    EXPECT_EQ(fillPlaceholder(format, "1.2.3"), expected) << format;
}

class AboutWindow : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(gtk_init_check(nullptr, nullptr)); }

  AboutWindowController& open() {
    app.delegate->openAboutWindow();
    AboutWindowController* about = app.delegate->aboutWindowController();
    EXPECT_TRUE(about && about->window());
    return *about;
  }
  static bool visible(const AboutWindowController& about) {
    return gtk_widget_get_visible(GTK_WIDGET(about.window()));
  }

  LaunchedApp app;
};

TEST_F(AboutWindow, OneWindowWithTheVersionThatClosingOnlyHides) {
  auto& about = open();
  EXPECT_EQ(about.mainWindowController(), app.delegate->mainWindowController());
  ASSERT_TRUE(waitFor([&] { return gtk_widget_get_mapped(GTK_WIDGET(about.window())); }));
  gtk_window_close(about.window());
  ASSERT_TRUE(waitFor([&] { return !visible(about); }));
  open();
  EXPECT_EQ(app.delegate->aboutWindowController(), &about);
  EXPECT_TRUE(visible(about));
  EXPECT_EQ(std::string(gtk_label_get_text(about.version())),
            "Version " + Bundle::main().version());
}

TEST_F(AboutWindow, EscapeAndCtrlWCloseItAndTheUpdateWindows) {
  UpdateWindowController update(*app.workspacePtr, [] {});
  NoUpdateWindowController noUpdate;
  update.showWindow();
  noUpdate.showWindow();
  const struct {
    GtkWindow* window;
    guint key;
    GdkModifierType modifiers;
    bool closes;
  } cases[] = {
      {open().window(), GDK_KEY_Escape, {}, true},
      {open().window(), GDK_KEY_w, GDK_CONTROL_MASK, true},
      {open().window(), GDK_KEY_w, GDK_MOD1_MASK, false},
      {update.window(), GDK_KEY_Escape, {}, true},
      {noUpdate.window(), GDK_KEY_w, GDK_CONTROL_MASK, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(&c - cases);
    gtk_widget_show(GTK_WIDGET(c.window));
    ASSERT_TRUE(waitFor([&] { return gtk_widget_get_mapped(GTK_WIDGET(c.window)); }));
    pressKey(c.window, c.key, c.modifiers);
    EXPECT_EQ(gtk_widget_get_visible(GTK_WIDGET(c.window)), !c.closes);
    gtk_widget_hide(GTK_WIDGET(c.window));
  }
}

TEST_F(AboutWindow, RequestsBeforeReadyArriveOncePerNameThenAtOnce) {
  auto& about = open();
  gtk_button_clicked(about.suggestion());
  gtk_button_clicked(GTK_BUTTON(about.webAssist()));  // on
  gtk_button_clicked(GTK_BUTTON(about.webAssist()));  // off
  EXPECT_EQ(app.main().log(), Json::array());
  EXPECT_EQ(app.main().pageEvents().heldEvents().size(), 2u);

  app.main().pageEvents().pageReady();
  Json log = app.main().log();
  ASSERT_EQ(log.size(), 2u);
  EXPECT_NE(std::find(log.begin(), log.end(), event("showFeedback", nullptr)), log.end());
  EXPECT_NE(std::find(log.begin(), log.end(), event("setWebAssist", {{"enabled", "false"}})),
            log.end());

  for (const char* enabled : {"true", "false"}) {
    gtk_button_clicked(GTK_BUTTON(about.webAssist()));
    EXPECT_EQ(app.main().log().back(), event("setWebAssist", {{"enabled", enabled}}));
  }
  gtk_button_clicked(about.suggestion());
  EXPECT_EQ(app.main().log().back(), event("showFeedback", nullptr));
  EXPECT_EQ(app.main().log().size(), 5u);
}

TEST_F(AboutWindow, MissingOrDamagedLayoutsGiveNoWindowOrNoOutletAndNoCrash) {
  const fs::path dir = fs::path(std::getenv("HOME")) / "about-resources";
  const fs::path saved = Bundle::main().resourcePath();
  Bundle::main().setResourcePath(dir);
  const struct {
    const char* layout;  // nullptr: no file
    bool window;
  } cases[] = {
      {nullptr, false},
      {"not a layout", false},
      {R"(<interface><object class="GtkLabel" id="window"/></interface>)", false},
      // Outlets of the wrong kind are left out; the window still shows.
      {R"(<interface><object class="GtkWindow" id="window"><child><object class="GtkButton"
          id="version"/></child></object><object class="GtkLabel" id="webAssist"/></interface>)",
       true},
  };
  for (const auto& c : cases) {
    fs::remove_all(dir);
    fs::create_directories(dir / "ui");
    if (c.layout) std::ofstream(dir / "ui" / "About.ui") << c.layout;
    AboutWindowController about;
    about.withWindowController(app.delegate->mainWindowController());
    EXPECT_EQ(about.window() != nullptr, c.window) << (c.layout ? c.layout : "(none)");
    EXPECT_FALSE(about.version() || about.suggestion() || about.webAssist());
    about.showWindow();
    about.onSendSugestion();
    about.onWebAssist();                                         // no check box: nothing to report
    EXPECT_EQ(app.main().pageEvents().heldEvents().size(), 1u);  // showFeedback only
  }
  Bundle::main().setResourcePath(saved);
}

}  // namespace
}  // namespace wd::test
