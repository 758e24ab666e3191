// The About window on the test session's display over the shell's doubles: version, requests to
// the main page, one window that closing hides, damaged layouts; Escape and Ctrl+W close it.
#include <gtest/gtest.h>
#include <gtk/gtk.h>

#include <filesystem>

#include "core/Bundle.h"
#include "shell/ShellFakes.h"
#include "shell/about/AboutWindowController.h"
#include "shell/update/UpdateWindowController.h"
#include "shell/window/Layout.h"
#include "support/Files.h"
#include "support/Keys.h"
#include "support/Loop.h"

namespace wd::test {
namespace {
namespace fs = std::filesystem;

class AboutWindow : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(gtk_init_check(nullptr, nullptr)); }
  AboutWindowController& open() {
    app.delegate->openAboutWindow();
    AboutWindowController* about = app.delegate->aboutWindowController();
    EXPECT_TRUE(about && about->window());
    return *about;
  }
  LaunchedApp app;
};

TEST_F(AboutWindow, OneWindowWithTheVersionWhoseButtonsReachTheMainPage) {
  auto& about = open();
  EXPECT_EQ(about.mainWindowController(), app.delegate->mainWindowController());
  ASSERT_TRUE(waitFor([&] { return gtk_widget_get_mapped(GTK_WIDGET(about.window())); }));
  gtk_window_close(about.window());
  ASSERT_TRUE(waitFor([&] { return !gtk_widget_get_visible(GTK_WIDGET(about.window())); }));
  EXPECT_EQ(&open(), &about);
  EXPECT_TRUE(gtk_widget_get_visible(GTK_WIDGET(about.window())));
  EXPECT_EQ(std::string(gtk_label_get_text(about.version())),
            "Version " + Bundle::main().version());
  EXPECT_EQ(fillPlaceholder("%@ (%@)", "1.2.3"), "1.2.3 (%@)");  // only the first is filled
  EXPECT_EQ(fillPlaceholder("no placeholder", "1.2.3"), "no placeholder");
  app.main().pageEvents().pageReady();
  gtk_button_clicked(GTK_BUTTON(about.webAssist()));  // on
  gtk_button_clicked(GTK_BUTTON(about.webAssist()));  // off
  gtk_button_clicked(about.suggestion());
  EXPECT_EQ(app.main().log(), Json::array({event("setWebAssist", {{"enabled", "true"}}),
                                           event("setWebAssist", {{"enabled", "false"}}),
                                           event("showFeedback", nullptr)}));
}

TEST_F(AboutWindow, EscapeAndCtrlWCloseItAndTheUpdateWindows) {
  UpdateWindowController update(app.workspace, [] {});
  const std::tuple<GtkWindow*, guint, GdkModifierType, bool> cases[] = {
      {open().window(), GDK_KEY_Escape, {}, true},
      {open().window(), GDK_KEY_w, GDK_CONTROL_MASK, true},
      {open().window(), GDK_KEY_w, GDK_MOD1_MASK, false},
      {open().window(), GDK_KEY_Escape, GDK_SHIFT_MASK, false},
      {update.window(), GDK_KEY_Escape, {}, true},
  };
  for (const auto& [window, key, modifiers, closes] : cases) {
    SCOPED_TRACE(key);
    GtkWidget* widget = GTK_WIDGET(window);
    gtk_widget_show(widget);
    ASSERT_TRUE(waitFor([widget] { return gtk_widget_get_mapped(widget); }));
    pressKey(window, key, modifiers);
    EXPECT_EQ(gtk_widget_get_visible(widget), !closes);
    gtk_widget_hide(widget);
  }
}

TEST_F(AboutWindow, MissingOrDamagedLayoutsGiveNoWindowOrNoOutletAndNoCrash) {
  const fs::path dir = fs::path(std::getenv("HOME")) / "about-resources";
  const fs::path saved = Bundle::main().resourcePath();
  Bundle::main().setResourcePath(dir);
  const std::pair<const char*, bool> cases[] = {
      // the layout (none: no file), a window
      {nullptr, false},
      {"not a layout", false},
      {R"(<interface><object class="GtkLabel" id="window"/></interface>)", false},
      // Outlets of the wrong kind are left out; the window still shows.
      {R"(<interface><object class="GtkWindow" id="window"><child><object class="GtkButton"
          id="version"/></child></object><object class="GtkLabel" id="webAssist"/></interface>)",
       true},
  };
  for (const auto& [layout, window] : cases) {
    fs::remove_all(dir);
    if (layout) writeFile(dir / "ui" / "About.ui", layout);
    AboutWindowController about;
    about.withWindowController(app.delegate->mainWindowController());
    EXPECT_EQ(about.window() != nullptr, window) << (layout ? layout : "(none)");
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
