/* The reference point of the start-up benchmark: the least a WebKitGTK application does to show
 * a page. One GtkWindow (the application's default size) holding one WebKitWebView with the
 * default web context, loading the URI given as the only argument. The benchmark's page sets its
 * title to "wd-bench-loaded" from its first script after load; this program ends as soon as it
 * sees that title, which is the same moment the application ends on MacGap.terminate(). */
#include <gtk/gtk.h>
#include <webkit2/webkit2.h>

static const char kLoadedTitle[] = "wd-bench-loaded";

static void on_title(WebKitWebView* view, GParamSpec* pspec, gpointer data) {
  (void)pspec;
  (void)data;
  const gchar* title = webkit_web_view_get_title(view);
  if (title && g_str_equal(title, kLoadedTitle)) gtk_main_quit();
}

int main(int argc, char** argv) {
  gtk_init(&argc, &argv);
  if (argc != 2) {
    g_printerr("usage: %s URI\n", argv[0]);
    return 64;
  }
  GtkWidget* window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
  gtk_window_set_default_size(GTK_WINDOW(window), 1180, 780);
  GtkWidget* view = webkit_web_view_new();
  gtk_container_add(GTK_CONTAINER(window), view);
  g_signal_connect(view, "notify::title", G_CALLBACK(on_title), NULL);
  g_signal_connect(window, "destroy", G_CALLBACK(gtk_main_quit), NULL);
  webkit_web_view_load_uri(WEBKIT_WEB_VIEW(view), argv[1]);
  gtk_widget_show_all(window);
  gtk_main();
  return 0;
}
