#pragma once
// A launched application over the shell's doubles that can also make real web windows (a real
// WebKitGTK view and script bridge) on the test session's display.
#include <gtk/gtk.h>

#include <memory>

#include "shell/ShellFakes.h"
#include "shell/window/WebContext.h"
#include "shell/window/WindowController.h"

namespace wd::test {

struct RealWindowsApp : LaunchedApp {
  WebContext web{context.bridgeHost(), context.defaults(), context.cookies()};
  WindowEnvironment env{context, web, *delegate, [this](std::shared_ptr<WebWindow> w) {
                          return delegate->makeRootObject(w);
                        }};

  // Registers a new secondary window the way the page's window.open() does, without keeping it.
  std::weak_ptr<WindowController> openChild(bool show, GObject** viewOut = nullptr) {
    auto child = WindowController::initWithRequest(env, "");
    if (show) child->makeKeyAndOrderFront();
    if (viewOut) *viewOut = G_OBJECT(g_object_ref(child->webView()));
    delegate->registerChildController(child);
    return child;
  }
};

}  // namespace wd::test
