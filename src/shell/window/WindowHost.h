#pragma once
// What a web window may ask of whoever keeps the application's windows (the application
// delegate): whether it is the main window, to keep a window it opened (a page's
// window.open()), and to forget it once it has closed. Windows get their host when they are
// made and never reach further up.
#include <memory>

namespace wd {

class WebWindow;

class WindowHost {
 public:
  virtual ~WindowHost() = default;
  virtual bool isMainWindow(const WebWindow* window) const = 0;
  // Keeps `window` (a secondary window) until it closes.
  virtual void registerChildController(std::shared_ptr<WebWindow> window) = 0;
  // `window` has closed: a secondary window is forgotten (and may be destroyed by that).
  virtual void windowDidClose(const WebWindow* window) = 0;
};

}  // namespace wd
