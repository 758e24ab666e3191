#pragma once
// One pane of the Preferences window: its identifier, toolbar image and label, its content,
// and optional notices as it is shown and hidden.
#include <functional>
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
  // Called while the window is shown: as the pane is about to show, once it shows, and once it
  // is hidden (another pane selected, or the window closed).
  virtual void viewWillAppear() {}
  virtual void viewDidAppear() {}
  virtual void viewDidDisappear() {}
  // False keeps the pane shown (an edit that cannot be committed yet).
  virtual bool commitEditing() { return true; }
  // Asked before the window leaves the pane or closes: `proceed(true)` lets it, false keeps the
  // pane. A pane may answer later (after asking the user); it answers exactly once.
  virtual void commitEditingThen(std::function<void(bool)> proceed) { proceed(commitEditing()); }
};

}  // namespace wd
