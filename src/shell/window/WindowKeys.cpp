#include "shell/window/WindowKeys.h"

#include <gtk/gtk.h>

namespace wd {

void closeOnEscape(GtkWindow* window, std::function<void()> close) {
  if (!window || !close) return;
  auto* handler = new std::function<void()>(std::move(close));
  g_signal_connect_data(
      window, "key-press-event",
      G_CALLBACK(+[](GtkWidget*, GdkEventKey* event, gpointer data) -> gboolean {
        const auto mods = event->state & gtk_accelerator_get_default_mod_mask();
        const bool escape = event->keyval == GDK_KEY_Escape && mods == 0;
        const bool ctrlW =
            (event->keyval == GDK_KEY_w || event->keyval == GDK_KEY_W) && mods == GDK_CONTROL_MASK;
        if (!escape && !ctrlW) return FALSE;
        (*static_cast<std::function<void()>*>(data))();
        return TRUE;
      }),
      handler, +[](gpointer data, GClosure*) { delete static_cast<std::function<void()>*>(data); },
      GConnectFlags(0));
}

}  // namespace wd
