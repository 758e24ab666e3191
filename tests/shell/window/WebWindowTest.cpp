// Real web windows released once when closed, the attention request, sheets and the idle time.
#include "shell/app/ApplicationControl.h"
#include "shell/commands/App.h"
#include "shell/window/WebRig.h"

namespace wd::test {
namespace {

// Counts the toolkit's warnings and criticals: a destroyed window reached from a pending source
// shows up as one of them (a sanitizer build sees the stale access itself).
class WebWindows : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(gtk_init_check(nullptr, nullptr));
    for (const char* domain : {"GLib-GObject", "Gtk", "Gdk", "GLib", "Pango"})
      handlers_.emplace_back(
          domain,
          g_log_set_handler(
              domain, GLogLevelFlags(G_LOG_LEVEL_WARNING | G_LOG_LEVEL_CRITICAL),
              +[](const gchar* d, GLogLevelFlags, const gchar* message, gpointer self) {
                static_cast<WebWindows*>(self)->warnings.push_back(std::string(d) + ": " + message);
              },
              this));
  }
  void TearDown() override {
    for (const auto& [domain, id] : handlers_) g_log_remove_handler(domain, id);
    EXPECT_EQ(warnings, std::vector<std::string>{});
  }
  std::vector<std::string> warnings;

 private:
  std::vector<std::pair<const char*, guint>> handlers_;
};

// Closing is never done inside the caller (it may be the page's own script call): a window
// closed before it was ever shown is released with its web view, one closed twice once, and one
// dropped before its deferred close runs is not touched; the main window is never closed.
TEST_F(WebWindows, ClosedSecondaryWindowsAreReleasedOnceWithTheirWebViews) {
  RealWindowsApp app;
  GObject* view = nullptr;
  auto never = app.openChild(false, &view);
  g_object_add_weak_pointer(view, reinterpret_cast<gpointer*>(&view));
  g_object_unref(view);  // only the window holds the view now
  auto shown = app.openChild(true);
  auto dropped = app.openChild(false);
  auto kept = app.openChild(false);
  ASSERT_EQ(app.delegate->childWindowControllers().size(), 4u);

  never.lock()->performClose();
  shown.lock()->performClose();
  shown.lock()->performClose();
  dropped.lock()->performClose();
  EXPECT_FALSE(never.expired());
  EXPECT_FALSE(shown.expired());
  app.delegate->unregisterChildController(dropped.lock().get());  // gone before the close runs
  EXPECT_TRUE(dropped.expired());
  EXPECT_TRUE(waitFor([&] { return never.expired() && shown.expired(); }));
  EXPECT_EQ(app.delegate->childWindowControllers().size(), 1u);
  EXPECT_FALSE(kept.expired());
  EXPECT_TRUE(waitFor([&] { return view == nullptr; }));
  if (view) g_object_remove_weak_pointer(view, reinterpret_cast<gpointer*>(&view));
  drainLoop();  // the dropped window's deferred close finds nothing to do
  kept.lock()->performClose();
  EXPECT_TRUE(waitFor([&] { return kept.expired(); }));
  EXPECT_TRUE(app.delegate->childWindowControllers().empty());
  EXPECT_EQ(app.main().closes, 0);
}

TEST_F(WebWindows, BounceIsABriefAttentionRequestThatEndsByItself) {
  GtkApplication* application = gtk_application_new(nullptr, G_APPLICATION_NON_UNIQUE);
  {
    GtkApplicationControl control(application);
    GtkWidget* window = gtk_window_new(GTK_WINDOW_TOPLEVEL);  // never focused
    control.setMainWindow(GTK_WINDOW(window));
    control.requestUserAttention();
    EXPECT_TRUE(gtk_window_get_urgency_hint(GTK_WINDOW(window)));
    EXPECT_TRUE(waitFor([&] { return !gtk_window_get_urgency_hint(GTK_WINDOW(window)); }));
    // A window that goes while the request runs, and a control that goes with one running.
    control.requestUserAttention();
    gtk_widget_destroy(window);
    GtkWidget* other = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    control.setMainWindow(GTK_WINDOW(other));
    control.requestUserAttention();
    EXPECT_TRUE(gtk_window_get_urgency_hint(GTK_WINDOW(other)));
    gtk_widget_destroy(other);
    control.setMainWindow(nullptr);
  }
  drainLoop();
  g_object_unref(application);
}

TEST_F(WebWindows, ASheetShowsThePagesTextAsValidTextOnTheMainWindow) {
  RealWindowsApp shell;
  auto main = WindowController::initWithRequest(shell.env, "");
  auto page = std::make_shared<FakeWindow>();
  auto app = std::make_shared<App>(page, shell.context, main);
  page->page.install({app, {}});
  page->page.evaluate(
      R"(MacGap.notify({type: 'sheet', title: 'Bad \uD800 text', content: 'More \uDFFF'}))");
  const auto sheets = toplevels(GTK_TYPE_MESSAGE_DIALOG, main->gtkWindow());
  ASSERT_EQ(sheets.size(), 1u);
  g_autofree gchar* text = nullptr;
  g_object_get(sheets[0], "text", &text, nullptr);
  ASSERT_NE(text, nullptr);
  EXPECT_TRUE(g_utf8_validate(text, -1, nullptr)) << text;
  EXPECT_TRUE(g_str_has_prefix(text, "Bad ")) << text;
  EXPECT_TRUE(shell.notifications.posted.empty());
  gtk_dialog_response(GTK_DIALOG(sheets[0]), GTK_RESPONSE_OK);  // dismissing it does nothing more
  drainLoop();
}

// The page reads the display server's idle seconds through MacGap.idleTime; writing it changes
// nothing.
TEST_F(WebWindows, IdleTimeIsTheDisplayServersSecondsSinceTheLastInput) {
  auto seconds = App::systemIdleTime();
  ASSERT_TRUE(seconds.has_value()) << "the test display (Xvfb) has the screen-saver extension";
  EXPECT_GE(*seconds, 0.0);
  FakeShell shell;
  auto window = std::make_shared<FakeWindow>();
  window->page.install({std::make_shared<App>(window, shell.context, window), {}});
  EXPECT_EQ(window->page.evaluate("MacGap.idleTime = -5; MacGap.idleTime >= 0"), Json(true));
}

}  // namespace
}  // namespace wd::test
