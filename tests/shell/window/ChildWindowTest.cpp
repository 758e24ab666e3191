// MacGap.DesktopCommand.openChild on real web windows: the page scripts its live child, titled by
// "name" and framed by "attributes" in the page's bottom-left coordinates.
#include "shell/commands/DesktopCommand.h"
#include "shell/window/PageFrame.h"
#include "shell/window/WebRig.h"

namespace wd::test {
namespace {

class ChildWindows : public WebRig {
 protected:
  static void SetUpTestSuite() {
    startRig({{"public/config.json", R"({"plugins": ["DesktopCommand"]})"},
              {"public/index.html",
               "<!doctype html><title>main</title><script>"
               "document.title = typeof MacGap.DesktopCommand.openChild;"
               "</script>"},
              {"public/child.html", "<!doctype html><title>child</title><body>child page</body>"}});
    registerShellScriptClasses(app->context, [] { return app->delegate.get(); });
  }
  void SetUp() override { open("function"); }

  // Opens a child from the page as `name` (a page variable); answers what the call returned.
  std::string openChild(const std::string& name, const std::string& options) {
    return ask("window." + name + " = MacGap.DesktopCommand.openChild(" + options +
               "); var c = window." + name +
               "; document.title = c ? (c.opener === window ? 'child' : 'other') : String(c);");
  }
  std::shared_ptr<WindowController> child(std::size_t i) {
    const auto& all = app->delegate->childWindowControllers();
    return i < all.size() ? std::dynamic_pointer_cast<WindowController>(all[i]) : nullptr;
  }
  // The child's frame in the page's coordinates once it is on screen (else all zero).
  static screen::Rect shownFrame(const std::shared_ptr<WindowController>& w) {
    GtkWindow* g = w ? w->gtkWindow() : nullptr;
    return g && gtk_widget_get_mapped(GTK_WIDGET(g)) ? screen::pageFrameOf(g) : screen::Rect{};
  }
};

TEST_F(ChildWindows, ThePageScriptsItsLiveChildWhichIsTitledAndFramed) {
  ASSERT_EQ(openChild("framed",
                      "{url: 'child.html', name: 'Compose', attributes:"
                      " {left: 120, top: 140, width: 640, height: 360}}"),
            "child");
  ASSERT_EQ(app->delegate->childWindowControllers().size(), 1u);
  auto framed = child(0);
  // The object is the child's live window: its document as loaded, then written by the opener.
  EXPECT_TRUE(waitFor([&] {
    return ask("document.title = framed.document.readyState + ' ' + framed.document.title") ==
           "complete child";
  }));
  EXPECT_EQ(ask("framed.document.title = 'from opener';"
                "document.title = framed.document.body.textContent"),
            "child page");
  EXPECT_TRUE(waitFor([&] { return title(framed) == "from opener"; }));
  EXPECT_STREQ(gtk_window_get_title(framed->gtkWindow()), "Compose");
  EXPECT_TRUE(waitFor([&] {
    return shownFrame(framed) == screen::Rect{120, 140, 640, 360};
  })) << shownFrame(framed).x
      << "," << shownFrame(framed).y << " " << shownFrame(framed).width << "x"
      << shownFrame(framed).height;
}

TEST_F(ChildWindows, OnlyTheGivenPartsOfTheFrameChangeAndTheNameIsOnlyATitle) {
  // A name that would target the opener itself still opens a new window, titled so.
  ASSERT_EQ(openChild("plain", "{url: 'child.html', name: '_self'}"), "child");
  ASSERT_EQ(openChild("wide", "{url: 'child.html', attributes: {width: 800, left: 'x'}}"), "child");
  ASSERT_EQ(app->delegate->childWindowControllers().size(), 2u);
  EXPECT_EQ(title(), "child");  // the main page stayed
  auto plain = child(0), wide = child(1);
  EXPECT_STREQ(gtk_window_get_title(plain->gtkWindow()), "_self");
  // The width given, the height as a child without attributes has it.
  EXPECT_TRUE(waitFor([&] {
    const auto before = shownFrame(plain), after = shownFrame(wide);
    return before.height > 0 && after.width == 800 && after.height == before.height;
  })) << shownFrame(wide).width
      << "x" << shownFrame(wide).height << " / " << shownFrame(plain).height;
  // No url, or one that cannot open: nothing is made and the page gets undefined.
  for (const char* options : {"{name: 'x'}", "{url: 'https://[::1'}", ""})
    EXPECT_EQ(openChild("none", options), "undefined") << options;
  EXPECT_EQ(app->delegate->childWindowControllers().size(), 2u);
}

}  // namespace
}  // namespace wd::test
