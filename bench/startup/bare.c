/* The reference point of the start-up benchmark: the least a WebKitGTK application does to show
 * a page. One GtkWindow (the application's default size) holding one WebKitWebView with the
 * default web context, loading the URI given as the last argument; with "--sandbox" first, the
 * context runs its web process in the engine's sandbox (the caller knows it can start). The benchmark's page sets its
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
  const gboolean sandbox = argc == 3 && g_str_equal(argv[1], "--sandbox");
  if (argc != 2 && !sandbox) {
    g_printerr("usage: %s [--sandbox] URI\n", argv[0]);
    return 64;
  }
  if (sandbox) {
    /* As the application does: the sandbox on, with read access to the page's folder. */
    WebKitWebContext* context = webkit_web_context_get_default();
    gchar* file = g_filename_from_uri(argv[argc - 1], NULL, NULL);
    webkit_web_context_set_sandbox_enabled(context, TRUE);
    if (file) {
      gchar* folder = g_path_get_dirname(file);
      webkit_web_context_add_path_to_sandbox(context, folder, TRUE);
      g_free(folder);
      g_free(file);
    }
  }
  GtkWidget* window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
  gtk_window_set_default_size(GTK_WINDOW(window), 1180, 780);
  GtkWidget* view = webkit_web_view_new();
  gtk_container_add(GTK_CONTAINER(window), view);
  g_signal_connect(view, "notify::title", G_CALLBACK(on_title), NULL);
  g_signal_connect(window, "destroy", G_CALLBACK(gtk_main_quit), NULL);
  webkit_web_view_load_uri(WEBKIT_WEB_VIEW(view), argv[argc - 1]);
  gtk_widget_show_all(window);
  gtk_main();
  return 0;
}
