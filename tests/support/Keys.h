#pragma once
// A key press and release delivered to a shown window through GTK's main event dispatch, so
// window groups, modal grabs, key bindings, accelerators and the focus widget all take part.
#include <gtk/gtk.h>

#include <initializer_list>

namespace wd::test {

inline void pressKey(GtkWindow* window, guint keyval,
                     GdkModifierType modifiers = GdkModifierType(0)) {
  GdkWindow* surface = gtk_widget_get_window(GTK_WIDGET(window));
  if (!surface) return;
  GdkDisplay* display = gdk_window_get_display(surface);
  g_autofree GdkKeymapKey* keys = nullptr;  // where the keyboard has the key, if anywhere
  gint n = 0;
  gdk_keymap_get_entries_for_keyval(gdk_keymap_get_for_display(display), keyval, &keys, &n);
  for (GdkEventType type : {GDK_KEY_PRESS, GDK_KEY_RELEASE}) {
    GdkEvent* event = gdk_event_new(type);
    event->key.window = GDK_WINDOW(g_object_ref(surface));
    event->key.send_event = TRUE;
    event->key.time = GDK_CURRENT_TIME;
    event->key.keyval = keyval;
    event->key.state = modifiers;
    event->key.hardware_keycode = n > 0 ? static_cast<guint16>(keys[0].keycode) : 0;
    event->key.group = n > 0 ? static_cast<guint8>(keys[0].group) : 0;
    gdk_event_set_device(event, gdk_seat_get_keyboard(gdk_display_get_default_seat(display)));
    gtk_main_do_event(event);
    gdk_event_free(event);
  }
}

}  // namespace wd::test
