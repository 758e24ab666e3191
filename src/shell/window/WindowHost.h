#pragma once
// What a web window may ask of whoever keeps the application's windows (the application
// delegate): whether it is the main window, to keep a window it opened (a page's
// window.open()), and to forget it once it has closed. Windows get their host when they are
// made and never reach further up.
#include <cstddef>
#include <memory>

namespace wd {

class WebWindow;

class WindowHost {
 public:
  virtual ~WindowHost() = default;
  virtual bool isMainWindow(const WebWindow* window) const = 0;
  // Live secondary windows are limited: a page opening windows in a loop would otherwise fill
  // memory (each is a window and a web view); past the limit no window opens.
  static constexpr std::size_t kMaxChildWindows = 50;
  // Whether another secondary window may open now (fewer than kMaxChildWindows live).
  virtual bool mayOpenChildWindow() const = 0;
  // Keeps `window` (a secondary window) until it closes.
  virtual void registerChildController(std::shared_ptr<WebWindow> window) = 0;
  // `window` has closed: a secondary window is forgotten (and may be destroyed by that).
  virtual void windowDidClose(const WebWindow* window) = 0;
};

}  // namespace wd
