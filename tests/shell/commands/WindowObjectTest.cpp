// MacGap.Window on a real window under the test session's display and window manager, with the
// headless page receiving its events: moves and sizes in the page's bottom-left coordinates
// (checked against GTK's own top-left position), the frame saved by maximize, positions captured
// once, "resize" data, minimizing, full screen with the maximum size lifted and put back, and
// silence once the window is gone.
#include "PageObjectTest.h"
#include "shell/commands/Window.h"

// Last: the X11 headers define macros that clash with other names.
#include <gdk/gdkx.h>

namespace wd::test {

static screen::Rect primary() {
  GdkDisplay* d = gdk_display_get_default();
  GdkMonitor* m = gdk_display_get_primary_monitor(d);
  if (!m) m = gdk_display_get_monitor(d, 0);
  GdkRectangle r{};
  gdk_monitor_get_geometry(m, &r);
  return {double(r.x), double(r.y), double(r.width), double(r.height)};
}

class WindowObject : public PageObjectTest {
 protected:
  void SetUp() override {
    ASSERT_TRUE(gtk_init_check(nullptr, nullptr));
    GdkScreen* screen = gdk_screen_get_default();
    if (!GDK_IS_X11_SCREEN(screen) ||
        std::string(gdk_x11_screen_get_window_manager_name(screen)) == "unknown")
      GTEST_SKIP() << "needs a window manager on the test display";
    window = web = std::make_shared<RealGtkWindow>();
    gtk_window_set_default_size(web->window, 400, 300);
    gtk_window_move(web->window, 50, 60);
    gtk_widget_show(GTK_WIDGET(web->window));
    ASSERT_TRUE(waitFor([&] {
      GdkWindow* g = gtk_widget_get_window(GTK_WIDGET(web->window));
      return g && gdk_window_is_viewable(g);
    }));
    object = std::make_shared<Window>(web);
    web->page.install({object, {{"Window", object}}});
    js("var W = MacGap.Window");
    listen("'resize', 'minimized', 'restore', 'enter-fullscreen', 'leave-fullscreen'", nullptr,
           "window");
  }
  bool frameIs(const screen::Rect& expected) {
    return waitFor([&] { return object->frame() == expected; }, 10);
  }
  Json eventsNamed(const std::string& name) {
    Json out = Json::array();
    for (const auto& e : js("seen"))
      if (e[0] == name) out.push_back(e[1]);
    return out;
  }

  std::shared_ptr<RealGtkWindow> web;
  std::shared_ptr<Window> object;
};

TEST_F(WindowObject, MovesAndSizesInBottomLeftCoordinatesAndRestoresTheMaximizeFrame) {
  const Json x0 = js("W.x"), y0 = js("W.y");
  js("W.move(100.7, 200.2)");
  ASSERT_TRUE(frameIs({100, 200, 400, 300}));
  // The same place in GTK's top-left coordinates.
  int gx = 0, gy = 0;
  gtk_window_get_position(web->window, &gx, &gy);
  EXPECT_EQ(gx, int(primary().x + 100));
  EXPECT_EQ(gy, int(primary().y + primary().height - 200 - 300));

  // The top edge moves, the bottom-left corner stays; the page hears integer sizes.
  js("W.resize(640.9, 480.5)");
  ASSERT_TRUE(frameIs({100, 200, 640, 480}));
  ASSERT_TRUE(waitFor([&] { return !eventsNamed("resize").empty(); }));
  EXPECT_EQ(eventsNamed("resize").back(),
            (Json{{"width", 640}, {"height", 480}, {"fullscreen", false}}));

  js("W.restore()");  // nothing saved yet: nothing happens
  js("W.maximize()");
  ASSERT_TRUE(waitFor([&] { return object->frame().width > 640; }, 10));
  EXPECT_EQ(js("W.isMaximized"), false);
  js("W.restore()");
  EXPECT_TRUE(frameIs({100, 200, 640, 480}));
  js("W.move(-3.5); W.open({x: 1})");  // a missing y is 0
  EXPECT_TRUE(frameIs({-3, 0, 640, 480}));

  // Positions captured when the object was made.
  EXPECT_EQ(js("W.x"), x0);
  EXPECT_EQ(js("W.y"), y0);
  // A title past what X carries (16 MiB ends the connection) is cut to 4 KiB at a character
  // boundary; a lone surrogate arrives as U+FFFD.
  std::string euros;  // 4,095 bytes
  for (int i = 0; i < 1365; ++i) euros += "\xE2\x82\xAC";
  const std::pair<const char*, std::string> titles[] = {
      {"'Renamed'", "Renamed"},
      {"'a'.repeat(16 << 20)", std::string(4096, 'a')},
      {"'\\u20ac'.repeat(4 << 20)", euros},
      {"'t\\ud800'", "t\xEF\xBF\xBD"}};
  for (const auto& [script, expected] : titles) {
    js("W.title(" + std::string(script) + ")");
    EXPECT_EQ(std::string(gtk_window_get_title(web->window)), expected) << script;
  }
  drainLoop();  // the window system took it: the connection is still there
  EXPECT_TRUE(gtk_widget_get_realized(GTK_WIDGET(web->window)));
}

TEST_F(WindowObject, MinimizeAndFullScreenRaiseTheirEventsAndTheMaximumSizeComesBack) {
  GdkGeometry limits{};
  limits.max_width = 500;
  limits.max_height = 400;
  gtk_window_set_geometry_hints(web->window, nullptr, &limits, GDK_HINT_MAX_SIZE);
  js("W.resize(900, 900)");  // once the window manager holds the window to it
  ASSERT_TRUE(waitFor([&] { return object->frame().width == 500; }, 10));

  js("W.minimize()");
  ASSERT_TRUE(waitFor([&] { return eventsNamed("minimized").size() == 1; }, 10));
  gtk_window_present(web->window);
  ASSERT_TRUE(waitFor([&] { return eventsNamed("restore").size() == 1; }, 10));
  EXPECT_EQ(eventsNamed("minimized"), Json::array({nullptr}));
  EXPECT_EQ(eventsNamed("restore"), Json::array({nullptr}));

  // Full screen the page asks for, and full screen asked of the window manager from outside
  // the page (as its key binding or a pager does).
  for (const bool byPage : {true, false}) {
    SCOPED_TRACE(byPage ? "by the page" : "by the window manager");
    js("seen = []");
    if (byPage)
      js("W.toggleFullscreen()");
    else
      gtk_window_fullscreen(web->window);
    ASSERT_TRUE(waitFor([&] { return eventsNamed("enter-fullscreen").size() == 1; }, 10));
    // Full screen is not held to the maximum size, and the page hears it is full screen.
    ASSERT_TRUE(waitFor(
        [&] {
          auto r = eventsNamed("resize");
          return !r.empty() && r.back()["fullscreen"] == true && r.back()["width"] > 500;
        },
        10));
    if (byPage)
      js("W.toggleFullscreen()");
    else
      gtk_window_unfullscreen(web->window);
    ASSERT_TRUE(waitFor([&] { return eventsNamed("leave-fullscreen").size() == 1; }, 10));
    ASSERT_TRUE(waitFor([&] { return object->frame().width <= 500; }, 10));
    js("W.resize(900, 900)");  // the maximum size holds again
    ASSERT_TRUE(waitFor([&] { return eventsNamed("resize").back()["fullscreen"] == false; }, 10));
    EXPECT_LE(object->frame().width, 500);
    EXPECT_LE(object->frame().height, 400);
  }

  // Once the window is gone every member is ignored and nothing is raised.
  const Json x0 = js("W.x");
  drainLoop();
  js("seen = []");
  gtk_widget_destroy(GTK_WIDGET(web->window));
  web->destroyed = true;
  js(R"(var w = MacGap.Window; w.move(1, 2); w.resize(10, 10); w.center(); w.minimize();
        w.maximize(); w.restore(); w.toggleFullscreen(); w.title('x');)");
  drainLoop();
  EXPECT_EQ(js("seen"), Json::array());
  EXPECT_EQ(js("W.x"), x0);
  EXPECT_EQ(object->frame(), screen::Rect{});
}

}  // namespace wd::test
