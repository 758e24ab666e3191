#pragma once
// The rig of the page-object suites: a headless page (a FakeWindow's JavaScriptCore context, with
// a real toplevel where a suite needs one) with MacGap and the objects a test installs under it.
#include <gtest/gtest.h>
#include <gtk/gtk.h>

#include <string>
#include <utility>
#include <vector>

#include "shell/ShellFakes.h"
#include "shell/commands/DesktopCommand.h"
#include "support/Files.h"
#include "support/Loop.h"

namespace wd::test {

namespace fs = std::filesystem;

// A page's window whose native window is a real toplevel (shown by the test when it needs).
class RealGtkWindow : public FakeWindow {
 public:
  ~RealGtkWindow() override { destroy(); }
  GtkWindow* gtkWindow() override { return window; }
  // Destroys the toplevel (GTK owns it); the page's window has none from then on.
  void destroy() {
    if (window) gtk_widget_destroy(GTK_WIDGET(std::exchange(window, nullptr)));
  }
  GtkWindow* window = GTK_WINDOW(gtk_window_new(GTK_WINDOW_TOPLEVEL));
};

// A script string literal.
inline std::string lit(const std::string& text) {
  return Json(text).dump();
}

// The page helpers over a suite's rig (a plain test when none).
template <class Rig = ::testing::Test>
class PageObjectTestOn : public Rig {
 protected:
  // What `script` gives in the page of `w` (the test's window when none); null for undefined.
  // No script a test runs throws: the page's objects never throw into the page.
  Json js(const std::string& script, FakeWindow* w = nullptr) {
    auto& page = (w ? w : window.get())->page;
    const Json value = page.evaluate(script).value_or(Json());
    EXPECT_EQ(page.lastException(), std::nullopt) << script;
    return value;
  }
  // Each script gives its value in the page.
  void expectAll(const std::vector<std::pair<std::string, Json>>& cases) {
    for (const auto& [script, expected] : cases) EXPECT_EQ(js(script), expected) << script;
  }
  // Each check gives true in the page.
  void expectTrue(const std::vector<std::string>& checks) {
    for (const auto& check : checks) EXPECT_EQ(js(check), Json(true)) << check;
  }
  // window.<list> gets the data of each event of `names` the page's `target` hears ([name, data]
  // when there are several names).
  void listen(const std::string& names, FakeWindow* w = nullptr,
              const std::string& target = "document", const std::string& list = "seen") {
    js("window." + list + " = []; [" + names + "].forEach(function (n, i, all) { " + target +
           ".addEventListener(n, function (e) { window." + list +
           ".push(all.length > 1 ? [n, e.data] : e.data); }); });",
       w);
  }
  std::shared_ptr<FakeWindow> window = std::make_shared<FakeWindow>();
};
using PageObjectTest = PageObjectTestOn<>;

}  // namespace wd::test
