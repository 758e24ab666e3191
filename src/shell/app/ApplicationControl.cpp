#include "shell/app/ApplicationControl.h"

#include <gtk/gtk.h>

#include <vector>

namespace wd {

struct GtkApplicationControl::Hidden {
  std::vector<GtkWindow*> windows;  // weak pointers, cleared when a window goes
  static void forget(gpointer data, GObject* gone) {
    auto* self = static_cast<Hidden*>(data);
    std::erase(self->windows, reinterpret_cast<GtkWindow*>(gone));
  }
  void clear() {
    for (GtkWindow* w : windows) g_object_weak_unref(G_OBJECT(w), forget, this);
    windows.clear();
  }
};

// The window whose urgency hint is set, and the timer that clears it: an informational request
// that ends by itself.
struct GtkApplicationControl::Attention {
  GtkWindow* window = nullptr;  // weak
  guint timer = 0;
  static void forget(gpointer data, GObject*) {
    auto* self = static_cast<Attention*>(data);
    self->window = nullptr;
    self->stop();
  }
  void stop() {
    if (timer) g_source_remove(timer);
    timer = 0;
    if (window) g_object_weak_unref(G_OBJECT(window), forget, this);
    window = nullptr;
  }
  void start(GtkWindow* target) {
    stop();
    window = target;
    g_object_weak_ref(G_OBJECT(window), forget, this);
    gtk_window_set_urgency_hint(window, TRUE);
    timer = g_timeout_add_seconds(
        kAttentionSeconds,
        +[](gpointer data) -> gboolean {
          auto* self = static_cast<Attention*>(data);
          self->timer = 0;
          if (self->window) gtk_window_set_urgency_hint(self->window, FALSE);
          self->stop();
          return G_SOURCE_REMOVE;
        },
        this);
  }
};

GtkApplicationControl::GtkApplicationControl(GtkApplication* app)
    : app_(app), attention_(std::make_unique<Attention>()), hidden_(std::make_unique<Hidden>()) {}

GtkApplicationControl::~GtkApplicationControl() {
  attention_->stop();
  hidden_->clear();
}

void GtkApplicationControl::terminate() {
  g_application_quit(G_APPLICATION(app_));
}

void GtkApplicationControl::activate() {
  if (!hidden_->windows.empty()) unhide();
  // The list is ordered by last focus: the first visible window is the front one.
  for (GList* l = gtk_application_get_windows(app_); l; l = l->next) {
    GtkWindow* w = GTK_WINDOW(l->data);
    if (gtk_widget_get_visible(GTK_WIDGET(w))) {
      gtk_window_present(w);
      gtk_window_set_urgency_hint(w, FALSE);
      return;
    }
  }
  if (mainWindow_) {
    gtk_window_present(mainWindow_);
    gtk_window_set_urgency_hint(mainWindow_, FALSE);
  }
}

void GtkApplicationControl::hide() {
  for (GList* l = gtk_application_get_windows(app_); l; l = l->next) {
    GtkWindow* w = GTK_WINDOW(l->data);
    if (!gtk_widget_get_visible(GTK_WIDGET(w))) continue;
    gtk_widget_hide(GTK_WIDGET(w));
    g_object_weak_ref(G_OBJECT(w), Hidden::forget, hidden_.get());
    hidden_->windows.push_back(w);
  }
}

void GtkApplicationControl::unhide() {
  auto windows = hidden_->windows;
  hidden_->clear();
  for (GtkWindow* w : windows) gtk_widget_show(GTK_WIDGET(w));
}

void GtkApplicationControl::beep() {
  if (GdkDisplay* display = gdk_display_get_default()) gdk_display_beep(display);
}

void GtkApplicationControl::requestUserAttention() {
  GtkWindow* target = mainWindow_;
  if (!target) {
    GList* windows = gtk_application_get_windows(app_);
    if (windows) target = GTK_WINDOW(windows->data);
  }
  // A brief request: the hint is cleared after a moment, or earlier when a window of the
  // application is focused (activate and the focus handler the application installs).
  if (target && !gtk_window_is_active(target)) attention_->start(target);
}

bool GtkApplicationControl::hasVisibleWindows() const {
  for (GList* l = gtk_application_get_windows(app_); l; l = l->next)
    if (gtk_widget_get_visible(GTK_WIDGET(l->data))) return true;
  return false;
}

}  // namespace wd
