#include "shell/preferences/GeneralView.h"

#include "core/I18n.h"
#include "core/Settings.h"
#include "shell/preferences/PaneLayout.h"

namespace wd {

GeneralView::GeneralView(UserDefaultsController& controller) : controller_(controller) {}

GeneralView::~GeneralView() {
  binding_.reset();
  if (view_) {
    gtk_widget_destroy(view_);
    g_object_unref(view_);
  }
}

GtkWidget* GeneralView::view() {
  if (view_) return view_;
  PaneLayout layout("GeneralView");
  view_ = layout.get<GtkWidget>("view", GTK_TYPE_BOX);
  enableDeveloperMode_ = layout.get<GtkWidget>("enableDeveloperMode", GTK_TYPE_CHECK_BUTTON);
  if (!view_ || !enableDeveloperMode_) {
    // Without its layout the pane still works: the same check box on a plain box.
    view_ = gtk_box_new(GTK_ORIENTATION_VERTICAL, 12);
    gtk_container_set_border_width(GTK_CONTAINER(view_), 24);
    enableDeveloperMode_ = gtk_check_button_new_with_mnemonic(_("Enable _developer mode"));
    gtk_box_pack_start(GTK_BOX(view_), enableDeveloperMode_, FALSE, FALSE, 0);
    gtk_widget_show_all(view_);
  }
  g_object_ref_sink(view_);
  viewDidLoad();
  return view_;
}

void GeneralView::viewDidLoad() {
  binding_ =
      std::make_unique<ControlBinding>(enableDeveloperMode_, ControlBinding::Kind::Bool,
                                       controller_, Settings::bind(Settings::kEnableDeveloperMode));
}

}  // namespace wd
