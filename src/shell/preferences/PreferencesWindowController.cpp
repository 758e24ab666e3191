#include "shell/preferences/PreferencesWindowController.h"

#include <gtk/gtk.h>
#include "core/I18n.h"

#include "core/I18n.h"
#include "shell/window/WindowKeys.h"

namespace wd {

namespace {

class PlaceholderPane : public PreferencesPane {
 public:
  PlaceholderPane(std::string id, std::string label, std::string icon)
      : id_(std::move(id)), label_(std::move(label)), icon_(std::move(icon)) {}
  ~PlaceholderPane() override {
    if (view_) g_object_unref(view_);
  }
  std::string identifier() const override { return id_; }
  std::string toolbarItemImage() const override { return icon_; }
  std::string toolbarItemLabel() const override { return label_; }
  GtkWidget* view() override {
    if (!view_) {
      view_ = gtk_label_new(_("These settings arrive with a later version."));
      gtk_widget_set_margin_top(view_, 48);
      gtk_widget_set_margin_bottom(view_, 48);
      gtk_widget_set_margin_start(view_, 48);
      gtk_widget_set_margin_end(view_, 48);
      gtk_widget_show(view_);
      g_object_ref_sink(view_);
    }
    return view_;
  }

 private:
  std::string id_, label_, icon_;
  GtkWidget* view_ = nullptr;
};

}  // namespace

std::unique_ptr<PreferencesPane> PreferencesWindowController::placeholderPane(
    std::string identifier, std::string label, std::string icon) {
  return std::make_unique<PlaceholderPane>(std::move(identifier), std::move(label),
                                           std::move(icon));
}

PreferencesWindowController::PreferencesWindowController(std::string title)
    : title_(std::move(title)) {}

PreferencesWindowController::~PreferencesWindowController() {
  *alive_ = false;
  if (window_) {
    // Pane views belong to their panes: take them out before the window goes.
    if (stack_)
      for (auto& pane : panes_)
        if (GtkWidget* v = pane->view(); v && gtk_widget_get_parent(v) == stack_)
          gtk_container_remove(GTK_CONTAINER(stack_), v);
    gtk_widget_destroy(window_);
    g_object_unref(window_);
  }
}

GtkWindow* PreferencesWindowController::window() {
  if (!window_) build();
  return GTK_WINDOW(window_);
}

bool PreferencesWindowController::isVisible() const {
  return window_ && gtk_widget_get_visible(window_);
}

void PreferencesWindowController::addViewController(std::unique_ptr<PreferencesPane> pane) {
  if (!pane) return;
  panes_.push_back(std::move(pane));
  if (window_) {
    // Added after the window exists: rebuild its toolbar and stack.
    const bool shown = isVisible();
    if (stack_)
      for (auto& p : panes_)
        if (GtkWidget* v = p->view(); v && gtk_widget_get_parent(v) == stack_)
          gtk_container_remove(GTK_CONTAINER(stack_), v);
    gtk_widget_destroy(window_);
    g_object_unref(window_);
    window_ = nullptr;
    buttons_.clear();
    build();
    if (shown) gtk_window_present(GTK_WINDOW(window_));
  }
}

void PreferencesWindowController::build() {
  window_ = gtk_window_new(GTK_WINDOW_TOPLEVEL);
  g_object_ref_sink(window_);
  gtk_window_set_title(GTK_WINDOW(window_), title_.c_str());
  gtk_window_set_resizable(GTK_WINDOW(window_), FALSE);
  gtk_window_set_type_hint(GTK_WINDOW(window_), GDK_WINDOW_TYPE_HINT_DIALOG);
  // Closing asks the pane, then hides the window; it is kept for the rest of the process.
  g_signal_connect(window_, "delete-event",
                   G_CALLBACK(+[](GtkWidget*, GdkEvent*, gpointer self) -> gboolean {
                     static_cast<PreferencesWindowController*>(self)->performClose();
                     return TRUE;
                   }),
                   this);
  closeOnEscape(GTK_WINDOW(window_), [this] { performClose(); });
  // Its own group: modality of its sheet stays within this window.
  GtkWindowGroup* group = gtk_window_group_new();
  gtk_window_group_add_window(group, GTK_WINDOW(window_));
  g_object_unref(group);
  if (GApplication* app = g_application_get_default(); app && GTK_IS_APPLICATION(app))
    gtk_window_set_application(GTK_WINDOW(window_), GTK_APPLICATION(app));

  GtkWidget* box = gtk_box_new(GTK_ORIENTATION_VERTICAL, 0);
  toolbar_ = gtk_toolbar_new();
  gtk_toolbar_set_style(GTK_TOOLBAR(toolbar_), GTK_TOOLBAR_BOTH);
  gtk_style_context_add_class(gtk_widget_get_style_context(toolbar_), "primary-toolbar");
  stack_ = gtk_stack_new();
  gtk_stack_set_transition_type(GTK_STACK(stack_), GTK_STACK_TRANSITION_TYPE_CROSSFADE);
  gtk_box_pack_start(GTK_BOX(box), toolbar_, FALSE, FALSE, 0);
  gtk_box_pack_start(GTK_BOX(box), stack_, TRUE, TRUE, 0);
  gtk_container_add(GTK_CONTAINER(window_), box);

  for (std::size_t i = 0; i < panes_.size(); ++i) {
    auto& pane = panes_[i];
    GtkToolItem* item = gtk_toggle_tool_button_new();
    gtk_tool_button_set_label(GTK_TOOL_BUTTON(item), pane->toolbarItemLabel().c_str());
    gtk_tool_button_set_icon_name(GTK_TOOL_BUTTON(item), pane->toolbarItemImage().c_str());
    g_object_set_data(G_OBJECT(item), "wd-pane-index", GSIZE_TO_POINTER(i));
    g_signal_connect(item, "toggled", G_CALLBACK(+[](GtkToggleToolButton* b, gpointer self) {
                       auto* me = static_cast<PreferencesWindowController*>(self);
                       if (me->updatingButtons_) return;
                       auto index =
                           GPOINTER_TO_SIZE(g_object_get_data(G_OBJECT(b), "wd-pane-index"));
                       me->select(index);
                     }),
                     this);
    gtk_toolbar_insert(GTK_TOOLBAR(toolbar_), item, -1);
    buttons_.push_back(GTK_WIDGET(item));
    GtkWidget* view = pane->view();
    if (GtkWidget* parent = view ? gtk_widget_get_parent(view) : nullptr)
      gtk_container_remove(GTK_CONTAINER(parent), view);
    if (view) gtk_stack_add_named(GTK_STACK(stack_), view, pane->identifier().c_str());
  }
  gtk_widget_show_all(box);
  if (!panes_.empty()) {
    if (!hasSelection_ || selected_ >= panes_.size()) selected_ = 0;
    hasSelection_ = true;
    gtk_stack_set_visible_child_name(GTK_STACK(stack_), panes_[selected_]->identifier().c_str());
  }
  updateButtons();
}

void PreferencesWindowController::updateButtons() {
  updatingButtons_ = true;
  for (std::size_t i = 0; i < buttons_.size(); ++i)
    gtk_toggle_tool_button_set_active(GTK_TOGGLE_TOOL_BUTTON(buttons_[i]),
                                      hasSelection_ && i == selected_);
  updatingButtons_ = false;
}

void PreferencesWindowController::select(std::size_t index) {
  if (index >= panes_.size()) return;
  if (!hasSelection_ || index == selected_ || !isVisible()) {
    switchTo(index);
    return;
  }
  // The toolbar keeps showing the current pane until it lets go.
  updateButtons();
  if (committing_) return;
  committing_ = true;
  std::weak_ptr<bool> alive = alive_;
  panes_[selected_]->commitEditingThen([this, alive, index](bool proceed) {
    auto live = alive.lock();
    if (!live || !*live) return;
    committing_ = false;
    if (proceed) switchTo(index);
  });
}

void PreferencesWindowController::switchTo(std::size_t index) {
  const bool shown = isVisible();
  const bool changed = !hasSelection_ || index != selected_;
  if (changed && hasSelection_ && shown) panes_[selected_]->viewDidDisappear();
  if (changed && shown) panes_[index]->viewWillAppear();
  selected_ = index;
  hasSelection_ = true;
  if (stack_)
    gtk_stack_set_visible_child_name(GTK_STACK(stack_), panes_[index]->identifier().c_str());
  updateButtons();
  if (changed && shown) panes_[index]->viewDidAppear();
}

void PreferencesWindowController::showWindow() {
  if (!window_) build();
  const bool wasShown = isVisible();
  gtk_window_present(GTK_WINDOW(window_));
  if (!wasShown && hasSelection_ && selected_ < panes_.size()) {
    panes_[selected_]->viewWillAppear();
    panes_[selected_]->viewDidAppear();
  }
}

void PreferencesWindowController::performClose(std::function<void(bool)> done) {
  if (!isVisible() || !hasSelection_ || selected_ >= panes_.size()) {
    close();
    if (done) done(true);
    return;
  }
  if (committing_) {
    if (done) done(false);
    return;
  }
  committing_ = true;
  std::weak_ptr<bool> alive = alive_;
  panes_[selected_]->commitEditingThen([this, alive, done = std::move(done)](bool proceed) {
    auto live = alive.lock();
    if (!live || !*live) return;
    committing_ = false;
    if (proceed) close();
    if (done) done(proceed);
  });
}

void PreferencesWindowController::close() {
  if (!isVisible()) return;
  gtk_widget_hide(window_);
  if (hasSelection_ && selected_ < panes_.size()) panes_[selected_]->viewDidDisappear();
}

bool PreferencesWindowController::selectControllerWithIdentifier(const std::string& identifier) {
  for (std::size_t i = 0; i < panes_.size(); ++i) {
    if (panes_[i]->identifier() != identifier) continue;
    if (!window_) build();
    select(i);
    return selected_ == i;
  }
  return false;
}

std::string PreferencesWindowController::selectedIdentifier() const {
  return hasSelection_ && selected_ < panes_.size() ? panes_[selected_]->identifier()
                                                    : std::string{};
}

}  // namespace wd
