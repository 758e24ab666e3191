#pragma once
// What the application's logic needs of a web window: its page and native window (as script
// objects see them, bridge::WindowHandle) plus the show/hide/close operations.
// `WindowController` is the real one; tests use doubles.
#include <string>

#include "bridge/Command.h"

namespace wd {

class WebWindow : public bridge::WindowHandle {
 public:
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
};

}  // namespace wd
