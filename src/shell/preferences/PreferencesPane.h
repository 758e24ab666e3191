#pragma once
// One pane of the Preferences window: its identifier, toolbar image and label, its content,
// and optional notices as it is shown and hidden.
#include <string>

typedef struct _GtkWidget GtkWidget;

namespace wd {

class PreferencesPane {
 public:
  virtual ~PreferencesPane() = default;
  virtual std::string identifier() const = 0;
  virtual std::string toolbarItemImage() const = 0;  // an icon name
  virtual std::string toolbarItemLabel() const = 0;
  // The pane's content, made on first use and owned by the pane.
  virtual GtkWidget* view() = 0;
  virtual void viewWillAppear() {}
  virtual void viewDidAppear() {}
  virtual void viewDidDisappear() {}
  // False keeps the pane shown (an edit that cannot be committed yet).
  virtual bool commitEditing() { return true; }
};

}  // namespace wd
