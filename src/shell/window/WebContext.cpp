#include "shell/window/WebContext.h"

#include <webkit2/webkit2.h>

#include <filesystem>

#include "bridge/BridgeHost.h"
#include "core/Bundle.h"
#include "core/CertificateExceptions.h"
#include "core/Log.h"
#include "core/Paths.h"
#include "core/UserDefaults.h"
#include "shell/cookies/EngineCookies.h"
#include "shell/window/CertificateTrust.h"
#include "shell/window/DocumentPolicy.h"
#include "shell/window/SandboxProbe.h"
#include "shell/window/SpellChecking.h"
#include "shell/window/WebClient.h"

namespace wd {

namespace {
void setIfPresent(GObject* object, const char* property, gboolean value) {
  if (g_object_class_find_property(G_OBJECT_GET_CLASS(object), property))
    g_object_set(object, property, value, nullptr);
}

// Where the sandbox's answer is remembered, and for which machine.
std::filesystem::path sandboxAnswerFile() {
  return paths::stateDirectory() / "sandbox-available";
}

// How long after the web context is made a remembered sandbox is checked again: late enough
// that the check's bubblewrap run does not compete with the first window and page for the
// processor, early enough to finish in most sessions.
constexpr unsigned kSandboxRecheckSeconds = 20;

// Runs `Method` of `context` once, `seconds` from now, on the main loop; the source's id.
template <void (WebContext::*Method)()>
guint callLater(unsigned seconds, WebContext* context) {
  return g_timeout_add_seconds(
      seconds,
      +[](gpointer self) -> gboolean {
        (static_cast<WebContext*>(self)->*Method)();
        return G_SOURCE_REMOVE;
      },
      context);
}
}  // namespace

// The web process runs in the engine's sandbox when it can start there, with read access to
// the page's own folder (the page and its "/webmail/resource/" files) and the script bridge's
// socket folder (added by the bridge); otherwise without it, said once in the log. A machine
// where it started before is not waited for: the check runs later, in the background, and a
// sandbox it finds unavailable is forgotten for the next start.
void WebContext::setUpSandbox() {
  const auto file = sandboxAnswerFile();
  const auto key = SandboxProbe::machineKey();
  if (!sandbox_) {
    recheckSandbox_ = callLater<&WebContext::recheckSandbox>(kSandboxRecheckSeconds, this);
  } else {
    const auto& answer = sandbox_->answer();
    SandboxProbe::remember(file, key, answer.available);
    if (!answer.available) {
      WD_LOG_WARN(
          "The web content sandbox cannot start on this system ({}): web pages run without it",
          answer.reason);
      return;
    }
  }
  webkit_web_context_set_sandbox_enabled(context_, TRUE);
  std::error_code ec;
  const auto pages = webclient::directory() / "public";
  if (std::filesystem::is_directory(pages, ec))
    webkit_web_context_add_path_to_sandbox(context_, pages.c_str(), TRUE);
}

void WebContext::recheckSandbox() {
  recheckSandbox_ = 0;
  sandbox_ = std::make_unique<SandboxProbe>();
  sandbox_->whenAnswered([file = sandboxAnswerFile(),
                          key = SandboxProbe::machineKey()](const SandboxProbe::Answer& answer) {
    if (answer.available) return;
    SandboxProbe::remember(file, key, false);
    WD_LOG_WARN(
        "The web content sandbox cannot start on this system any more ({}): web pages run "
        "without it from the next start",
        answer.reason);
  });
}

// Spell checking is on from the start; the engine loads the dictionaries of the user's languages
// on the main thread when they are set (30-40 ms for one Hunspell dictionary), so they are set
// shortly after the first window rather than before its page starts loading.
void WebContext::setUpSpelling() {
  webkit_web_context_set_spell_checking_enabled(context_, TRUE);
  spellingLanguages_ = callLater<&WebContext::setSpellingLanguages>(kSpellingDelaySeconds, this);
}

void WebContext::setSpellingLanguages() {
  spellingLanguages_ = 0;
  const auto languages = spelling::languages(defaults_);
  std::vector<const gchar*> names;
  for (const auto& l : languages) names.push_back(l.c_str());
  names.push_back(nullptr);
  // None (a C locale and no setting): the engine's own default language.
  if (!languages.empty()) webkit_web_context_set_spell_checking_languages(context_, names.data());
}

WebContext::WebContext(bridge::BridgeHost& bridgeHost, const UserDefaults& defaults,
                       std::shared_ptr<BSHTTPCookieStorage> cookies)
    : bridgeHost_(bridgeHost), defaults_(defaults), cookieStore_(std::move(cookies)) {
  // A machine without a remembered answer has the check run now, while the rest of start-up
  // goes on; the first web view waits for what is left of it.
  if (!SandboxProbe::rememberedAvailable(sandboxAnswerFile(), SandboxProbe::machineKey()))
    sandbox_ = std::make_unique<SandboxProbe>();
}

WebContext::~WebContext() {
  if (recheckSandbox_) g_source_remove(recheckSandbox_);
  if (spellingLanguages_) g_source_remove(spellingLanguages_);
  cookies_.reset();
  trust_.reset();
  g_clear_object(&context_);
}

std::string WebContext::resourceFolder() {
  return (webclient::directory() / "public" / "web").string();
}

CertificateTrust& WebContext::certificateTrust() {
  context();
  return *trust_;
}

EngineCookies& WebContext::cookies() {
  context();
  return *cookies_;
}

std::string WebContext::userAgentApplicationName() {
  return "TovikWendrelDesktop/" + Bundle::main().version();
}

namespace {
// The engine never saves a file by itself: each of its downloads (an attachment answer, a link
// with "download", from any frame or view) is cancelled before it has a destination. A web
// window hands the ones that are attachment downloads to the application's own
// (NavigationDelegate, connected after this handler).
void refuseEngineDownloads(WebKitWebContext* context) {
  g_signal_connect(context, "download-started",
                   G_CALLBACK(+[](WebKitWebContext*, WebKitDownload* download) {
                     g_signal_connect(download, "decide-destination",
                                      G_CALLBACK(+[](WebKitDownload* d, gchar*) -> gboolean {
                                        webkit_download_cancel(d);
                                        return TRUE;  // no destination is ever set
                                      }),
                                      nullptr);
                     WebKitURIRequest* request = webkit_download_get_request(download);
                     const char* uri = request ? webkit_uri_request_get_uri(request) : nullptr;
                     WD_LOG_INFO("The engine's own download of {} is cancelled", uri ? uri : "");
                     webkit_download_cancel(download);
                   }),
                   nullptr);
}
}  // namespace

WebKitWebContext* WebContext::context() {
  if (context_) return context_;
  std::error_code ec;
  const auto data = paths::localStorageDirectory();
  std::filesystem::create_directories(data, ec);
  const auto cache = paths::dataDirectory() / "Cache";
  WebKitWebsiteDataManager* manager = webkit_website_data_manager_new(
      "base-data-directory", data.c_str(), "base-cache-directory", cache.c_str(), nullptr);
  context_ = webkit_web_context_new_with_website_data_manager(manager);
  g_object_unref(manager);
  // Cookies stay in memory (no persistent storage is set) and every cookie is accepted.
  WebKitCookieManager* cookies = webkit_web_context_get_cookie_manager(context_);
  webkit_cookie_manager_set_accept_policy(cookies, WEBKIT_COOKIE_POLICY_ACCEPT_ALWAYS);
  cookies_ = std::make_unique<EngineCookies>(context_, cookieStore_);
  webkit_web_context_set_cache_model(context_, WEBKIT_CACHE_MODEL_WEB_BROWSER);
  refuseEngineDownloads(context_);
  setUpSandbox();
  setUpSpelling();
  // MacGap goes only into the application's own page and the configured server's pages.
  const UserDefaults* defaults = &defaults_;
  bridgeHost_.setDocumentPolicy([defaults](const std::string& url) {
    return documentpolicy::isAllowedDocument(url, *defaults);
  });
  bridgeHost_.attach(context_, resourceFolder());
  trust_ = std::make_unique<CertificateTrust>(context_, CertificateExceptions::shared());
  return context_;
}

WebKitSettings* WebContext::newSettings(bool developerExtras) {
  WebKitSettings* settings = webkit_settings_new();
  GObject* object = G_OBJECT(settings);
  setIfPresent(object, "enable-html5-local-storage", TRUE);
  setIfPresent(object, "enable-html5-database", TRUE);
  setIfPresent(object, "enable-webgl", TRUE);
  setIfPresent(object, "enable-developer-extras", developerExtras);
  setIfPresent(object, "javascript-can-open-windows-automatically", TRUE);
  setIfPresent(object, "allow-file-access-from-file-urls", TRUE);
  setIfPresent(object, "allow-universal-access-from-file-urls", FALSE);
  webkit_settings_set_user_agent_with_application_details(settings, "TovikWendrelDesktop",
                                                          Bundle::main().version().c_str());
  return settings;
}

}  // namespace wd
