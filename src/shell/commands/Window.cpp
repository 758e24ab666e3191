#include "shell/commands/Window.h"

#include <gtk/gtk.h>

#include <algorithm>
#include <cmath>

#include "bridge/Exports.h"
#include "bridge/wire/Utf.h"
#include "core/Log.h"
#include "shell/window/PageFrame.h"
#include "shell/window/WebWindow.h"

// Last: the X11 headers define macros (Bool, None, Status) that clash with other names.
// clang-format off
#include <gdk/gdkx.h>
#include <X11/Xutil.h>
// clang-format on

namespace wd {

namespace {

using screen::canPosition;
using screen::primaryGeometry;
using screen::primaryMonitor;

// A page coordinate or size: cut toward zero; NaN (a missing argument) is 0; kept within what
// the window system can hold.
double cut(double v) {
  if (std::isnan(v)) return 0;
  return std::trunc(std::clamp(v, -1.0e6, 1.0e6));
}

// The usable area (without panels) of the monitor holding `window`, in GTK's coordinates.
screen::Rect workareaOf(GtkWindow* window) {
  GdkDisplay* display = gdk_display_get_default();
  GdkWindow* gdkWindow = gtk_widget_get_window(GTK_WIDGET(window));
  GdkMonitor* m = display && gdkWindow ? gdk_display_get_monitor_at_window(display, gdkWindow)
                                       : primaryMonitor();
  GdkRectangle r{};
  if (m) gdk_monitor_get_workarea(m, &r);
  return {double(r.x), double(r.y), double(r.width), double(r.height)};
}

// The window's maximum size as the window system holds it (0 by 0 when none is set).
std::pair<int, int> maxSizeOf(GtkWindow* window, int* minW, int* minH) {
  *minW = *minH = 0;
  GdkWindow* gdkWindow = gtk_widget_get_window(GTK_WIDGET(window));
  if (!gdkWindow || !GDK_IS_X11_WINDOW(gdkWindow)) return {0, 0};
  XSizeHints hints{};
  long supplied = 0;
  if (!XGetWMNormalHints(GDK_WINDOW_XDISPLAY(gdkWindow), GDK_WINDOW_XID(gdkWindow), &hints,
                         &supplied))
    return {0, 0};
  if (hints.flags & PMinSize) {
    *minW = hints.min_width;
    *minH = hints.min_height;
  }
  if (hints.flags & PMaxSize) return {hints.max_width, hints.max_height};
  return {0, 0};
}

void setSizeHints(GtkWindow* window, int minW, int minH, int maxW, int maxH) {
  GdkGeometry geometry{};
  int mask = 0;
  if (minW > 0 || minH > 0) {
    geometry.min_width = minW;
    geometry.min_height = minH;
    mask |= GDK_HINT_MIN_SIZE;
  }
  if (maxW > 0) {
    geometry.max_width = maxW;
    geometry.max_height = maxH;
    mask |= GDK_HINT_MAX_SIZE;
  }
  gtk_window_set_geometry_hints(window, nullptr, &geometry, GdkWindowHints(mask));
}

}  // namespace

Window::Window(std::weak_ptr<WebWindow> window) : webWindow_(std::move(window)) {
  auto web = webWindow_.lock();
  window_ = web ? web->gtkWindow() : nullptr;
  const screen::Rect f = frame();
  x_ = f.x;
  y_ = f.y;
  if (!window_) return;
  gtk_window_get_size(window_, &lastWidth_, &lastHeight_);
  if (GdkWindow* g = gtk_widget_get_window(GTK_WIDGET(window_)))
    fullscreen_ = gdk_window_get_state(g) & GDK_WINDOW_STATE_FULLSCREEN;
  handlers_[0] = g_signal_connect(
      window_, "configure-event", G_CALLBACK(+[](GtkWidget*, GdkEventConfigure* e, gpointer self) {
        static_cast<Window*>(self)->windowConfigured(e->width, e->height);
        return FALSE;
      }),
      this);
  handlers_[1] = g_signal_connect(
      window_, "window-state-event",
      G_CALLBACK(+[](GtkWidget*, GdkEventWindowState* e, gpointer self) {
        static_cast<Window*>(self)->windowStateChanged(e->changed_mask, e->new_window_state);
        return FALSE;
      }),
      this);
  handlers_[2] = g_signal_connect(window_, "destroy", G_CALLBACK(+[](GtkWidget*, gpointer self) {
                                    static_cast<Window*>(self)->windowClosed();
                                  }),
                                  this);
}

Window::~Window() {
  windowClosed();
}

const bridge::ClassInfo& Window::scriptClass() const {
  return exports();
}

const bridge::ClassInfo& Window::exports() {
  static const bridge::ClassInfo& info =
      bridge::ClassBuilder<Window>("Window")
          .summary(
              "The page's own window: its frame in bottom-left screen coordinates, title, and full "
              "screen.")
          .event({"resize", "{ width: number; height: number; fullscreen: boolean } | undefined",
                  "The window's size changed (the engine's own resize events carry no data).",
                  "window"})
          .event({"minimized", "null", "The window was minimized.", "window"})
          .event({"restore", "null", "The window came back from being minimized.", "window"})
          .event({"enter-fullscreen", "null", "The window went full screen.", "window"})
          .event({"leave-fullscreen", "null", "The window left full screen.", "window"})
          .method("open:", &Window::open)
          .doc({.summary =
                    "Does nothing: windows are opened with `MacGap.DesktopCommand.openChild`.",
                .params = {"options?: unknown"}})
          .method("move:y:__JS_EXPORT_AS__move:", &Window::move)
          .doc({.summary = "Moves the window's frame (X11 only; elsewhere ignored).",
                .params = {"x", "y"},
                .refused = "0 (numbers are cut toward zero)"})
          .method("resize:height:__JS_EXPORT_AS__resize:", &Window::resize)
          .doc({.summary = "Sizes the window's frame.",
                .params = {"width", "height"},
                .refused = "1 (sizes are at least 1)"})
          .method("center", &Window::center)
          .doc({.summary = "Centres the window in its monitor's work area."})
          .method("minimize", &Window::minimize)
          .doc({.summary = "Minimizes the window."})
          .method("maximize", &Window::maximize)
          .doc({.summary = "Gives the window its monitor's work area, keeping the old frame for "
                           "`restore`."})
          .method("toggleFullscreen", &Window::toggleFullscreen)
          .doc({.summary = "Enters or leaves full screen."})
          .method("title:", &Window::title)
          .doc({.summary = "Sets the window's title.",
                .params = {"text"},
                .refused = "nothing happens"})
          .method("restore", &Window::restore)
          .doc({.summary = "Gives back the frame kept by `maximize`."})
          .property("isMaximized", &Window::isMaximized)
          .doc({.summary = "Always false: `maximize` and `restore` leave it alone."})
          .property("x", &Window::x)
          .doc({.summary = "The window's left edge when this object was made."})
          .property("y", &Window::y)
          .doc({.summary = "The window's bottom edge when this object was made."})
          .build();
  return info;
}

void Window::windowClosed() {
  if (!window_) return;
  for (unsigned long& id : handlers_)
    if (id && g_signal_handler_is_connected(window_, id))
      g_signal_handler_disconnect(window_, std::exchange(id, 0));
  window_ = nullptr;
  webWindow_.reset();
}

screen::Rect Window::frame() const {
  if (!window_) return {};
  return screen::pageFrameOf(window_);
}

void Window::setFrame(const screen::Rect& f) {
  if (!window_) return;
  screen::setPageFrame(window_, f);
  if (!gtk_widget_get_visible(GTK_WIDGET(window_)))
    if (auto web = webWindow_.lock()) web->frameChangedWhileHidden();
}

void Window::open(std::optional<Json>) {}

void Window::move(double x, double y) {
  if (!window_) return;
  screen::Rect f = screen::requestedPageFrameOf(window_);
  f.x = cut(x);
  f.y = cut(y);
  setFrame(f);
}

void Window::resize(double width, double height) {
  if (!window_) return;
  screen::Rect f = screen::requestedPageFrameOf(window_);
  f.width = cut(width);
  f.height = cut(height);
  setFrame(f);
}

void Window::center() {
  if (!window_ || !canPosition()) return;
  const screen::Rect area = workareaOf(window_);
  int w = 0, h = 0;
  gtk_window_get_size(window_, &w, &h);
  gtk_window_move(window_, int(area.x + (area.width - w) / 2), int(area.y + (area.height - h) / 2));
}

void Window::minimize() {
  if (window_) gtk_window_iconify(window_);
}

void Window::maximize() {
  if (!window_) return;
  oldRestoreFrame_ = screen::requestedPageFrameOf(window_);
  setFrame(screen::toBottomLeft(workareaOf(window_), primaryGeometry()));
}

void Window::restore() {
  // Before any maximize there is no frame to go back to: nothing happens.
  if (!window_ || oldRestoreFrame_ == screen::Rect{}) return;
  setFrame(oldRestoreFrame_);
}

void Window::toggleFullscreen() {
  if (!window_) return;
  if (fullscreen_) {
    gtk_window_unfullscreen(window_);
    return;
  }
  // Lifted before the request, so the window manager never sizes full screen by it.
  liftMaxSizeForFullscreen();
  gtk_window_fullscreen(window_);
}

void Window::liftMaxSizeForFullscreen() {
  if (maxSizeLifted_) return;
  maxSizeLifted_ = true;
  int minW = 0, minH = 0;
  auto [maxW, maxH] = maxSizeOf(window_, &minW, &minH);
  oldMaxWidth_ = maxW;
  oldMaxHeight_ = maxH;
  if (maxW > 0) setSizeHints(window_, minW, minH, 0, 0);
}

void Window::title(std::optional<std::string> text) {
  if (window_ && text) gtk_window_set_title(window_, bridge::wire::boundedTitle(*text).c_str());
}

void Window::windowConfigured(int w, int h) {
  if (!window_) return;
  if (w == lastWidth_ && h == lastHeight_) return;
  lastWidth_ = w;
  lastHeight_ = h;
  // The window system may report the new size before the new state.
  if (GdkWindow* g = gtk_widget_get_window(GTK_WIDGET(window_)))
    fullscreen_ = gdk_window_get_state(g) & GDK_WINDOW_STATE_FULLSCREEN;
  raiseResize();
}

void Window::raiseResize() {
  raisedFullscreen_ = fullscreen_;
  raise("resize",
        Json{{"width", lastWidth_}, {"height", lastHeight_}, {"fullscreen", fullscreen_}});
}

void Window::windowStateChanged(unsigned changed, unsigned now) {
  if (!window_) return;
  if (changed & GDK_WINDOW_STATE_ICONIFIED)
    raise((now & GDK_WINDOW_STATE_ICONIFIED) ? "minimized" : "restore", std::nullopt);
  if (changed & GDK_WINDOW_STATE_FULLSCREEN) {
    fullscreen_ = now & GDK_WINDOW_STATE_FULLSCREEN;
    if (fullscreen_) {
      // Full screen the window manager started (a key, a pager) lifts the maximum size too.
      liftMaxSizeForFullscreen();
      raise("enter-fullscreen", std::nullopt);
    } else {
      maxSizeLifted_ = false;
      if (oldMaxWidth_ != 0) {
        int minW = 0, minH = 0;
        maxSizeOf(window_, &minW, &minH);
        setSizeHints(window_, minW, minH, int(oldMaxWidth_), int(oldMaxHeight_));
      }
      raise("leave-fullscreen", std::nullopt);
    }
    // The new size may have come first, reported with the old state: the page hears the size
    // again with the state it goes with.
    if (lastWidth_ > 0 && raisedFullscreen_ != fullscreen_) raiseResize();
  }
}

void Window::raise(const std::string& name, const std::optional<Json>& data) {
  if (auto web = webWindow_.lock()) web->pageEvents().raise(name, data, "window");
}

}  // namespace wd
