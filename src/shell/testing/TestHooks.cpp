#include "shell/testing/TestHooks.h"

#include <gio/gio.h>
#include <gtk/gtk.h>
#include <webkit2/webkit2.h>

#include <cstring>

#include "bridge/ScriptPage.h"
#include "shell/app/AppDelegate.h"
#include "shell/window/WindowController.h"

namespace wd {

namespace {

constexpr const char* kIntrospection = R"(
<node>
  <interface name="com.tovik.WendrelDesktop.Test">
    <method name="EvaluateScript"><arg type="s" name="script" direction="in"/></method>
    <method name="EvaluateScriptInChild">
      <arg type="i" name="index" direction="in"/>
      <arg type="s" name="script" direction="in"/>
    </method>
    <method name="CloseMainWindow"/>
    <method name="CloseChild"><arg type="i" name="index" direction="in"/></method>
    <method name="PressRecoveryReload"/>
    <method name="State"><arg type="a{sv}" name="state" direction="out"/></method>
  </interface>
</node>)";

// The text of the main window's "page stopped" info bar while it is shown, else "".
std::string recoveryReason(WebWindow* w) {
  auto* controller = dynamic_cast<WindowController*>(w);
  GtkWidget* bar = controller ? controller->recoveryBar() : nullptr;
  if (!bar || !gtk_widget_get_visible(bar)) return "";
  GList* children =
      gtk_container_get_children(GTK_CONTAINER(gtk_info_bar_get_content_area(GTK_INFO_BAR(bar))));
  std::string text =
      children && GTK_IS_LABEL(children->data) ? gtk_label_get_text(GTK_LABEL(children->data)) : "";
  g_list_free(children);
  return text;
}

std::string titleOf(WebWindow* w) {
  WebKitWebView* view = w ? w->webKitWebView() : nullptr;
  const char* title = view ? webkit_web_view_get_title(view) : nullptr;
  return title ? title : "";
}

void onMethodCall(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar* method,
                  GVariant* parameters, GDBusMethodInvocation* invocation, gpointer data) {
  AppDelegate* app = static_cast<AppDelegate*>(data);
  WebWindow* main = app && app->mainWindowController()
                        ? app->mainWindowController()->windowController().get()
                        : nullptr;
  if (g_strcmp0(method, "EvaluateScript") == 0) {
    const gchar* script = nullptr;
    g_variant_get(parameters, "(&s)", &script);
    if (main && main->scriptPage()) main->scriptPage()->evaluateScript(script);
  } else if (g_strcmp0(method, "EvaluateScriptInChild") == 0) {
    gint32 index = 0;
    const gchar* script = nullptr;
    g_variant_get(parameters, "(i&s)", &index, &script);
    if (app && index >= 0 && static_cast<size_t>(index) < app->childWindowControllers().size()) {
      auto& child = app->childWindowControllers()[static_cast<size_t>(index)];
      if (WebKitWebView* view = child->webKitWebView())
        webkit_web_view_evaluate_javascript(view, script, -1, nullptr, nullptr, nullptr, nullptr,
                                            nullptr);
    }
  } else if (g_strcmp0(method, "CloseMainWindow") == 0) {
    if (main) main->performClose();
  } else if (g_strcmp0(method, "CloseChild") == 0) {
    gint32 index = 0;
    g_variant_get(parameters, "(i)", &index);
    if (app && index >= 0 && static_cast<size_t>(index) < app->childWindowControllers().size())
      app->childWindowControllers()[static_cast<size_t>(index)]->performClose();
  } else if (g_strcmp0(method, "PressRecoveryReload") == 0) {
    auto* controller = dynamic_cast<WindowController*>(main);
    if (GtkWidget* bar = controller ? controller->recoveryBar() : nullptr)
      gtk_info_bar_response(GTK_INFO_BAR(bar), GTK_RESPONSE_ACCEPT);
  } else if (g_strcmp0(method, "State") == 0) {
    GVariantBuilder b;
    g_variant_builder_init(&b, G_VARIANT_TYPE("a{sv}"));
    g_variant_builder_add(&b, "{sv}", "mainVisible",
                          g_variant_new_boolean(main && main->isVisible()));
    GtkWindow* mainWindow = main ? main->gtkWindow() : nullptr;
    g_variant_builder_add(&b, "{sv}", "mainActive",
                          g_variant_new_boolean(mainWindow && gtk_window_is_active(mainWindow)));
    g_variant_builder_add(&b, "{sv}", "mainTitle", g_variant_new_string(titleOf(main).c_str()));
    g_variant_builder_add(&b, "{sv}", "recoveryReason",
                          g_variant_new_string(recoveryReason(main).c_str()));
    GVariantBuilder titles;
    g_variant_builder_init(&titles, G_VARIANT_TYPE("as"));
    int children = 0;
    if (app)
      for (auto& child : app->childWindowControllers()) {
        g_variant_builder_add(&titles, "s", titleOf(child.get()).c_str());
        ++children;
      }
    g_variant_builder_add(&b, "{sv}", "children", g_variant_new_int32(children));
    g_variant_builder_add(&b, "{sv}", "childTitles", g_variant_builder_end(&titles));
    int windows = 0;
    if (GApplication* gapp = g_application_get_default(); gapp && GTK_IS_APPLICATION(gapp))
      windows = static_cast<int>(g_list_length(gtk_application_get_windows(GTK_APPLICATION(gapp))));
    g_variant_builder_add(&b, "{sv}", "windows", g_variant_new_int32(windows));
    // Every visible top-level window by title (Preferences and dialogs are not the
    // application's windows).
    GVariantBuilder shown;
    g_variant_builder_init(&shown, G_VARIANT_TYPE("as"));
    GList* toplevels = gtk_window_list_toplevels();
    for (GList* l = toplevels; l; l = l->next) {
      if (!gtk_widget_get_visible(GTK_WIDGET(l->data))) continue;
      const gchar* title = gtk_window_get_title(GTK_WINDOW(l->data));
      g_variant_builder_add(&shown, "s", title ? title : "");
    }
    g_list_free(toplevels);
    g_variant_builder_add(&b, "{sv}", "visibleTitles", g_variant_builder_end(&shown));
    g_dbus_method_invocation_return_value(invocation, g_variant_new("(a{sv})", &b));
    return;
  }
  g_dbus_method_invocation_return_value(invocation, nullptr);
}

}  // namespace

bool TestHooks::enabled() {
  const char* v = g_getenv("WD_TEST_HOOKS");
  return v && std::strcmp(v, "1") == 0;
}

TestHooks::TestHooks(GDBusConnection* connection, AppDelegate& delegate) : connection_(connection) {
  if (!connection_) return;
  g_object_ref(connection_);
  GDBusNodeInfo* node = g_dbus_node_info_new_for_xml(kIntrospection, nullptr);
  static const GDBusInterfaceVTable vtable = {onMethodCall, nullptr, nullptr, {}};
  registration_ =
      g_dbus_connection_register_object(connection_, "/com/tovik/WendrelDesktop/Test",
                                        node->interfaces[0], &vtable, &delegate, nullptr, nullptr);
  g_dbus_node_info_unref(node);
}

TestHooks::~TestHooks() {
  if (!connection_) return;
  if (registration_) g_dbus_connection_unregister_object(connection_, registration_);
  g_object_unref(connection_);
}

}  // namespace wd
