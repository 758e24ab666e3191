// Real web windows: their release, attention, sheets and idle time; a page's dialogs, dropped
// files, and the child windows of MacGap.DesktopCommand.openChild.
#include <gtk/gtkunixprint.h>

#include "shell/app/ApplicationControl.h"
#include "shell/commands/App.h"
#include "shell/window/PageFrame.h"
#include "shell/window/WebRig.h"
#include "shell/window/WebViewDelegate.h"

namespace wd::test {
namespace {

namespace fs = std::filesystem;

// Warnings and criticals end the case: a destroyed window reached from a pending source shows up
// as one of them (a sanitizer build sees the stale access itself). The toolkit logs structured
// messages, which only the process-wide fatal mask stops (a per-domain mask leaves them alone).
class WebWindows : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(startWebKitFirst());
    g_log_set_always_fatal(GLogLevelFlags(G_LOG_LEVEL_WARNING | G_LOG_LEVEL_CRITICAL));
  }
  void TearDown() override { g_log_set_always_fatal(GLogLevelFlags(0)); }
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
  auto shown = app.openChild(true), dropped = app.openChild(false), kept = app.openChild(false);
  ASSERT_EQ(app.delegate->childWindowControllers().size(), 4u);

  for (auto* closed : {&never, &shown, &shown, &dropped}) closed->lock()->performClose();
  EXPECT_FALSE(never.expired() || shown.expired());               // closed later, from the loop
  app.delegate->unregisterChildController(dropped.lock().get());  // gone before the close runs
  EXPECT_TRUE(dropped.expired());
  EXPECT_TRUE(waitFor([&] { return never.expired() && shown.expired(); }));
  EXPECT_FALSE(kept.expired());
  EXPECT_TRUE(waitFor([&] { return view == nullptr; }));
  if (view) g_object_remove_weak_pointer(view, reinterpret_cast<gpointer*>(&view));
  drainLoop();  // the dropped window's deferred close finds nothing to do
  kept.lock()->performClose();
  EXPECT_TRUE(waitFor([&] { return kept.expired(); }));
  EXPECT_EQ(app.main().closes, 0);
}

std::string textOf(GtkWidget* dialog) {
  g_autofree char* text = nullptr;
  g_object_get(dialog, "text", &text, nullptr);
  return text ? text : "";
}

// A bounce is a brief attention request that ends by itself. A sheet shows the page's text as
// valid text on the main window; the page reads the display server's idle seconds through
// MacGap.idleTime, and writing it changes nothing.
TEST_F(WebWindows, BounceEndsByItselfASheetOnTheMainWindowAndTheDisplayServersIdleTime) {
  GtkApplication* application = gtk_application_new(nullptr, G_APPLICATION_NON_UNIQUE);
  auto control = std::make_unique<GtkApplicationControl>(application);
  GtkWidget* window = gtk_window_new(GTK_WINDOW_TOPLEVEL);  // never focused
  control->setMainWindow(GTK_WINDOW(window));
  control->requestUserAttention();
  EXPECT_TRUE(gtk_window_get_urgency_hint(GTK_WINDOW(window)));
  EXPECT_TRUE(waitFor([&] { return !gtk_window_get_urgency_hint(GTK_WINDOW(window)); }));
  // A window that goes while the request runs, and a control that goes with one running.
  control->requestUserAttention();
  gtk_widget_destroy(window);
  GtkWidget* other = gtk_window_new(GTK_WINDOW_TOPLEVEL);
  control->setMainWindow(GTK_WINDOW(other));
  control->requestUserAttention();
  EXPECT_TRUE(gtk_window_get_urgency_hint(GTK_WINDOW(other)));
  gtk_widget_destroy(other);
  control->setMainWindow(nullptr);
  control.reset();
  drainLoop();
  g_object_unref(application);
  RealWindowsApp shell;
  auto main = WindowController::initWithRequest(shell.env, "");
  auto page = std::make_shared<FakeWindow>();
  page->page.install({std::make_shared<App>(page, shell.context, main), {}});
  page->page.evaluate(
      R"(MacGap.notify({type: 'sheet', title: 'Bad \uD800 text', content: 'More \uDFFF'}))");
  const auto sheets = toplevels(GTK_TYPE_MESSAGE_DIALOG, main->gtkWindow());
  ASSERT_EQ(sheets.size(), 1u);
  EXPECT_EQ(textOf(sheets[0]), "Bad \uFFFD text");  // valid text: the lone surrogate repaired
  EXPECT_TRUE(shell.notifications.posted.empty());
  gtk_dialog_response(GTK_DIALOG(sheets[0]), GTK_RESPONSE_OK);  // dismissing it does nothing more
  drainLoop();
  EXPECT_GE(App::systemIdleTime().value_or(-1), 0.0)
      << "the test display (Xvfb) has the screen-saver extension";
  EXPECT_EQ(page->page.evaluate("MacGap.idleTime = -5; MacGap.idleTime >= 0"), Json(true));
}

// Each case on a window of the shared page.
class PageWindows : public ClientWindow {
 protected:
  void SetUp() override { open(kLoaded); }

  // Opens a child from the page as `name` (a page variable); answers what the call returned.
  std::string openChild(const std::string& name, const std::string& options) {
    return ask("window." + name + " = MacGap.DesktopCommand.openChild(" + options +
               "); var c = window." + name +
               "; document.title = c ? (c.opener === window ? 'child' : 'other') : String(c);");
  }
  std::shared_ptr<WindowController> child(std::size_t i) {
    return std::dynamic_pointer_cast<WindowController>(app->delegate->childWindowControllers()[i]);
  }
  // The child's frame in the page's coordinates once it is on screen (else all zero).
  static screen::Rect shownFrame(const std::shared_ptr<WindowController>& w) {
    GtkWindow* g = w ? w->gtkWindow() : nullptr;
    return g && gtk_widget_get_mapped(GTK_WIDGET(g)) ? screen::pageFrameOf(g) : screen::Rect{};
  }
};

// Delivers `uris` to the view as a drop's data arrives: "drag-data-received" with a
// text/uri-list selection, fetched from a private selection this process owns.
void drop(WebKitWebView* view, std::vector<const char*> uris, bool released = true) {
  uris.push_back(nullptr);
  GtkClipboard* source = gtk_clipboard_get(gdk_atom_intern_static_string("WD_TEST_DROP"));
  static const GtkTargetEntry kTarget{const_cast<char*>("text/uri-list"), 0, 0};
  ASSERT_TRUE(gtk_clipboard_set_with_data(
      source, &kTarget, 1,
      +[](GtkClipboard*, GtkSelectionData* data, guint, gpointer held) {
        gtk_selection_data_set_uris(data, static_cast<gchar**>(held));
      },
      nullptr, uris.data()));
  // The engine's own handlers (they run last) expect a drag they started tracking at the
  // pointer's motion; there is none, so each emission ends after the window's handler.
  const auto stop = G_CALLBACK(+[](GtkWidget* w) -> gboolean {
    g_signal_stop_emission(w, g_signal_get_invocation_hint(w)->signal_id, 0);
    return TRUE;
  });
  const gulong guards[] = {g_signal_connect(view, "drag-data-received", stop, nullptr),
                           g_signal_connect(view, "drag-drop", stop, nullptr)};
  GtkSelectionData* data =
      gtk_clipboard_wait_for_contents(source, gdk_atom_intern_static_string("text/uri-list"));
  ASSERT_NE(data, nullptr);
  g_signal_emit_by_name(view, "drag-data-received", nullptr, 20, 20, data, 0u,
                        guint(GDK_CURRENT_TIME));
  gtk_selection_data_free(data);
  gboolean handled = FALSE;
  if (released)  // the user lets go
    g_signal_emit_by_name(view, "drag-drop", nullptr, 20, 20, guint(GDK_CURRENT_TIME), &handled);
  for (gulong guard : guards) g_signal_handler_disconnect(view, guard);
  gtk_clipboard_clear(source);
}

// alert and confirm are modal messages that hold the page's script until answered by their
// buttons (alert's OK, confirm's Yes and No); confirm is true only for Yes (a dialog closed or
// destroyed answers as No does).
TEST_F(PageWindows, DialogsHoldThePageUntilAnsweredOnePrintDialogPerWindowAndFilesArrive) {
  constexpr int kDestroy = 1000;
  const std::tuple<const char*, int, const char*> cases[] = {
      {"alert('x'); document.title = 'done';", GTK_RESPONSE_OK, "done"},
      {"document.title = confirm('x');", GTK_RESPONSE_YES, "true"},
      {"document.title = confirm('x');", GTK_RESPONSE_NO, "false"},
      {"document.title = confirm('x');", kDestroy, "false"}};
  for (const auto& [script, answer, result] : cases) {
    SCOPED_TRACE(std::string(script) + " answered " + std::to_string(answer));
    EXPECT_EQ(ask("document.title = 'waiting';"), "waiting");
    run(script);
    GtkWidget* dialog = waitForDialog(GTK_TYPE_MESSAGE_DIALOG);
    ASSERT_NE(dialog, nullptr);
    EXPECT_TRUE(gtk_window_get_modal(GTK_WINDOW(dialog)));
    EXPECT_EQ(textOf(dialog), "x");
    drainLoop(200);                 // the page gets every chance to go on
    EXPECT_EQ(title(), "waiting");  // the script is still inside the dialog's call
    if (answer == kDestroy)
      gtk_widget_destroy(dialog);
    else
      gtk_button_clicked(
          GTK_BUTTON(gtk_dialog_get_widget_for_response(GTK_DIALOG(dialog), answer)));
    ASSERT_TRUE(waitForTitle(result)) << title();
    EXPECT_TRUE(waitForNoDialog(GTK_TYPE_MESSAGE_DIALOG));
  }
  // The Print command while this window's dialog is open is ignored; after a cancelled dialog it
  // opens one again, and the page's window.print() uses the same one.
  WebViewDelegate* delegate = window->webViewDelegate();
  const GType printDialog = GTK_TYPE_PRINT_UNIX_DIALOG;
  for (const bool byPage : {false, true}) {
    SCOPED_TRACE(byPage ? "window.print()" : "Print");
    if (byPage) {
      EXPECT_EQ(ask("window.print(); document.title = 'printed';"), "printed");
    } else {
      delegate->printContent();
      delegate->printContent();
    }
    GtkWidget* dialog = waitForDialog(printDialog);
    ASSERT_NE(dialog, nullptr);
    EXPECT_TRUE(delegate->printing());
    delegate->printContent();
    drainLoop(200);
    EXPECT_EQ(dialogs(printDialog).size(), 1u);
    gtk_dialog_response(GTK_DIALOG(dialog), GTK_RESPONSE_CANCEL);
    ASSERT_TRUE(waitForNoDialog(printDialog));
    EXPECT_FALSE(delegate->printing());
  }
  // Files reach the page through the file input's chooser (without a desktop portal a
  // GtkFileChooserDialog on the window: one file, or nothing on cancel) and dropped on the page.
  const fs::path file = client / "pick me.txt";
  writeFile(file, "content");
  run("input.click();");
  GtkWidget* chooser = waitForDialog(GTK_TYPE_FILE_CHOOSER_DIALOG);
  ASSERT_NE(chooser, nullptr);
  EXPECT_TRUE(gtk_window_get_modal(GTK_WINDOW(chooser)));
  EXPECT_EQ(gtk_file_chooser_get_action(GTK_FILE_CHOOSER(chooser)), GTK_FILE_CHOOSER_ACTION_OPEN);
  EXPECT_FALSE(gtk_file_chooser_get_select_multiple(GTK_FILE_CHOOSER(chooser)));
  gtk_dialog_response(GTK_DIALOG(chooser), GTK_RESPONSE_CANCEL);
  ASSERT_TRUE(waitForNoDialog(GTK_TYPE_FILE_CHOOSER_DIALOG));
  EXPECT_EQ(ask("document.title = 'files ' + input.files.length;"), "files 0");
  run("input.click();");
  chooser = waitForDialog(GTK_TYPE_FILE_CHOOSER_DIALOG);
  ASSERT_NE(chooser, nullptr);
  gtk_file_chooser_set_filename(GTK_FILE_CHOOSER(chooser), file.c_str());
  ASSERT_TRUE(waitFor([&] {
    g_autofree char* chosen = gtk_file_chooser_get_filename(GTK_FILE_CHOOSER(chooser));
    return chosen && file == chosen;
  }));
  gtk_dialog_response(GTK_DIALOG(chooser), GTK_RESPONSE_ACCEPT);
  ASSERT_TRUE(waitFor([&] { return title() == "picked 1"; })) << title();
  EXPECT_EQ(ask("document.title = input.files[0].name;"), "pick me.txt");
  EXPECT_TRUE(waitForNoDialog(GTK_TYPE_FILE_CHOOSER_DIALOG));

  // Dropped file URIs reach MacGap.droppedFiles as paths; other URIs are left out.
  const fs::path spaced = client / "with space.txt", plain = client / "plain.txt";
  g_autofree char* spacedUri = g_filename_to_uri(spaced.c_str(), nullptr, nullptr);
  g_autofree char* plainUri = g_filename_to_uri(plain.c_str(), nullptr, nullptr);
  // Dragged across the page without being dropped: nothing.
  drop(window->webView(), {plainUri}, false);
  EXPECT_EQ(ask("document.title = typeof MacGap.droppedFiles;"), "undefined");
  drop(window->webView(), {spacedUri, "https://example.com/elsewhere.txt", plainUri});
  EXPECT_EQ(Json::parse(ask("document.title = JSON.stringify(MacGap.droppedFiles);")),
            Json::array({spaced.string(), plain.string()}));
}

// The page scripts its live child, titled by "name" (only a title, '_self' too) and framed by
// the parts of "attributes" given, in the page's bottom-left coordinates.
TEST_F(PageWindows, ThePageScriptsItsLiveChildTitledAndFramedByTheGivenParts) {
  ASSERT_EQ(openChild("framed",
                      "{url: 'child.html', name: 'Compose', attributes:"
                      " {left: 120, top: 140, width: 640, height: 360}}"),
            "child");
  ASSERT_EQ(openChild("plain", "{url: 'child.html', name: '_self'}"), "child");
  ASSERT_EQ(openChild("wide", "{url: 'child.html', attributes: {width: 800, left: 'x'}}"), "child");
  ASSERT_EQ(app->delegate->childWindowControllers().size(), 3u);
  EXPECT_EQ(title(), "child");  // the main page stayed
  auto framed = child(0), plain = child(1), wide = child(2);
  // The object is the child's live window: its document as loaded, then written by the opener.
  EXPECT_TRUE(answers("document.title = framed.document.readyState + ' ' + framed.document.title",
                      "complete child"));
  EXPECT_EQ(ask("framed.document.title = 'from opener';"
                "document.title = framed.document.body.textContent"),
            "child page");
  EXPECT_TRUE(waitFor([&] { return title(framed) == "from opener"; }));
  EXPECT_STREQ(gtk_window_get_title(framed->gtkWindow()), "Compose");
  EXPECT_TRUE(waitFor([&] { return shownFrame(framed) == screen::Rect{120, 140, 640, 360}; }));
  EXPECT_STREQ(gtk_window_get_title(plain->gtkWindow()), "_self");
  // The width given, the height as a child without attributes has it.
  EXPECT_TRUE(waitFor([&] {
    const auto before = shownFrame(plain), after = shownFrame(wide);
    return before.height > 0 && after.width == 800 && after.height == before.height;
  }));
  // No url, or one that cannot open: nothing is made and the page gets undefined.
  for (const char* options : {"{name: 'x'}", "{url: 'https://[::1'}", ""})
    EXPECT_EQ(openChild("none", options), "undefined") << options;
  EXPECT_EQ(app->delegate->childWindowControllers().size(), 3u);
}

}  // namespace
}  // namespace wd::test
