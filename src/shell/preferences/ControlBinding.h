#pragma once
// Two-way binding of a control to a key path of a user-defaults controller, updated on every
// keystroke or click: the control shows the visible value, and the user's edits become the
// controller's value (pending or stored, as the controller applies them). The binding holds the
// control weakly and ends when either goes away.
#include <gtk/gtk.h>

#include <functional>
#include <memory>
#include <string>

#include "core/UserDefaultsController.h"

namespace wd {

class ControlBinding {
 public:
  enum class Kind {
    Text,     // a GtkEntry showing a text value
    Integer,  // a GtkEntry showing a whole number (digits only; an empty text removes the value)
    Bool,     // a GtkToggleButton
  };
  // `changed` is called after every change of the bound value (from the control or not).
  ControlBinding(GtkWidget* control, Kind kind, UserDefaultsController& controller,
                 std::string keyPath, std::function<void()> changed = {});
  ~ControlBinding();
  ControlBinding(const ControlBinding&) = delete;
  ControlBinding& operator=(const ControlBinding&) = delete;

  const std::string& keyPath() const { return keyPath_; }
  GtkWidget* control() const;
  // Shows the controller's current value in the control.
  void refresh();

 private:
  void show(const std::optional<Json>& value);
  void edited();

  Kind kind_;
  UserDefaultsController& controller_;
  std::string keyPath_;
  std::function<void()> changed_;
  GWeakRef control_;
  gulong handler_ = 0;
  bool updating_ = false;
  UserDefaultsController::Token observation_;
};

}  // namespace wd
