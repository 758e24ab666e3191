#pragma once
// The General pane of the Preferences window: one check box, the developer-mode switch, bound
// to `values.MacGap_enableDeveloperMode` of the shared user-defaults controller; every click
// is stored at once (the page hears it as "userDefaultsChanged", open windows switch their web
// inspector with it).
#include <memory>

#include "core/I18n.h"
#include "shell/preferences/ControlBinding.h"
#include "shell/preferences/PreferencesPane.h"

namespace wd {

class GeneralView : public PreferencesPane {
 public:
  // `controller` must apply changes immediately (the shared one does).
  explicit GeneralView(UserDefaultsController& controller);
  ~GeneralView() override;

  std::string identifier() const override { return "General"; }
  std::string toolbarItemImage() const override { return "preferences-system"; }
  std::string toolbarItemLabel() const override { return _("General"); }
  GtkWidget* view() override;

  GtkWidget* enableDeveloperMode() const { return enableDeveloperMode_; }

 private:
  void viewDidLoad();

  UserDefaultsController& controller_;
  GtkWidget* view_ = nullptr;  // owned
  GtkWidget* enableDeveloperMode_ = nullptr;
  std::unique_ptr<ControlBinding> binding_;
};

}  // namespace wd
