#pragma once
// The page's Window object (MacGap.Window): moves, sizes, centres, minimizes, maximizes (and
// restores the frame saved by maximize), toggles full screen and titles its own window, in the
// page's bottom-left screen coordinates, and raises "resize", "minimized", "restore",
// "enter-fullscreen" and "leave-fullscreen" on the page's `window`. Once the native window is
// destroyed every member does nothing and no event is raised. Positions need X11; elsewhere
// they are left alone (said once in the log) and the other members still work.
#include <memory>
#include <optional>
#include <string>

#include "bridge/ScriptObject.h"
#include "core/Json.h"
#include "shell/window/ScreenCoordinates.h"

typedef struct _GtkWindow GtkWindow;
typedef union _GdkEvent GdkEvent;

namespace wd {

class WebWindow;

class Window : public bridge::ScriptObject {
 public:
  explicit Window(std::weak_ptr<WebWindow> window);
  ~Window() override;
  Window(const Window&) = delete;
  Window& operator=(const Window&) = delete;

  const bridge::ClassInfo& scriptClass() const override;
  // The exports table, reachable without an object (the page API generator reads it).
  static const bridge::ClassInfo& exports();

  void open(std::optional<Json> options);
  void move(double x, double y);
  void resize(double width, double height);
  void center();
  void minimize();
  void maximize();
  void toggleFullscreen();
  void title(std::optional<std::string> text);
  void restore();
  bool isMaximized() const { return isMaximized_; }
  double x() const { return x_; }
  double y() const { return y_; }

  // The window's frame in the page's coordinates (all zero without a window).
  screen::Rect frame() const;

 private:
  void setFrame(const screen::Rect& frame);
  void windowConfigured(int width, int height);
  void windowStateChanged(unsigned changed, unsigned now);
  // "resize" with the last size and the present full-screen state.
  void raiseResize();
  // Saves the maximum size and lifts it for full screen; once per entry into full screen.
  void liftMaxSizeForFullscreen();
  void windowClosed();
  void raise(const std::string& name, const std::optional<Json>& data);

  std::weak_ptr<WebWindow> webWindow_;
  GtkWindow* window_ = nullptr;  // not owned; cleared when the window is destroyed
  unsigned long handlers_[3] = {0, 0, 0};
  double x_ = 0, y_ = 0;
  bool isMaximized_ = false;
  screen::Rect oldRestoreFrame_;
  double oldMaxWidth_ = 0, oldMaxHeight_ = 0;
  bool maxSizeLifted_ = false;  // saved and lifted for the present (or coming) full screen
  int lastWidth_ = 0, lastHeight_ = 0;
  bool fullscreen_ = false;
  bool raisedFullscreen_ = false;  // the flag of the last "resize" raised
};

}  // namespace wd
