// The web process extension: the only project code in WebKitGTK's web process. It connects to
// the UI process's bridge socket (path and token from the initialization data), installs MacGap
// into every main-frame script context the UI process allows, reports every frame's `load`
// event, serves the UI process's requests when the page is idle, and reads the page's
// "/webmail/resource/" files from the web client folder (the initialization data names it).
#include <glib-unix.h>
#include <webkit2/webkit-web-extension.h>

#include <memory>
#include <string>

#include "webext/PageBridge.h"
#include "webext/PageSocket.h"
#include "webext/ResourceMap.h"

namespace {

using wd::webext::PageBridge;
using wd::webext::PageSocket;

struct Extension {
  std::unique_ptr<PageSocket> socket;
  std::unique_ptr<PageBridge> bridge;
  guint drainSource = 0;
  guint flushSource = 0;
  std::string resourceFolder;  // where "/webmail/resource/" files lie; empty: not mapped
};

Extension* gExt = nullptr;

// Handles every complete frame available now; stops watching when the connection is lost.
gboolean drain() {
  std::string payload;
  bool lost = false;
  while (gExt->bridge->connected() && gExt->socket->poll(payload, lost))
    gExt->bridge->handleMessage(payload);
  if (lost) gExt->bridge->disconnect();
  return gExt->bridge->connected() ? G_SOURCE_CONTINUE : G_SOURCE_REMOVE;
}

gboolean onReadable(gint, GIOCondition, gpointer) {
  return drain();
}

void scheduleDrain() {
  if (gExt->drainSource || !gExt->socket->hasBufferedFrame()) return;
  gExt->drainSource = g_idle_add(
      [](gpointer) -> gboolean {
        gExt->drainSource = 0;
        drain();
        return G_SOURCE_REMOVE;
      },
      nullptr);
}

void scheduleFlush() {
  if (gExt->flushSource) return;
  gExt->flushSource = g_idle_add(
      [](gpointer) -> gboolean {
        gExt->flushSource = 0;
        if (!gExt->bridge->waiting()) gExt->bridge->flushReleases();
        return G_SOURCE_REMOVE;
      },
      nullptr);
}

void onWindowObjectCleared(WebKitScriptWorld*, WebKitWebPage* page, WebKitFrame* frame, gpointer) {
  G_GNUC_BEGIN_IGNORE_DEPRECATIONS
  JSGlobalContextRef ctx = webkit_frame_get_javascript_global_context(frame);
  G_GNUC_END_IGNORE_DEPRECATIONS
  if (!ctx) return;
  const guint64 pageId = webkit_web_page_get_id(page);
  const bool main = webkit_frame_is_main_frame(frame);
  if (main) {
    const char* uri = webkit_frame_get_uri(frame);
    gExt->bridge->mainContextCreated(pageId, ctx, uri ? uri : "");
  }
  gExt->bridge->watchFrameLoad(pageId, ctx, main);
}

void onPageGone(gpointer data, GObject*) {
  if (gExt) gExt->bridge->pageClosed(GPOINTER_TO_SIZE(data));
}

// A subresource request for a "/webmail/resource/" file of the page is sent for the file below
// the web client folder instead. A main resource is never rewritten (the engine cannot take a
// different main document URL and ends the web process).
gboolean onSendRequest(WebKitWebPage* page, WebKitURIRequest* request, WebKitURIResponse*,
                       gpointer) {
  const char* uri = webkit_uri_request_get_uri(request);
  if (!uri || gExt->resourceFolder.empty()) return FALSE;
  const char* pageUri = webkit_web_page_get_uri(page);
  if (pageUri && g_strcmp0(pageUri, uri) == 0) return FALSE;
  if (auto mapped = wd::webext::mapResourceURI(uri, gExt->resourceFolder))
    webkit_uri_request_set_uri(request, mapped->c_str());
  return FALSE;
}

void onPageCreated(WebKitWebExtension*, WebKitWebPage* page, gpointer) {
  const guint64 pageId = webkit_web_page_get_id(page);
  g_object_weak_ref(G_OBJECT(page), onPageGone, GSIZE_TO_POINTER(pageId));
  g_signal_connect(page, "send-request", G_CALLBACK(onSendRequest), nullptr);
}

}  // namespace

extern "C" G_MODULE_EXPORT void webkit_web_extension_initialize_with_user_data(
    WebKitWebExtension* extension, const GVariant* userData) {
  const gchar* path = "";
  const gchar* token = "";
  const gchar* resources = "";
  auto* data = const_cast<GVariant*>(userData);
  if (data && g_variant_is_of_type(data, G_VARIANT_TYPE("(sss)")))
    g_variant_get(data, "(&s&s&s)", &path, &token, &resources);
  else if (data && g_variant_is_of_type(data, G_VARIANT_TYPE("(ss)")))
    g_variant_get(data, "(&s&s)", &path, &token);

  gExt = new Extension();  // lives as long as the web process
  gExt->resourceFolder = resources;
  const int fd = PageSocket::connectTo(path);
  gExt->socket = std::make_unique<PageSocket>(fd);
  gExt->socket->onWaitEnded = scheduleDrain;
  gExt->socket->onReleasesPending = scheduleFlush;
  gExt->bridge = std::make_unique<PageBridge>(*gExt->socket);
  if (fd < 0 || !gExt->bridge->hello(token)) {
    gExt->bridge->disconnect();  // every member answers undefined
  } else {
    g_unix_fd_add(fd, static_cast<GIOCondition>(G_IO_IN | G_IO_HUP | G_IO_ERR), onReadable,
                  nullptr);
  }
  g_signal_connect(webkit_script_world_get_default(), "window-object-cleared",
                   G_CALLBACK(onWindowObjectCleared), nullptr);
  g_signal_connect(extension, "page-created", G_CALLBACK(onPageCreated), nullptr);
}
