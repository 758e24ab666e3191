// The web view's navigation and network glue for one window (see NavigationDelegate.h).
#include "shell/window/NavigationDelegate.h"

#include <webkit2/webkit2.h>

#include "core/CertificateExceptions.h"
#include "core/Json.h"
#include "core/Log.h"
#include "core/Settings.h"
#include "core/UserDefaults.h"
#include "shell/ShellContext.h"
#include "shell/downloads/Downloads.h"
#include "shell/system/Workspace.h"
#include "shell/window/CertificateTrust.h"
#include "shell/window/DocumentPolicy.h"
#include "shell/window/NavigationPolicy.h"
#include "shell/window/RequestTimeout.h"
#include "shell/window/WebClient.h"
#include "shell/window/WebContext.h"
#include "shell/window/WindowController.h"

namespace wd {

namespace {

using Alive = std::shared_ptr<NavigationDelegate*>;

// The code of an untrusted server certificate in "connectionError", and its domain.
constexpr const char* kUntrustedCode = "-1202";
constexpr const char* kErrorDomain = "NSURLErrorDomain";

navigation::ActionKind kindOf(WebKitNavigationAction* action) {
  switch (webkit_navigation_action_get_navigation_type(action)) {
    case WEBKIT_NAVIGATION_TYPE_LINK_CLICKED:
      return navigation::ActionKind::LinkClicked;
    case WEBKIT_NAVIGATION_TYPE_FORM_SUBMITTED:
    case WEBKIT_NAVIGATION_TYPE_FORM_RESUBMITTED:
      return navigation::ActionKind::FormSubmitted;
    default:
      return navigation::ActionKind::Other;
  }
}

std::string requestURI(WebKitNavigationAction* action) {
  WebKitURIRequest* request = action ? webkit_navigation_action_get_request(action) : nullptr;
  const char* uri = request ? webkit_uri_request_get_uri(request) : nullptr;
  return uri ? uri : "";
}

void onResourceTlsFailed(WebKitWebResource* resource, GTlsCertificate* certificate,
                         GTlsCertificateFlags, gpointer data);

}  // namespace

bridge::EventSource NavigationDelegate::pageEventSource() {
  return {"Events of every window's navigation",
          "Raised on the `document` of a window's page at once.",
          {{"connectionError",
            "{ code: \"-1202\"; url?: string; domain: \"NSURLErrorDomain\"; localizedMessage: "
            "string }",
            "A document or resource of the page failed because its server's certificate is not "
            "trusted (and its host is not excepted)."}}};
}

NavigationDelegate::NavigationDelegate(const WindowEnvironment& env,
                                       std::weak_ptr<WindowController> window,
                                       WebKitWebView* webView)
    : env_(env),
      window_(std::move(window)),
      webView_(webView),
      alive_(std::make_shared<NavigationDelegate*>(this)) {
  UserDefaults& defaults = env_.context.defaults();
  const std::string server = defaults.stringForKey(Settings::kServer).value_or("");
  // The exception the user granted for the mail server holds from the start.
  if (defaults.boolForKey(Settings::kAllowUntrustedCertificates)) {
    const std::string host = serverHost(server);
    if (!host.empty()) CertificateExceptions::shared().setAllowsAnyCertificate(true, host);
  }
  requesttimeout::install(webkit_web_view_get_user_content_manager(webView_),
                          requesttimeout::allowList(webclient::directory().string(), server));

  auto add = [this](unsigned long id) { handlers_.push_back(id); };
  add(g_signal_connect(webView_, "decide-policy",
                       G_CALLBACK(+[](WebKitWebView*, WebKitPolicyDecision* decision,
                                      WebKitPolicyDecisionType type, gpointer self) -> gboolean {
                         auto* me = static_cast<NavigationDelegate*>(self);
                         if (type == WEBKIT_POLICY_DECISION_TYPE_RESPONSE)
                           return me->decideResponse(WEBKIT_RESPONSE_POLICY_DECISION(decision));
                         WebKitNavigationAction* action =
                             webkit_navigation_policy_decision_get_navigation_action(
                                 WEBKIT_NAVIGATION_POLICY_DECISION(decision));
                         bool use = false;
                         if (type == WEBKIT_POLICY_DECISION_TYPE_NEW_WINDOW_ACTION)
                           use = !me->newWindowOpenedInBrowser(action);
                         else
                           use = me->decideNavigation(action);
                         if (use)
                           webkit_policy_decision_use(decision);
                         else
                           webkit_policy_decision_ignore(decision);
                         return TRUE;
                       }),
                       this));
  // The engine's downloads are cancelled by the web context (WebContext); those of this view
  // that are attachment downloads by the navigation rules become the application's own.
  context_ = WEBKIT_WEB_CONTEXT(g_object_ref(webkit_web_view_get_context(webView_)));
  downloadHandler_ =
      g_signal_connect(context_, "download-started",
                       G_CALLBACK(+[](WebKitWebContext*, WebKitDownload* download, gpointer self) {
                         auto* me = static_cast<NavigationDelegate*>(self);
                         if (webkit_download_get_web_view(download) != me->webView_) return;
                         WebKitURIRequest* request = webkit_download_get_request(download);
                         const char* uri = request ? webkit_uri_request_get_uri(request) : nullptr;
                         me->engineDownload(uri ? uri : "");
                       }),
                       this);
  // HTTP authentication is never answered by the application.
  add(g_signal_connect(
      webView_, "authenticate",
      G_CALLBACK(+[](WebKitWebView*, WebKitAuthenticationRequest* request, gpointer) -> gboolean {
        webkit_authentication_request_cancel(request);
        return TRUE;
      }),
      nullptr));
  add(g_signal_connect(webView_, "load-failed-with-tls-errors",
                       G_CALLBACK(+[](WebKitWebView*, gchar* uri, GTlsCertificate* certificate,
                                      GTlsCertificateFlags, gpointer self) -> gboolean {
                         static_cast<NavigationDelegate*>(self)->tlsFailed(uri ? uri : "",
                                                                           certificate, true);
                         return TRUE;
                       }),
                       this));
  // Subresources (scripts, images, XMLHttpRequest, fetch): each one is watched for a TLS
  // failure of its own.
  add(g_signal_connect_data(
      webView_, "resource-load-started",
      G_CALLBACK(
          +[](WebKitWebView* view, WebKitWebResource* resource, WebKitURIRequest*, gpointer data) {
            if (resource == webkit_web_view_get_main_resource(view))
              return;  // load-failed-with-...
            g_signal_connect_data(
                resource, "failed-with-tls-errors", G_CALLBACK(onResourceTlsFailed),
                new std::weak_ptr<NavigationDelegate*>(*static_cast<Alive*>(data)),
                +[](gpointer weak, GClosure*) {
                  delete static_cast<std::weak_ptr<NavigationDelegate*>*>(weak);
                },
                GConnectFlags(0));
          }),
      new Alive(alive_), +[](gpointer data, GClosure*) { delete static_cast<Alive*>(data); },
      GConnectFlags(0)));
}

namespace {
void onResourceTlsFailed(WebKitWebResource* resource, GTlsCertificate* certificate,
                         GTlsCertificateFlags, gpointer data) {
  auto alive = static_cast<std::weak_ptr<NavigationDelegate*>*>(data)->lock();
  if (!alive || !*alive) return;
  const char* uri = webkit_web_resource_get_uri(resource);
  (*alive)->reportSubresourceTlsFailure(uri ? uri : "", certificate);
}
}  // namespace

NavigationDelegate::~NavigationDelegate() {
  detach();
}

void NavigationDelegate::detach() {
  if (!webView_) return;
  for (unsigned long id : handlers_)
    if (g_signal_handler_is_connected(webView_, id)) g_signal_handler_disconnect(webView_, id);
  handlers_.clear();
  if (downloadHandler_) g_signal_handler_disconnect(context_, downloadHandler_);
  downloadHandler_ = 0;
  g_clear_object(&context_);
  *alive_ = nullptr;
  webView_ = nullptr;
}

bool NavigationDelegate::newWindowOpenedInBrowser(WebKitNavigationAction* action) {
  if (!action || navigation::decideNewWindow(kindOf(action)) == navigation::Decision::Use)
    return false;
  const std::string uri = requestURI(action);
  if (!uri.empty()) env_.context.workspace().openURL(uri);
  return true;
}

bool NavigationDelegate::decideNavigation(WebKitNavigationAction* action) {
  const std::string uri = requestURI(action);
  const char* shown = webView_ ? webkit_web_view_get_uri(webView_) : nullptr;
  switch (navigation::decide(uri, shown ? shown : "")) {
    case navigation::Decision::Use:
      // Universal access is fixed when a document is made: on for the application's own page,
      // off for every other document this view loads from now on.
      setUniversalFileAccess(navigation::parseUrl(uri).scheme == "file" &&
                             documentpolicy::isAllowedDocument(uri, env_.context.defaults()));
      return true;
    case navigation::Decision::OpenExternal:
      env_.context.workspace().openURL(uri);
      return false;
    case navigation::Decision::Download: {
      // The engine does not show a navigation's body: a form sent to a download path is
      // fetched as a GET of its URL.
      WebKitURIRequest* request = webkit_navigation_action_get_request(action);
      const char* method = request ? webkit_uri_request_get_http_method(request) : nullptr;
      if (method && g_strcmp0(method, "GET") != 0)
        WD_LOG_INFO("Attachment download of a {} navigation, fetched with GET: {}", method, uri);
      env_.context.downloads().downloadWithRequest(uri, window_.lock());
      return false;
    }
    case navigation::Decision::Ignore:
      return false;
  }
  return false;
}

namespace {
// Whether the engine would save this answer as a file rather than show it: a type it cannot
// show, or "Content-Disposition: attachment".
bool isDownloadAnswer(WebKitResponsePolicyDecision* decision) {
  if (!webkit_response_policy_decision_is_mime_type_supported(decision)) return true;
  WebKitURIResponse* response = webkit_response_policy_decision_get_response(decision);
  SoupMessageHeaders* headers = response ? webkit_uri_response_get_http_headers(response) : nullptr;
  const char* disposition =
      headers ? soup_message_headers_get_one(headers, "Content-Disposition") : nullptr;
  if (!disposition) return false;
  while (g_ascii_isspace(*disposition)) ++disposition;
  return g_ascii_strncasecmp(disposition, "attachment", 10) == 0;
}
}  // namespace

int NavigationDelegate::decideResponse(WebKitResponsePolicyDecision* decision) {
  if (!isDownloadAnswer(decision)) return FALSE;  // shown in its frame, as the engine decides
  WebKitURIRequest* request = webkit_response_policy_decision_get_request(decision);
  const char* uri = request ? webkit_uri_request_get_uri(request) : nullptr;
  // Never a download by the engine. An inner frame's answer never leads anywhere; the main
  // frame's becomes the application's download when its URL is an attachment download.
  if (webkit_response_policy_decision_is_main_frame_main_resource(decision))
    engineDownload(uri ? uri : "");
  else
    WD_LOG_INFO("An inner frame's file answer is refused: {}", uri ? uri : "");
  webkit_policy_decision_ignore(WEBKIT_POLICY_DECISION(decision));
  return TRUE;
}

void NavigationDelegate::engineDownload(const std::string& uri) {
  const char* shown = webView_ ? webkit_web_view_get_uri(webView_) : nullptr;
  if (navigation::decide(uri, shown ? shown : "") == navigation::Decision::Download)
    env_.context.downloads().downloadWithRequest(uri, window_.lock());
  else
    WD_LOG_INFO("A file answer outside the attachment paths is not saved: {}", uri);
}

void NavigationDelegate::setUniversalFileAccess(bool on) {
  WebKitSettings* settings = webView_ ? webkit_web_view_get_settings(webView_) : nullptr;
  if (!settings ||
      (webkit_settings_get_allow_universal_access_from_file_urls(settings) != FALSE) == on)
    return;
  webkit_settings_set_allow_universal_access_from_file_urls(settings, on);
}

void NavigationDelegate::reportSubresourceTlsFailure(const std::string& url,
                                                     GTlsCertificate* certificate) {
  tlsFailed(url, certificate, false);
}

std::string NavigationDelegate::untrustedMessage(const std::string& host) {
  return "The certificate of the server \u201c" + host +
         "\u201d is not trusted. The server may be pretending to be it, which could put your "
         "confidential information at risk.";
}

void NavigationDelegate::tlsFailed(const std::string& url, GTlsCertificate* certificate,
                                   bool mainFrame) {
  const std::string host = navigation::parseUrl(url).host;
  const bool allowed = env_.web.certificateTrust().certificateFailed(host, certificate);
  // The main document of an excepted host is loaded again at once, now that the engine takes
  // its certificate (once: a second failure of the same URL is reported).
  if (allowed && mainFrame && webView_ && retried_ != url) {
    retried_ = url;
    webkit_web_view_load_uri(webView_, url.c_str());
    return;
  }
  Json data = Json::object();
  data["code"] = kUntrustedCode;
  if (!url.empty()) data["url"] = url;
  data["domain"] = kErrorDomain;
  data["localizedMessage"] = untrustedMessage(host);
  if (auto window = window_.lock()) window->pageEvents().raise("connectionError", data);
}

}  // namespace wd
