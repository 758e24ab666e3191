#pragma once
// What the application's logic needs of a web window: its page (as script objects see it,
// bridge::WindowHandle), its native window, the route for events into its page, and the
// show/hide/close operations. `WindowController` is the real one; tests use doubles.
#include <functional>
#include <memory>
#include <string>

#include "bridge/Command.h"
#include "shell/window/PageEvents.h"

typedef struct _GtkWindow GtkWindow;

namespace wd {

class WebWindow : public bridge::WindowHandle {
 public:
  WebWindow() : events_([this] { return scriptPage(); }) {}

  // The native window (nullptr for doubles and for a window already torn down).
  virtual GtkWindow* gtkWindow() = 0;
  // Shows the window without asking for the focus.
  virtual void showWindow() = 0;
  // Shows the window, brings it to the front and gives it the focus.
  virtual void makeKeyAndOrderFront() = 0;
  virtual bool isVisible() const = 0;
  // Applies the configuration's window limits and title.
  virtual void setWindowParams() = 0;
  // The application's Print command: opens a print dialog unless one is open already.
  virtual void printContent() = 0;
  // Asks the window to close, as its close button does.
  virtual void performClose() = 0;
  // Runs an editing command ("Copy", "Paste", "SelectAll", "Undo", ...) in the page.
  virtual void executeEditingCommand(const std::string& /*command*/) {}
  // The window this window's page opened last with window.open(), handed out once; none when
  // the page opened none since.
  virtual std::shared_ptr<WebWindow> takeOpenedWindow() { return nullptr; }
  // Runs `f` when the page that opened this window asks to show it (its own geometry applied,
  // not yet on screen); at once for a window shown already or not opened by a page.
  virtual void whenReadyToShow(std::function<void()> f) { f(); }

  // The page moved or resized the window while it was hidden (the main window saves its frame).
  virtual void frameChangedWhileHidden() {}

  // Every native-to-page event of this window goes through here.
  PageEvents& pageEvents() { return events_; }

 private:
  PageEvents events_;
};

}  // namespace wd
