#include "shell/window/WindowController.h"

#include <gtk/gtk.h>
#include <webkit2/webkit2.h>

#include <utility>

#include "core/Bundle.h"
#include "core/I18n.h"
#include "core/Log.h"
#include "core/SafeFileReader.h"
#include "core/Settings.h"
#include "core/UserDefaults.h"
#include "shell/ShellContext.h"
#include "shell/window/DeveloperExtras.h"
#include "shell/window/WebClient.h"
#include "shell/window/WebContext.h"
#include "shell/window/WebViewDelegate.h"
#include "shell/window/WindowFrame.h"
#include "shell/window/WindowHost.h"

namespace wd {

std::shared_ptr<WindowController> WindowController::initWithURL(const WindowEnvironment& env,
                                                                const std::string& resourcePath) {
  std::shared_ptr<WindowController> c(new WindowController(env));
  c->url_ = webclient::fileURL(resourcePath);
  c->autosaveName_ = kFrameAutosaveName;
  c->awakeFromNib(nullptr);
  if (auto frame = WindowFrame::load(c->autosaveName_)) {
    frame->applyTo(c->window_);
    c->savedFrame_ = frame;  // what is on disk already
  }
  c->windowDidLoad();
  return c;
}

std::shared_ptr<WindowController> WindowController::initWithRequest(const WindowEnvironment& env,
                                                                    const std::string& url) {
  std::shared_ptr<WindowController> c(new WindowController(env));
  c->url_ = url;
  c->awakeFromNib(nullptr);
  c->windowDidLoad();
  return c;
}

std::shared_ptr<WindowController> WindowController::initWithRelatedView(
    const WindowEnvironment& env, WebKitWebView* opener) {
  std::shared_ptr<WindowController> c(new WindowController(env));
  c->awaitsReadyToShow_ = true;
  c->awakeFromNib(opener);
  return c;
}

WindowController::WindowController(const WindowEnvironment& env) : env_(env) {}

WindowController::~WindowController() {
  teardown();
}

void WindowController::awakeFromNib(WebKitWebView* related) {
  GtkBuilder* builder = nullptr;
  if (auto layout = Bundle::main().pathForResource("MainWindow", "ui", "ui")) {
    builder = gtk_builder_new();
    GError* error = nullptr;
    // A layout is a few kilobytes; the cap only keeps a damaged resource from filling memory.
    const auto text = readRegularFile(*layout, 4u * 1024u * 1024u);
    if (!text.data ||
        !gtk_builder_add_from_string(builder, text.data->data(),
                                     static_cast<gssize>(text.data->size()), &error)) {
      WD_LOG_INFO("The window layout {} cannot be read: {}", *layout,
                  !text.data ? text.error : std::string(error ? error->message : "unknown error"));
      g_clear_error(&error);
      g_clear_object(&builder);
    }
  }
  if (builder) {
    window_ = GTK_WINDOW(gtk_builder_get_object(builder, "window"));
    content_ = GTK_WIDGET(gtk_builder_get_object(builder, "content"));
  }
  if (!window_ || !content_ || !GTK_IS_CONTAINER(content_)) {
    // Without its layout the window is still usable: a plain window holding the web view.
    if (window_) gtk_widget_destroy(GTK_WIDGET(window_));
    window_ = GTK_WINDOW(gtk_application_window_new(nullptr));
    gtk_window_set_default_size(window_, 1180, 780);
    content_ = gtk_box_new(GTK_ORIENTATION_VERTICAL, 0);
    gtk_container_add(GTK_CONTAINER(window_), content_);
    gtk_widget_show(content_);
  }
  g_object_ref(window_);
  if (builder) g_object_unref(builder);
  gtk_window_set_title(window_, Bundle::main().name().c_str());
  if (GApplication* app = g_application_get_default(); app && GTK_IS_APPLICATION(app))
    gtk_window_set_application(window_, GTK_APPLICATION(app));

  config_ = webclient::configuration();

  WebKitSettings* settings =
      WebContext::newSettings(developerExtrasEnabled(env_.context.defaults()));
  if (related) {
    webView_ = WEBKIT_WEB_VIEW(webkit_web_view_new_with_related_view(related));
    webkit_web_view_set_settings(webView_, settings);
  } else {
    webView_ = WEBKIT_WEB_VIEW(g_object_new(WEBKIT_TYPE_WEB_VIEW, "web-context", env_.web.context(),
                                            "settings", settings, nullptr));
  }
  g_object_unref(settings);
  g_object_ref_sink(webView_);
  gtk_box_pack_start(GTK_BOX(content_), GTK_WIDGET(webView_), TRUE, TRUE, 0);
  gtk_widget_show(GTK_WIDGET(webView_));

  delegate_ = std::make_unique<WebViewDelegate>(env_, weak_from_this(), webView_);
  developerExtras_ =
      followDeveloperExtras(env_.context.center(), env_.context.defaults(), webView_);

  terminatedHandler_ = g_signal_connect(
      webView_, "web-process-terminated",
      G_CALLBACK(+[](WebKitWebView*, WebKitWebProcessTerminationReason reason, gpointer self) {
        static_cast<WindowController*>(self)->webProcessEnded(
            reason == WEBKIT_WEB_PROCESS_EXCEEDED_MEMORY_LIMIT ? ProcessEnd::MemoryLimit
            : reason == WEBKIT_WEB_PROCESS_TERMINATED_BY_API   ? ProcessEnd::Requested
                                                               : ProcessEnd::Crashed);
      }),
      this);

  // The frame is followed while the window is on screen and saved when it hides, however it
  // is hidden (closed, MacGap.hide(), the application hidden), so a later kill keeps it.
  // (Before the window's own handler, which ends the emission.)
  g_signal_connect(window_, "configure-event",
                   G_CALLBACK(+[](GtkWidget* w, GdkEvent* event, gpointer self) -> gboolean {
                     auto* me = static_cast<WindowController*>(self);
                     if (!gtk_widget_get_mapped(w)) return FALSE;
                     WindowFrame frame = WindowFrame::of(me->window_);
                     frame.width = event->configure.width;  // the new size
                     frame.height = event->configure.height;
                     me->shownFrame_ = frame;
                     return FALSE;
                   }),
                   this);
  g_signal_connect(window_, "hide", G_CALLBACK(+[](GtkWidget*, gpointer self) {
                     static_cast<WindowController*>(self)->saveFrame();
                   }),
                   this);

  deleteHandler_ = g_signal_connect(
      window_, "delete-event", G_CALLBACK(+[](GtkWidget*, GdkEvent*, gpointer self) -> gboolean {
        static_cast<WindowController*>(self)->windowWillClose();
        return TRUE;  // the controller hides or destroys the window itself
      }),
      this);
}

void WindowController::windowDidLoad() {
  if (webView_ && !url_.empty()) webkit_web_view_load_uri(webView_, url_.c_str());
}

bridge::ScriptPage* WindowController::scriptPage() {
  return delegate_ ? delegate_->scriptPage() : nullptr;
}

void WindowController::showWindow() {
  if (window_) gtk_widget_show(GTK_WIDGET(window_));
}

void WindowController::makeKeyAndOrderFront() {
  if (!window_) return;
  // With the time of the event being handled (a menu click, a key), so that the window manager
  // lets the window take the focus from the application's other windows.
  gtk_window_present_with_time(window_, gtk_get_current_event_time());
  gtk_window_set_urgency_hint(window_, FALSE);
}

bool WindowController::isVisible() const {
  return window_ && gtk_widget_get_visible(GTK_WIDGET(window_));
}

void WindowController::setWindowParams() {
  if (!window_) return;
  const Json& settings = config_.settings;
  if (!settings.is_object()) return;
  auto it = settings.find("window");
  if (it == settings.end() || !it->is_object()) return;
  const Json& params = *it;
  auto number = [&params](const char* key) -> std::optional<int> {
    auto v = params.find(key);
    if (v == params.end() || !v->is_number()) return std::nullopt;
    double d = v->get<double>();
    if (!(d >= 0) || d > 100000) return std::nullopt;
    return static_cast<int>(d);
  };
  GdkGeometry geometry{};
  int mask = 0;
  auto minW = number("min_width"), minH = number("min_height");
  if (minW && minH) {
    geometry.min_width = *minW;
    geometry.min_height = *minH;
    mask |= GDK_HINT_MIN_SIZE;
  }
  auto maxW = number("max_width"), maxH = number("max_height");
  if (maxW && maxH) {
    geometry.max_width = *maxW;
    geometry.max_height = *maxH;
    mask |= GDK_HINT_MAX_SIZE;
  }
  if (mask) gtk_window_set_geometry_hints(window_, nullptr, &geometry, GdkWindowHints(mask));
  auto title = params.find("title");
  if (title != params.end() && title->is_string())
    gtk_window_set_title(window_, title->get<std::string>().c_str());
}

void WindowController::printContent() {
  if (delegate_) delegate_->printContent();
}

void WindowController::performClose() {
  // One close at a time: the toolkit schedules a delete event per request but forgets all but
  // the last when the window goes, so a second request would reach a destroyed window.
  if (!window_ || closePending_) return;
  closePending_ = true;
  if (gtk_widget_get_realized(GTK_WIDGET(window_))) {
    gtk_window_close(window_);  // the delete event follows from the main loop
    return;
  }
  // A window never shown (a page's window.open() closed before it was ready to show) gets no
  // delete event: close it from the main loop all the same, never inside the caller, which may
  // be a signal or a script call of this window's own page.
  auto* weak = new std::weak_ptr<WindowController>(weak_from_this());
  g_idle_add_full(
      G_PRIORITY_DEFAULT,
      +[](gpointer data) -> gboolean {
        auto self = static_cast<std::weak_ptr<WindowController>*>(data)->lock();
        if (self && self->window_) self->windowWillClose();
        return G_SOURCE_REMOVE;
      },
      weak, +[](gpointer data) { delete static_cast<std::weak_ptr<WindowController>*>(data); });
}

void WindowController::executeEditingCommand(const std::string& command) {
  if (webView_) webkit_web_view_execute_editing_command(webView_, command.c_str());
}

std::shared_ptr<WebWindow> WindowController::takeOpenedWindow() {
  return delegate_ ? delegate_->takeOpenedWindow() : nullptr;
}

void WindowController::whenReadyToShow(std::function<void()> f) {
  if (awaitsReadyToShow_ && window_)
    untilReadyToShow_.push_back(std::move(f));
  else if (window_)
    f();
}

void WindowController::readyToShow() {
  awaitsReadyToShow_ = false;
  auto self = shared_from_this();
  for (auto& f : std::exchange(untilReadyToShow_, {})) f();
}

void WindowController::webProcessEnded(ProcessEnd reason) {
  if (!webView_) return;
  const bool main = env_.host.isMainWindow(this);
  if (reason == ProcessEnd::Requested || !main) {
    // A secondary window closes; the application's own termination is its own doing.
    WD_LOG_WARN("The web process of a {} window {}; the window {}", main ? "main" : "secondary",
                describeForLog(reason), reason == ProcessEnd::Requested ? "stays" : "closes");
    if (reason != ProcessEnd::Requested) performClose();
    return;
  }
  const bool reload = reloads_.recordDeath(g_get_monotonic_time());
  WD_LOG_WARN("The web process of the main window {} ({} time(s) within a minute); {}",
              describeForLog(reason), reloads_.recentDeaths(),
              reload ? "loading the page again" : "not loading the page again");
  // Held events wait for the next page's report, as at start.
  pageEvents().closeGate();
  if (delegate_) delegate_->renewBridge();
  if (reload)
    webkit_web_view_reload(webView_);
  else
    showRecoveryBar(reason);
}

void WindowController::showRecoveryBar(ProcessEnd reason) {
  if (!recoveryBar_) {
    if (!content_ || !GTK_IS_BOX(content_)) return;
    recoveryBar_ = gtk_info_bar_new();
    gtk_widget_set_name(recoveryBar_, "wd-recovery-bar");
    gtk_info_bar_set_message_type(GTK_INFO_BAR(recoveryBar_), GTK_MESSAGE_WARNING);
    GtkWidget* label = gtk_label_new(nullptr);
    gtk_widget_set_name(label, "wd-recovery-reason");
    gtk_label_set_line_wrap(GTK_LABEL(label), TRUE);
    gtk_label_set_xalign(GTK_LABEL(label), 0);
    gtk_box_pack_start(GTK_BOX(gtk_info_bar_get_content_area(GTK_INFO_BAR(recoveryBar_))), label,
                       TRUE, TRUE, 0);
    GtkWidget* reload =
        gtk_info_bar_add_button(GTK_INFO_BAR(recoveryBar_), _("_Reload"), GTK_RESPONSE_ACCEPT);
    gtk_widget_set_name(reload, "wd-recovery-reload");
    atk_object_set_name(gtk_widget_get_accessible(recoveryBar_), _("Page stopped"));
    g_signal_connect(recoveryBar_, "response",
                     G_CALLBACK(+[](GtkInfoBar*, gint response, gpointer self) {
                       if (response == GTK_RESPONSE_ACCEPT)
                         static_cast<WindowController*>(self)->reloadPage();
                     }),
                     this);
    gtk_box_pack_start(GTK_BOX(content_), recoveryBar_, FALSE, FALSE, 0);
    gtk_box_reorder_child(GTK_BOX(content_), recoveryBar_, 0);
  }
  GtkWidget* area = gtk_info_bar_get_content_area(GTK_INFO_BAR(recoveryBar_));
  GList* children = gtk_container_get_children(GTK_CONTAINER(area));
  if (children && GTK_IS_LABEL(children->data))
    gtk_label_set_text(GTK_LABEL(children->data), describeForUser(reason).c_str());
  g_list_free(children);
  gtk_widget_show_all(recoveryBar_);
}

void WindowController::reloadPage() {
  if (!webView_) return;
  reloads_.reset();
  if (recoveryBar_) gtk_widget_hide(recoveryBar_);
  const char* current = webkit_web_view_get_uri(webView_);
  if (current && *current)
    webkit_web_view_reload(webView_);
  else if (!url_.empty())
    webkit_web_view_load_uri(webView_, url_.c_str());
}

void WindowController::saveFrame() {
  if (autosaveName_.empty() || !window_) return;
  // A hidden window keeps the frame it had when last on screen.
  if (gtk_widget_get_mapped(GTK_WIDGET(window_))) shownFrame_ = WindowFrame::of(window_);
  writeFrame();
}

void WindowController::writeFrame() {
  // Hiding and quitting both save: a frame already on disk is not written (and synced) again.
  if (!shownFrame_ || shownFrame_ == savedFrame_) return;
  if (shownFrame_->save(autosaveName_)) savedFrame_ = shownFrame_;
}

void WindowController::frameChangedWhileHidden() {
  // The frame the window will have when shown again (as requested of the toolkit).
  if (autosaveName_.empty() || !window_ || gtk_widget_get_mapped(GTK_WIDGET(window_))) return;
  shownFrame_ = WindowFrame::of(window_);
  writeFrame();
}

void WindowController::windowWillClose() {
  auto self = shared_from_this();  // the registry may drop its reference below
  closePending_ = false;
  if (env_.host.isMainWindow(this)) {
    if (window_) gtk_widget_hide(GTK_WIDGET(window_));  // saves the frame
  } else {
    teardown();
  }
  env_.host.windowDidClose(this);
}

void WindowController::teardown() {
  developerExtras_.reset();
  if (delegate_) delegate_->detach();
  if (webView_) {
    webkit_web_view_stop_loading(webView_);
    if (GtkWidget* parent = gtk_widget_get_parent(GTK_WIDGET(webView_)))
      gtk_container_remove(GTK_CONTAINER(parent), GTK_WIDGET(webView_));
  }
  delegate_.reset();
  if (webView_) {
    if (terminatedHandler_) g_signal_handler_disconnect(webView_, terminatedHandler_);
    terminatedHandler_ = 0;
    g_object_unref(webView_);
    webView_ = nullptr;
  }
  if (window_) {
    if (deleteHandler_) g_signal_handler_disconnect(window_, deleteHandler_);
    deleteHandler_ = 0;
    gtk_widget_destroy(GTK_WIDGET(window_));
    g_object_unref(window_);
    window_ = nullptr;
    content_ = nullptr;
    recoveryBar_ = nullptr;
  }
}

}  // namespace wd
