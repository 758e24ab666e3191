#include "shell/window/WebContext.h"

#include <webkit2/webkit2.h>

#include <filesystem>

#include "bridge/BridgeHost.h"
#include "core/Bundle.h"
#include "core/Log.h"
#include "core/Paths.h"
#include "core/UserDefaults.h"
#include "shell/window/DocumentPolicy.h"

namespace wd::webcontext {

namespace {
WebKitWebContext* gContext = nullptr;

void setIfPresent(GObject* object, const char* property, gboolean value) {
  if (g_object_class_find_property(G_OBJECT_GET_CLASS(object), property))
    g_object_set(object, property, value, nullptr);
}
}  // namespace

std::string userAgentApplicationName() {
  return "TovikWendrelDesktop/" + Bundle::main().version();
}

WebKitWebContext* shared() {
  if (gContext) return gContext;
  std::error_code ec;
  const auto data = paths::localStorageDirectory();
  std::filesystem::create_directories(data, ec);
  const auto cache = paths::dataDirectory() / "Cache";
  WebKitWebsiteDataManager* manager = webkit_website_data_manager_new(
      "base-data-directory", data.c_str(), "base-cache-directory", cache.c_str(), nullptr);
  gContext = webkit_web_context_new_with_website_data_manager(manager);
  g_object_unref(manager);
  // Cookies stay in memory (no persistent storage is set) and every cookie is accepted.
  WebKitCookieManager* cookies = webkit_web_context_get_cookie_manager(gContext);
  webkit_cookie_manager_set_accept_policy(cookies, WEBKIT_COOKIE_POLICY_ACCEPT_ALWAYS);
  webkit_web_context_set_cache_model(gContext, WEBKIT_CACHE_MODEL_WEB_BROWSER);
  bridge::BridgeHost::shared().setDocumentPolicy(
      [](const std::string& url) { return documentpolicy::isAllowedDocument(url); });
  bridge::BridgeHost::shared().attach(gContext);
  return gContext;
}

void reset() {
  if (gContext) g_object_unref(gContext);
  gContext = nullptr;
}

WebKitSettings* newSettings() {
  WebKitSettings* settings = webkit_settings_new();
  GObject* object = G_OBJECT(settings);
  setIfPresent(object, "enable-html5-local-storage", TRUE);
  setIfPresent(object, "enable-html5-database", TRUE);
  setIfPresent(object, "enable-webgl", TRUE);
  setIfPresent(object, "enable-developer-extras", UserDefaults::standard().boolForKey("developer"));
  setIfPresent(object, "javascript-can-open-windows-automatically", TRUE);
  setIfPresent(object, "allow-file-access-from-file-urls", TRUE);
  webkit_settings_set_user_agent_with_application_details(settings, "TovikWendrelDesktop",
                                                          Bundle::main().version().c_str());
  return settings;
}

}  // namespace wd::webcontext
