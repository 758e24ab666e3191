// MacGap.Window and MacGap.Dialog on real toplevels under the test display's window manager, the
// headless page receiving their events; GTK's own file choosers answered as a user would.
#include "PageObjectTest.h"
#include "shell/commands/Dialog.h"
#include "shell/commands/Window.h"
#include "shell/window/PageFrame.h"
#include "shell/window/WebRig.h"

// Last: the X11 headers define macros that clash with other names.
#include <gdk/gdkx.h>

namespace wd::test {

// A real toplevel, shown under the window manager (it takes save dialogs as sheets), with the
// Window and Dialog objects in its page.
class WindowAndDialogObjects : public PageObjectTest {
 protected:
  void SetUp() override {
    g_unsetenv("GTK_USE_PORTAL");
    ASSERT_TRUE(gtk_init_check(nullptr, nullptr));
    GdkScreen* screen = gdk_screen_get_default();
    if (!GDK_IS_X11_SCREEN(screen) ||
        std::string(gdk_x11_screen_get_window_manager_name(screen)) == "unknown")
      GTEST_SKIP() << "needs a window manager on the test display";
    fs::create_directories(dir / "sub");
    window = web = std::make_shared<RealGtkWindow>();
    web->visible = true;
    gtk_window_set_default_size(web->window, 400, 300);
    gtk_window_move(web->window, 50, 60);
    gtk_widget_show(GTK_WIDGET(web->window));
    ASSERT_TRUE(waitFor([&] {
      GdkWindow* g = gtk_widget_get_window(GTK_WIDGET(web->window));
      return g && gdk_window_is_viewable(g);
    }));
    object = std::make_shared<Window>(web);
    web->page.install({object, {{"Window", object}, {"Dialog", std::make_shared<Dialog>(web)}}});
    listen("'resize', 'minimized', 'restore', 'enter-fullscreen', 'leave-fullscreen'", nullptr,
           "window");
    js("var W = MacGap.Window, calls = [], record = function (v) { calls.push(v); };"
       "var named = function (n) { return seen.filter(function (e) { return e[0] == n; })"
       "  .map(function (e) { return e[1]; }); };"
       "var lastResize = function () { return named('resize').pop() || {}; }");
  }
  void TearDown() override {
    for (auto* d : shownChoosers()) gtk_dialog_response(GTK_DIALOG(d), GTK_RESPONSE_CANCEL);
    drainLoop();
  }
  testing::AssertionResult frameIs(const screen::Rect& expected) {
    const bool met = waitFor([&] { return object->frame() == expected; }, 10);
    const screen::Rect f = object->frame();
    return testing::AssertionResult(met)
           << "frame is " << f.x << "," << f.y << " " << f.width << "x" << f.height;
  }
  Json eventsNamed(const std::string& name) { return js("named(" + lit(name) + ")"); }

  // Shows MacGap.Dialog.<kind>(options) with the recording callback: the chooser on screen.
  GtkFileChooser* show(const std::string& kind, const std::string& options) {
    js("calls = []; var o = " + options + "; o.callback = record; MacGap.Dialog." + kind + "(o)");
    EXPECT_TRUE(waitFor([&] { return !shownChoosers().empty(); }));
    auto all = shownChoosers();
    EXPECT_EQ(all.size(), 1u);
    return all.empty() ? nullptr : GTK_FILE_CHOOSER(all.front());
  }
  // Presses the accept button; what the page's callback got, once the dialog has gone. The
  // chooser checks a typed name asynchronously and drops that check when its folder reloads
  // meanwhile, leaving the dialog up; a user presses again then.
  Json accept(GtkFileChooser* fc) {
    for (int attempt = 0; attempt < 10; ++attempt) {
      gtk_dialog_response(GTK_DIALOG(fc), GTK_RESPONSE_ACCEPT);
      if (waitFor([&] { return js("calls.length") != Json(0) || shownChoosers().empty(); }, 3))
        break;
    }
    EXPECT_TRUE(waitFor([&] { return js("calls.length") == Json(1) && shownChoosers().empty(); }));
    return js("calls[0]");
  }
  std::vector<GtkWidget*> shownChoosers() const { return toplevels(GTK_TYPE_FILE_CHOOSER_DIALOG); }
  const fs::path dir = fs::canonical(testDirectory());
  std::shared_ptr<RealGtkWindow> web;
  std::shared_ptr<Window> object;
};

TEST_F(WindowAndDialogObjects, MovesAndSizesInBottomLeftCoordinatesAndRestoresTheMaximizeFrame) {
  const Json place = js("[W.x, W.y]");
  js("W.move(100.7, 200.2)");
  ASSERT_TRUE(frameIs({100, 200, 400, 300}));
  // The same place in GTK's top-left coordinates.
  const screen::Rect primary = screen::primaryGeometry();
  int gx = 0, gy = 0;
  gtk_window_get_position(web->window, &gx, &gy);
  EXPECT_EQ(gx, int(primary.x + 100));
  EXPECT_EQ(gy, int(primary.y + primary.height - 200 - 300));
  // The top edge moves, the bottom-left corner stays; the page hears integer sizes.
  js("W.resize(640.9, 480.5)");
  ASSERT_TRUE(frameIs({100, 200, 640, 480}));
  const Json resized = {{"width", 640}, {"height", 480}, {"fullscreen", false}};
  EXPECT_TRUE(waitFor([&] { return js("lastResize()") == resized; }));
  js("W.restore(); W.maximize()");  // restoring with nothing saved does nothing
  // The whole work area, once the window manager has placed and sized the window.
  GdkRectangle area{};
  gdk_monitor_get_workarea(screen::primaryMonitor(), &area);
  ASSERT_TRUE(frameIs(screen::toBottomLeft(
      {double(area.x), double(area.y), double(area.width), double(area.height)}, primary)));
  drainLoop();  // GTK takes in the new size before the page asks for the next one
  EXPECT_EQ(js("W.isMaximized"), false);
  js("W.restore()");
  EXPECT_TRUE(frameIs({100, 200, 640, 480}));
  // Taken back before the window manager has answered, or while it answers: the maximized
  // size does not stay.
  for (const double wait : {0.0, 0.001, 0.002, 0.004, 0.008, 0.016}) {
    js("W.maximize()");
    runLoopFor(wait);
    js("W.restore()");
    EXPECT_TRUE(frameIs({100, 200, 640, 480})) << wait;
  }
  // A request made before the window manager has answered the one before builds on that one.
  js("W.resize(320, 240); W.move(30, 40); W.maximize(); W.restore()");
  EXPECT_TRUE(frameIs({30, 40, 320, 240}));
  js("W.move(-3.5); W.open({x: 1})");  // a missing y is 0
  EXPECT_TRUE(frameIs({-3, 0, 320, 240}));
  EXPECT_EQ(js("[W.x, W.y]"), place);  // positions captured when the object was made
  // A title past what X carries (16 MiB ends the connection) is cut to 4 KiB at a character
  // boundary: 1,365 euro signs of 3 bytes.
  js("W.title('\\u20ac'.repeat(4 << 20))");
  EXPECT_EQ(js("'\\u20ac'.repeat(1365)"), gtk_window_get_title(web->window));
  drainLoop();  // the window system took it: the connection is still there
  EXPECT_TRUE(gtk_widget_get_realized(GTK_WIDGET(web->window)));
}

TEST_F(WindowAndDialogObjects, MinimizeAndFullScreenRaiseTheirEventsAndTheMaximumSizeComesBack) {
  GdkGeometry limits{.max_width = 500, .max_height = 400};
  gtk_window_set_geometry_hints(web->window, nullptr, &limits, GDK_HINT_MAX_SIZE);
  js("W.resize(900, 900)");  // once the window manager holds the window to it
  ASSERT_TRUE(waitFor([&] { return object->frame().width == 500; }, 10));
  js("W.minimize()");  // each event once, without data
  ASSERT_TRUE(waitFor([&] { return eventsNamed("minimized") == Json::array({nullptr}); }, 10));
  gtk_window_present(web->window);
  ASSERT_TRUE(waitFor([&] { return eventsNamed("restore") == Json::array({nullptr}); }, 10));
  EXPECT_EQ(eventsNamed("minimized"), Json::array({nullptr}));
  // Full screen the page asks for, and full screen asked of the window manager from outside
  // the page (as its key binding or a pager does).
  for (const bool byPage : {true, false}) {
    SCOPED_TRACE(byPage ? "by the page" : "by the window manager");
    js("seen = []");
    byPage ? void(js("W.toggleFullscreen()")) : gtk_window_fullscreen(web->window);
    ASSERT_TRUE(waitFor([&] { return eventsNamed("enter-fullscreen").size() == 1; }, 10));
    // Full screen is not held to the maximum size, and the page hears it is full screen.
    ASSERT_TRUE(
        waitFor([&] { return js("lastResize().fullscreen && lastResize().width > 500") == true; }));
    byPage ? void(js("W.toggleFullscreen()")) : gtk_window_unfullscreen(web->window);
    ASSERT_TRUE(waitFor([&] { return eventsNamed("leave-fullscreen").size() == 1; }, 10));
    ASSERT_TRUE(waitFor([&] { return object->frame().width <= 500; }, 10));
    js("W.resize(900, 900)");  // the maximum size holds again
    ASSERT_TRUE(waitFor([&] { return js("lastResize().fullscreen") == false; }, 10));
    EXPECT_LE(object->frame().width, 500);
    EXPECT_LE(object->frame().height, 400);
  }

  // Once the window is gone every member is ignored and nothing is raised.
  const Json x0 = js("W.x");
  drainLoop();
  js("seen = []");
  web->destroy();
  js(R"(var w = MacGap.Window; w.move(1, 2); w.resize(10, 10); w.center(); w.minimize();
        w.maximize(); w.restore(); w.toggleFullscreen(); w.title('x');)");
  drainLoop();
  EXPECT_EQ(js("seen"), Json::array());
  EXPECT_EQ(js("W.x"), x0);
  EXPECT_EQ(object->frame(), screen::Rect{});
}

// Open: files or folders (one or several) in a window of its own; the callback gets the paths.
// One dialog shows at a time; bad options never throw into the page and show nothing.
TEST_F(WindowAndDialogObjects, OpenInItsOwnWindowSaveAsASheetAndCancelCallsNothing) {
  for (const char* name : {"b.txt", "a.txt"}) writeFile(dir / "two" / name, name);
  const std::tuple<const char*, GtkFileChooserAction, std::vector<std::string>> opens[] = {
      {"{files: true, multiple: true}", GTK_FILE_CHOOSER_ACTION_OPEN, {"two/a.txt", "two/b.txt"}},
      {"{directories: 'yes'}", GTK_FILE_CHOOSER_ACTION_SELECT_FOLDER, {"sub"}},
      {"{multiple: 0}", GTK_FILE_CHOOSER_ACTION_OPEN, {"two/a.txt"}}};
  for (const auto& [options, action, paths] : opens) {
    SCOPED_TRACE(options);
    GtkFileChooser* fc = show("openDialog", options);
    ASSERT_NE(fc, nullptr);
    EXPECT_EQ(gtk_file_chooser_get_action(fc), action);
    const bool several = paths.size() > 1;  // named: clang 14 captures no structured binding
    EXPECT_EQ(gtk_file_chooser_get_select_multiple(fc), several);
    EXPECT_EQ(gtk_window_get_transient_for(GTK_WINDOW(fc)), nullptr);
    EXPECT_FALSE(gtk_window_get_modal(GTK_WINDOW(fc)));
    const char* title = gtk_window_get_title(GTK_WINDOW(fc));  // portals list it by its title
    EXPECT_TRUE(title && *title);
    std::vector<std::string> expected;
    for (const auto& name : paths) expected.push_back((dir / name).string());
    several ? void(gtk_file_chooser_set_current_folder(fc, (dir / "two").c_str()))
            : void(gtk_file_chooser_select_filename(fc, expected[0].c_str()));
    EXPECT_TRUE(waitFor([&] {
      if (several) gtk_file_chooser_select_all(fc);  // once the folder has loaded
      std::vector<std::string> chosen;
      GSList* names = gtk_file_chooser_get_filenames(fc);
      for (GSList* l = names; l; l = l->next) chosen.emplace_back(static_cast<char*>(l->data));
      g_slist_free_full(names, g_free);
      return chosen == expected;
    }));
    EXPECT_EQ(accept(fc), Json(expected));
  }
  // Cancelled: nothing is called; while one dialog is on screen, no other is shown.
  for (const auto& [kind, options] :
       {std::pair{"openDialog", "{files: true}"}, std::pair{"saveDialog", "{filename: 'x'}"}}) {
    SCOPED_TRACE(kind);
    GtkFileChooser* fc = show(kind, options);
    ASSERT_NE(fc, nullptr);
    js(std::string("MacGap.Dialog.") + kind + "(o); MacGap.Dialog.openDialog({files: true})");
    drainLoop();
    EXPECT_EQ(shownChoosers().size(), 1u);
    gtk_dialog_response(GTK_DIALOG(fc), GTK_RESPONSE_CANCEL);
    drainLoop();
    EXPECT_TRUE(shownChoosers().empty());
    EXPECT_EQ(js("calls.length"), Json(0));
  }
  js("MacGap.Dialog.openDialog(); MacGap.Dialog.saveDialog('x'); MacGap.Dialog.openDialog(null)");
  drainLoop();
  EXPECT_TRUE(shownChoosers().empty());
  // Save: a sheet with the page's title, button, filter and folder (a file URL; a bare path is not
  // one: the toolkit's folder), or the name the user types; the dialog writes nothing.
  const std::tuple<std::string, std::string, const char*> saves[] = {
      {"{title: 'Export', prompt: 'Export', message: 'Pick a place', filename: 'report.txt',"
       " createDirs: false, allowedTypes: ['txt', '.MD', 3], directory: " +
           lit("file://" + dir.string()) + "}",
       dir.string(), nullptr},
      {"{directory: '/'}", (dir / "sub").string(), "typed name.eml"}};
  for (const auto& [options, folder, typed] : saves) {
    SCOPED_TRACE(options);
    GtkFileChooser* fc = show("saveDialog", options);
    ASSERT_NE(fc, nullptr);
    EXPECT_EQ(gtk_file_chooser_get_action(fc), GTK_FILE_CHOOSER_ACTION_SAVE);
    EXPECT_EQ(gtk_window_get_transient_for(GTK_WINDOW(fc)), web->window);
    EXPECT_TRUE(gtk_window_get_modal(GTK_WINDOW(fc)));
    EXPECT_EQ(gtk_file_chooser_get_create_folders(fc), typed != nullptr);
    if (!typed) {
      EXPECT_STREQ(gtk_window_get_title(GTK_WINDOW(fc)), "Export \u2014 Pick a place");
      GtkWidget* button = gtk_dialog_get_widget_for_response(GTK_DIALOG(fc), GTK_RESPONSE_ACCEPT);
      EXPECT_STREQ(gtk_button_get_label(GTK_BUTTON(button)), "Export");
      EXPECT_STREQ(gtk_file_filter_get_name(gtk_file_chooser_get_filter(fc)), "txt, .MD");
    } else {
      gtk_file_chooser_set_current_folder(fc, folder.c_str());
    }
    EXPECT_TRUE(waitFor([&, &where = folder] {
      g_autofree gchar* current = gtk_file_chooser_get_current_folder(fc);
      return current && current == where;
    }));
    if (typed) gtk_file_chooser_set_current_name(fc, typed);
    const std::string name = typed ? typed : "report.txt";
    EXPECT_EQ(accept(fc), (Json{{"directory", folder},
                                {"filePath", (fs::path(folder) / name).string()},
                                {"filename", name}}));
    EXPECT_FALSE(fs::exists(fs::path(folder) / name));
  }
}

}  // namespace wd::test
