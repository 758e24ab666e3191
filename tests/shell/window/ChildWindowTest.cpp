// MacGap.DesktopCommand.openChild on real web windows on the test session's display: the page
// gets its child's live `window` (it reads and writes the child's document), the child window
// is titled by "name" (never taken as a window name) and framed by "attributes" in the page's
// bottom-left coordinates, parts not given staying as they were.
#include <gtest/gtest.h>
#include <gtk/gtk.h>
#include <webkit2/webkit2.h>

#include <filesystem>
#include <fstream>

#include "shell/NotificationDaemon.h"  // waitFor
#include "shell/RealWindows.h"
#include "shell/commands/DesktopCommand.h"
#include "shell/window/PageFrame.h"
#include "shell/window/WebClient.h"
#include "support/Files.h"

namespace wd::test {
namespace {

namespace fs = std::filesystem;

class ChildWindows : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(gtk_init_check(nullptr, nullptr));
    // A folder per test: tests of this fixture may run at the same time.
    client =
        fs::path(std::getenv("HOME")) /
        ("client-" + std::string(testing::UnitTest::GetInstance()->current_test_info()->name()));
    fs::remove_all(client);
    writeFile(client / "public/config.json", R"({"plugins": ["DesktopCommand"]})");
    writeFile(client / "public/index.html",
              "<!doctype html><title>main</title><script>"
              "document.title = typeof MacGap.DesktopCommand.openChild;</script>");
    writeFile(client / "public/child.html",
              "<!doctype html><title>child</title><body>child page</body>");
    webclient::setDirectory(client);
    // WebKit starts before the doubles' headless JavaScriptCore pages (see NavigationTest).
    g_object_unref(g_object_ref_sink(webkit_web_view_new()));
    app = std::make_unique<RealWindowsApp>();
    registerShellScriptClasses(app->context, [this] { return app->delegate.get(); });
    main = WindowController::initWithRequest(app->env, webclient::fileURL("public/index.html"));
    main->makeKeyAndOrderFront();
    ASSERT_TRUE(waitFor([&] { return title(main) == "function"; })) << title(main);
  }
  void TearDown() override {
    main.reset();
    app.reset();
    webclient::setDirectory({});
  }

  static std::string title(const std::shared_ptr<WindowController>& w) {
    const char* t = w && w->webView() ? webkit_web_view_get_title(w->webView()) : nullptr;
    return t ? t : "";
  }
  // Runs `script` in the main page (the test's own access); the script sets the title.
  std::string ask(const std::string& script) {
    webkit_web_view_evaluate_javascript(main->webView(), "document.title = 'asking';", -1, nullptr,
                                        nullptr, nullptr, nullptr, nullptr);
    EXPECT_TRUE(waitFor([&] { return title(main) == "asking"; }));
    webkit_web_view_evaluate_javascript(main->webView(), script.c_str(), -1, nullptr, nullptr,
                                        nullptr, nullptr, nullptr);
    EXPECT_TRUE(waitFor([&] { return title(main) != "asking"; })) << script;
    return title(main);
  }
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
    if (!g || !gtk_widget_get_mapped(GTK_WIDGET(g))) return {};
    return screen::pageFrameOf(g);
  }

  fs::path client;
  std::unique_ptr<RealWindowsApp> app;
  std::shared_ptr<WindowController> main;
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
  const screen::Rect wanted{120, 140, 640, 360};
  EXPECT_TRUE(waitFor([&] { return shownFrame(framed) == wanted; }))
      << shownFrame(framed).x << "," << shownFrame(framed).y << " " << shownFrame(framed).width
      << "x" << shownFrame(framed).height;
}

TEST_F(ChildWindows, OnlyTheGivenPartsOfTheFrameChangeAndTheNameIsOnlyATitle) {
  // A name that would target the opener itself still opens a new window, titled so.
  ASSERT_EQ(openChild("plain", "{url: 'child.html', name: '_self'}"), "child");
  ASSERT_EQ(openChild("wide", "{url: 'child.html', attributes: {width: 800, left: 'x'}}"), "child");
  ASSERT_EQ(app->delegate->childWindowControllers().size(), 2u);
  EXPECT_EQ(title(main), "child");  // the main page stayed
  auto plain = child(0), wide = child(1);
  EXPECT_STREQ(gtk_window_get_title(plain->gtkWindow()), "_self");
  // The width given, the height as a child without attributes has it.
  EXPECT_TRUE(waitFor([&] {
    const auto before = shownFrame(plain), after = shownFrame(wide);
    return before.height > 0 && after.width == 800 && after.height == before.height;
  })) << shownFrame(wide).width
      << "x" << shownFrame(wide).height << " / " << shownFrame(plain).height;

  // No url, or one that cannot open: nothing is made and the page gets undefined.
  EXPECT_EQ(openChild("none", "{name: 'x'}"), "undefined");
  EXPECT_EQ(openChild("bad", "{url: 'https://[::1'}"), "undefined");
  EXPECT_EQ(openChild("nothing", ""), "undefined");
  EXPECT_EQ(app->delegate->childWindowControllers().size(), 2u);
}

}  // namespace
}  // namespace wd::test
