// The page script that limits requests to 660 s (see RequestTimeout.h).
#include "shell/window/RequestTimeout.h"

#include <webkit2/webkit2.h>

#include <filesystem>
#include <memory>

#include "shell/window/CertificateTrust.h"

namespace wd::requesttimeout {

std::string script() {
  return R"JS((function () {
  'use strict';
  var T = )JS" +
         std::to_string(kTimeoutMilliseconds) +
         R"JS(;
  var mark = Symbol.for('wendrel.requestTimeout');
  if (window[mark]) return;
  Object.defineProperty(window, mark, {value: true});
  var X = window.XMLHttpRequest;
  if (X) {
    var proto = X.prototype;
    var timeout = Object.getOwnPropertyDescriptor(proto, 'timeout');
    var open = proto.open;
    var explicit = new WeakSet();
    if (timeout && timeout.set && typeof open === 'function') {
      Object.defineProperty(proto, 'timeout', {
        configurable: true, enumerable: timeout.enumerable, get: timeout.get,
        set: function (v) { explicit.add(this); timeout.set.call(this, v); }
      });
      proto.open = function (method, url) {
        var result = open.apply(this, arguments);
        var async = arguments.length < 3 || arguments[2] === undefined || !!arguments[2];
        if (async && !explicit.has(this)) {
          try { timeout.set.call(this, T); } catch (e) {}
        }
        return result;
      };
    }
  }
  var f = window.fetch;
  if (typeof f === 'function' && window.AbortSignal && AbortSignal.timeout) {
    window.fetch = function (input, init) {
      if (init && init.signal) return f.apply(this, arguments);
      var limit = AbortSignal.timeout(T);
      var own = (typeof Request === 'function' && input instanceof Request) ? input.signal : null;
      var signal = own && AbortSignal.any ? AbortSignal.any([own, limit]) : limit;
      var options = Object.assign({}, init || {}, {signal: signal});
      return f.call(this, input, options);
    };
  }
})();)JS";
}

std::vector<std::string> allowList(const std::string& pageDir, const std::string& serverSetting) {
  std::vector<std::string> patterns;
  const auto publicDir = (std::filesystem::path(pageDir) / "public").lexically_normal();
  std::unique_ptr<gchar, decltype(&g_free)> uri(
      g_filename_to_uri(publicDir.c_str(), nullptr, nullptr), g_free);
  if (uri) patterns.push_back(std::string(uri.get()) + "/*");
  const std::string host = serverHost(serverSetting);
  if (!host.empty()) patterns.push_back("https://" + host + "/*");
  return patterns;
}

void install(WebKitUserContentManager* manager, const std::vector<std::string>& allowList) {
  if (!manager || allowList.empty()) return;
  std::vector<const gchar*> allow;
  for (const auto& pattern : allowList) allow.push_back(pattern.c_str());
  allow.push_back(nullptr);
  const std::string source = script();
  WebKitUserScript* userScript =
      webkit_user_script_new(source.c_str(), WEBKIT_USER_CONTENT_INJECT_TOP_FRAME,
                             WEBKIT_USER_SCRIPT_INJECT_AT_DOCUMENT_START, allow.data(), nullptr);
  webkit_user_content_manager_add_script(manager, userScript);
  webkit_user_script_unref(userScript);
}

}  // namespace wd::requesttimeout
