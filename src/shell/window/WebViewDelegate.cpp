#include "shell/window/WebViewDelegate.h"

#include <gtk/gtk.h>
#include <gtk/gtkunixprint.h>
#include <webkit2/webkit2.h>

#include "bridge/BridgeHost.h"
#include "bridge/ScriptObjectRegistry.h"
#include "core/Bundle.h"
#include "core/I18n.h"
#include "core/Log.h"
#include "shell/ShellContext.h"
#include "shell/window/ContextMenuFilter.h"
#include "shell/window/FileDropTarget.h"
#include "shell/window/NavigationDelegate.h"
#include "shell/window/WindowController.h"
#include "shell/window/WindowHost.h"

namespace wd {

namespace {

using Alive = std::shared_ptr<WebViewDelegate*>;

// The print settings shared by every print of the process (the last ones chosen).
GtkPrintSettings*& sharedPrintSettings() {
  static GtkPrintSettings* settings = nullptr;
  return settings;
}
GtkPageSetup*& sharedPageSetup() {
  static GtkPageSetup* setup = nullptr;
  return setup;
}

GtkWindow* toplevelOf(WebKitWebView* view) {
  GtkWidget* top = view ? gtk_widget_get_toplevel(GTK_WIDGET(view)) : nullptr;
  return top && GTK_IS_WINDOW(top) ? GTK_WINDOW(top) : nullptr;
}

// --- alert and confirm, answered without blocking the main loop ---------------------------

struct DialogContext {
  WebKitScriptDialog* dialog;
};

gboolean onScriptDialog(WebKitWebView* view, WebKitScriptDialog* dialog, gpointer) {
  const auto type = webkit_script_dialog_get_dialog_type(dialog);
  if (type != WEBKIT_SCRIPT_DIALOG_ALERT && type != WEBKIT_SCRIPT_DIALOG_CONFIRM) return FALSE;
  GtkWidget* alert =
      gtk_message_dialog_new(toplevelOf(view), GTK_DIALOG_DESTROY_WITH_PARENT, GTK_MESSAGE_WARNING,
                             GTK_BUTTONS_NONE, "%s", webkit_script_dialog_get_message(dialog));
  if (type == WEBKIT_SCRIPT_DIALOG_ALERT) {
    gtk_dialog_add_button(GTK_DIALOG(alert), _("_OK"), GTK_RESPONSE_OK);
    gtk_dialog_set_default_response(GTK_DIALOG(alert), GTK_RESPONSE_OK);
  } else {
    gtk_dialog_add_button(GTK_DIALOG(alert), _("_Yes"), GTK_RESPONSE_YES);
    gtk_dialog_add_button(GTK_DIALOG(alert), _("_No"), GTK_RESPONSE_NO);
    gtk_dialog_set_default_response(GTK_DIALOG(alert), GTK_RESPONSE_YES);
  }
  gtk_window_set_title(GTK_WINDOW(alert), Bundle::main().name().c_str());
  gtk_window_set_modal(GTK_WINDOW(alert), TRUE);
  gtk_widget_set_name(alert, "wd-script-dialog");
  auto* ctx = new DialogContext{webkit_script_dialog_ref(dialog)};
  g_signal_connect_data(
      alert, "response", G_CALLBACK(+[](GtkDialog* d, gint response, gpointer data) {
        auto* c = static_cast<DialogContext*>(data);
        if (c->dialog) {
          if (webkit_script_dialog_get_dialog_type(c->dialog) == WEBKIT_SCRIPT_DIALOG_CONFIRM)
            webkit_script_dialog_confirm_set_confirmed(c->dialog, response == GTK_RESPONSE_YES);
          webkit_script_dialog_close(c->dialog);
          webkit_script_dialog_unref(c->dialog);
          c->dialog = nullptr;
        }
        gtk_widget_destroy(GTK_WIDGET(d));
      }),
      ctx,
      +[](gpointer data, GClosure*) {
        auto* c = static_cast<DialogContext*>(data);
        if (c->dialog) {
          // Closed without an answer (window gone): a confirm answers false.
          webkit_script_dialog_close(c->dialog);
          webkit_script_dialog_unref(c->dialog);
        }
        delete c;
      },
      GConnectFlags(0));
  gtk_widget_show(alert);
  return TRUE;
}

// --- file input: one file, chosen without blocking ------------------------------------------

void onFileChosen(GtkNativeDialog* d, gint response, gpointer data) {
  auto* req = static_cast<WebKitFileChooserRequest*>(data);
  gchar* file = nullptr;
  if (response == GTK_RESPONSE_ACCEPT) file = gtk_file_chooser_get_filename(GTK_FILE_CHOOSER(d));
  if (file) {
    const gchar* files[] = {file, nullptr};
    webkit_file_chooser_request_select_files(req, files);
    g_free(file);
  } else {
    webkit_file_chooser_request_cancel(req);
  }
  g_object_unref(req);
  g_object_unref(d);
}

gboolean onFileChooser(WebKitWebView* view, WebKitFileChooserRequest* request, gpointer) {
  GtkFileChooserNative* chooser = gtk_file_chooser_native_new(
      _("Open File"), toplevelOf(view), GTK_FILE_CHOOSER_ACTION_OPEN, _("_Open"), _("_Cancel"));
  gtk_file_chooser_set_select_multiple(GTK_FILE_CHOOSER(chooser), FALSE);
  gtk_native_dialog_set_modal(GTK_NATIVE_DIALOG(chooser), TRUE);
  g_object_ref(request);
  g_signal_connect(chooser, "response", G_CALLBACK(onFileChosen), request);
  gtk_native_dialog_show(GTK_NATIVE_DIALOG(chooser));
  return TRUE;
}

gboolean onContextMenu(WebKitWebView* view, WebKitContextMenu* menu, GdkEvent*,
                       WebKitHitTestResult* hit, gpointer) {
  filterContextMenu(menu);
  if (hit && webkit_hit_test_result_context_is_link(hit))
    routeOpenLink(menu, view, webkit_hit_test_result_get_link_uri(hit));
  return FALSE;
}

// --- files dropped on the page -------------------------------------------------------------

// The engine asks for a drag's data while the pointer moves over the page, not only when the
// user drops: data is kept as pending and becomes a drop only on "drag-drop" of the same drag
// (or, when the drop comes first, when its data arrives).
void onDragDataReceived(GtkWidget*, GdkDragContext* context, gint, gint, GtkSelectionData* data,
                        guint, guint, gpointer self) {
  gchar** uris = data ? gtk_selection_data_get_uris(data) : nullptr;
  if (!uris) return;
  std::vector<std::string> paths;
  for (gchar** u = uris; *u; ++u) {
    gchar* path = g_filename_from_uri(*u, nullptr, nullptr);
    if (path) paths.emplace_back(path);
    g_free(path);
  }
  g_strfreev(uris);
  auto* alive = static_cast<Alive*>(self);
  if (!paths.empty() && **alive) (**alive)->dragDataArrived(context, std::move(paths));
}

gboolean onDragDrop(GtkWidget*, GdkDragContext* context, gint, gint, guint, gpointer self) {
  auto* alive = static_cast<Alive*>(self);
  if (**alive) (**alive)->dragDropped(context);
  return FALSE;  // the engine handles the drop as well
}

}  // namespace

bridge::EventSource WebViewDelegate::pageEventSource() {
  return {"Events of every window's page",
          "Raised on the `document` of a window's page at once.",
          {{"MacGap.load.complete", "{}",
            "A frame of the page (the main frame or an inner one) finished loading."}}};
}

WebViewDelegate::WebViewDelegate(const WindowEnvironment& env,
                                 std::weak_ptr<WindowController> windowController,
                                 WebKitWebView* webView)
    : env_(env),
      windowController_(std::move(windowController)),
      webView_(webView),
      alive_(std::make_shared<WebViewDelegate*>(this)) {
  attachBridge();
  navigation_ = std::make_unique<NavigationDelegate>(env_, windowController_, webView_);
  connectSignals();
}

void WebViewDelegate::attachBridge() {
  std::weak_ptr<WebViewDelegate*> weak = alive_;
  page_ = env_.context.bridgeHost().attachWebView(
      webView_,
      [weak](const std::string& url) -> std::optional<bridge::InstallSet> {
        auto self = weak.lock();
        if (!self || !*self) return std::nullopt;
        return (*self)->installSet(url);
      },
      [weak](bool, const std::string&) {
        auto self = weak.lock();
        if (!self || !*self) return;
        auto window = (*self)->windowController_.lock();
        if (window) window->pageEvents().raise("MacGap.load.complete", Json::object());
      });
}

void WebViewDelegate::renewBridge() {
  if (webView_) attachBridge();
}

WebViewDelegate::~WebViewDelegate() {
  detach();
}

void WebViewDelegate::makeRootObject() {
  if (root_) return;
  auto window = windowController_.lock();
  if (window && env_.makeRoot) root_ = env_.makeRoot(window);
}

std::optional<bridge::InstallSet> WebViewDelegate::installSet(const std::string&) {
  auto window = windowController_.lock();
  makeRootObject();
  if (!root_) return std::nullopt;
  if (!pluginsMade_ && window) {
    pluginsMade_ = true;
    auto& registry = env_.context.scriptClasses();
    windowObject_ = registry.create("Window", window);
    menuObject_ = registry.create("Menu", window);
    for (const auto& name : window->pluginNames()) {
      auto object = registry.create(name, window);
      if (object) plugins_.emplace_back(name, std::move(object));
    }
  }
  bridge::InstallSet set;
  set.root = root_;
  if (windowObject_) set.members.emplace_back("Window", windowObject_);
  if (menuObject_) set.members.emplace_back("Menu", menuObject_);
  for (const auto& [name, object] : plugins_) set.members.emplace_back(name, object);
  return set;
}

void WebViewDelegate::filesDropped(const std::vector<std::string>& paths) {
  makeRootObject();
  if (auto* target = dynamic_cast<FileDropTarget*>(root_.get())) target->addFiles(paths);
}

void WebViewDelegate::dragDataArrived(const void* drag, std::vector<std::string> paths) {
  if (dropWaiting_ && drag == dropDrag_) {
    dropWaiting_ = false;
    filesDropped(paths);
    return;
  }
  pendingDrop_ = std::move(paths);
  pendingDrag_ = drag;
}

void WebViewDelegate::dragDropped(const void* drag) {
  if (!pendingDrop_.empty() && drag == pendingDrag_) {
    auto paths = std::move(pendingDrop_);
    pendingDrop_.clear();
    filesDropped(paths);
    return;
  }
  dropWaiting_ = true;
  dropDrag_ = drag;
}

void WebViewDelegate::connectSignals() {
  auto* alive = new Alive(alive_);
  auto add = [this](unsigned long id) { handlers_.push_back(id); };
  add(g_signal_connect(webView_, "script-dialog", G_CALLBACK(onScriptDialog), nullptr));
  add(g_signal_connect(webView_, "run-file-chooser", G_CALLBACK(onFileChooser), nullptr));
  add(g_signal_connect(webView_, "context-menu", G_CALLBACK(onContextMenu), nullptr));
  add(g_signal_connect_data(
      webView_, "drag-data-received", G_CALLBACK(onDragDataReceived), alive,
      +[](gpointer data, GClosure*) { delete static_cast<Alive*>(data); }, GConnectFlags(0)));
  add(g_signal_connect_data(
      webView_, "drag-drop", G_CALLBACK(onDragDrop), new Alive(alive_),
      +[](gpointer data, GClosure*) { delete static_cast<Alive*>(data); }, GConnectFlags(0)));
  // window.print(): the page's print dialog.
  add(g_signal_connect(webView_, "print",
                       G_CALLBACK(+[](WebKitWebView*, WebKitPrintOperation* op, gpointer self) {
                         static_cast<WebViewDelegate*>(self)->print(op);
                         return TRUE;
                       }),
                       this));
  // window.open(): a secondary window whose view is related to this one. A link or form that
  // targets a new window opens in the default browser instead.
  add(g_signal_connect(webView_, "create",
                       G_CALLBACK(+[](WebKitWebView* view, WebKitNavigationAction* action,
                                      gpointer self) -> GtkWidget* {
                         auto* me = static_cast<WebViewDelegate*>(self);
                         if (me->navigation_ && me->navigation_->newWindowOpenedInBrowser(action))
                           return nullptr;
                         const WindowEnvironment& env = me->env_;
                         if (!env.host.mayOpenChildWindow()) {
                           WD_LOG_INFO("window.open() refused: {} secondary windows are open",
                                       WindowHost::kMaxChildWindows);
                           return nullptr;
                         }
                         auto child = WindowController::initWithRelatedView(env, view);
                         env.host.registerChildController(child);
                         me->opened_ = child;
                         return GTK_WIDGET(child->webView());
                       }),
                       this));
  // The page's new window is ready: show it, with the size the page asked for (and then what
  // the opener's native side asked for, e.g. MacGap.DesktopCommand.openChild's frame).
  add(g_signal_connect(webView_, "ready-to-show",
                       G_CALLBACK(+[](WebKitWebView* view, gpointer self) {
                         auto* me = static_cast<WebViewDelegate*>(self);
                         auto controller = me->windowController_.lock();
                         if (!controller) return;
                         GdkRectangle geometry{};
                         webkit_window_properties_get_geometry(
                             webkit_web_view_get_window_properties(view), &geometry);
                         if (GtkWindow* w = controller->gtkWindow()) {
                           if (geometry.width > 0 && geometry.height > 0)
                             gtk_window_resize(w, geometry.width, geometry.height);
                           if (geometry.x > 0 || geometry.y > 0)
                             gtk_window_move(w, geometry.x, geometry.y);
                         }
                         controller->readyToShow();
                         controller->makeKeyAndOrderFront();
                       }),
                       this));
  // A new web process behind the view (after its process ended, or a swap on navigation)
  // gives the page a new id: the bridge follows it.
  add(g_signal_connect(webView_, "notify::page-id",
                       G_CALLBACK(+[](GObject*, GParamSpec*, gpointer self) {
                         static_cast<WebViewDelegate*>(self)->renewBridge();
                       }),
                       this));
  // window.close() of a secondary window's page closes that window.
  add(g_signal_connect(webView_, "close", G_CALLBACK(+[](WebKitWebView*, gpointer self) {
                         auto* me = static_cast<WebViewDelegate*>(self);
                         auto controller = me->windowController_.lock();
                         if (!controller || me->env_.host.isMainWindow(controller.get())) return;
                         controller->performClose();
                       }),
                       this));
}

void WebViewDelegate::detach() {
  if (!webView_) return;
  if (navigation_) navigation_->detach();
  for (unsigned long id : handlers_)
    if (g_signal_handler_is_connected(webView_, id)) g_signal_handler_disconnect(webView_, id);
  handlers_.clear();
  env_.context.bridgeHost().detachWebView(webView_);
  *alive_ = nullptr;
  webView_ = nullptr;
}

void WebViewDelegate::printContent() {
  if (printing_ || !webView_) return;
  WebKitPrintOperation* op = webkit_print_operation_new(webView_);
  print(op);
  g_object_unref(op);
}

void WebViewDelegate::print(WebKitPrintOperation* operation) {
  if (!webView_) return;
  GtkWidget* dialog = gtk_print_unix_dialog_new(nullptr, toplevelOf(webView_));
  gtk_print_unix_dialog_set_embed_page_setup(GTK_PRINT_UNIX_DIALOG(dialog), TRUE);
  gtk_print_unix_dialog_set_manual_capabilities(
      GTK_PRINT_UNIX_DIALOG(dialog),
      GtkPrintCapabilities(GTK_PRINT_CAPABILITY_PAGE_SET | GTK_PRINT_CAPABILITY_COPIES |
                           GTK_PRINT_CAPABILITY_COLLATE | GTK_PRINT_CAPABILITY_REVERSE |
                           GTK_PRINT_CAPABILITY_SCALE | GTK_PRINT_CAPABILITY_NUMBER_UP));
  if (sharedPrintSettings())
    gtk_print_unix_dialog_set_settings(GTK_PRINT_UNIX_DIALOG(dialog), sharedPrintSettings());
  if (sharedPageSetup())
    gtk_print_unix_dialog_set_page_setup(GTK_PRINT_UNIX_DIALOG(dialog), sharedPageSetup());
  gtk_window_set_modal(GTK_WINDOW(dialog), TRUE);
  struct PrintContext {
    std::weak_ptr<WebViewDelegate*> delegate;
    WebKitPrintOperation* operation;
  };
  auto* ctx = new PrintContext{alive_, WEBKIT_PRINT_OPERATION(g_object_ref(operation))};
  g_signal_connect_data(
      dialog, "response", G_CALLBACK(+[](GtkDialog* d, gint response, gpointer data) {
        auto* c = static_cast<PrintContext*>(data);
        auto alive = c->delegate.lock();
        if (alive && *alive) (*alive)->printing_ = false;
        if (response == GTK_RESPONSE_OK && alive && *alive) {
          GtkPrintSettings* settings = gtk_print_unix_dialog_get_settings(GTK_PRINT_UNIX_DIALOG(d));
          if (GtkPrinter* printer =
                  gtk_print_unix_dialog_get_selected_printer(GTK_PRINT_UNIX_DIALOG(d)))
            gtk_print_settings_set_printer(settings, gtk_printer_get_name(printer));
          GtkPageSetup* setup = gtk_print_unix_dialog_get_page_setup(GTK_PRINT_UNIX_DIALOG(d));
          g_clear_object(&sharedPrintSettings());
          sharedPrintSettings() = settings;  // owned
          g_clear_object(&sharedPageSetup());
          sharedPageSetup() = GTK_PAGE_SETUP(g_object_ref(setup));
          webkit_print_operation_set_print_settings(c->operation, settings);
          webkit_print_operation_set_page_setup(c->operation, setup);
          webkit_print_operation_print(c->operation);
        }
        gtk_widget_destroy(GTK_WIDGET(d));
      }),
      ctx,
      +[](gpointer data, GClosure*) {
        auto* c = static_cast<PrintContext*>(data);
        auto alive = c->delegate.lock();
        if (alive && *alive) (*alive)->printing_ = false;
        g_object_unref(c->operation);
        delete c;
      },
      GConnectFlags(0));
  printing_ = true;
  gtk_widget_show(dialog);
}

}  // namespace wd
