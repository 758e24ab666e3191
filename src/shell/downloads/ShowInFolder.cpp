// A saved file shown in the desktop's file manager (see ShowInFolder.h).
#include "shell/downloads/ShowInFolder.h"

#include <gio/gio.h>

#include <filesystem>

#include "core/GLibPtr.h"
#include "core/Log.h"
#include "shell/system/Workspace.h"

namespace wd {

namespace {

struct Request {
  std::string path;
  std::weak_ptr<Workspace> workspace;

  // The fallback: the folder with its default application.
  void openFolder() const {
    if (auto w = workspace.lock()) w->openFile(std::filesystem::path(path).parent_path().string());
  }
};

void onCalled(GObject* source, GAsyncResult* result, gpointer data) {
  std::unique_ptr<Request> request(static_cast<Request*>(data));
  GError* error = nullptr;
  GVariant* reply = g_dbus_connection_call_finish(G_DBUS_CONNECTION(source), result, &error);
  if (reply) {
    g_variant_unref(reply);
    return;
  }
  WD_LOG_INFO("No file manager shows {} ({}); its folder is opened instead", request->path,
              error ? error->message : "");
  g_clear_error(&error);
  request->openFolder();
}

void onBus(GObject*, GAsyncResult* result, gpointer data) {
  std::unique_ptr<Request> request(static_cast<Request*>(data));
  GDBusConnection* bus = g_bus_get_finish(result, nullptr);
  GCharPtr uri(g_filename_to_uri(request->path.c_str(), nullptr, nullptr));
  if (!bus || !uri) {
    if (bus) g_object_unref(bus);
    request->openFolder();
    return;
  }
  const char* items[] = {uri.get(), nullptr};
  g_dbus_connection_call(bus, "org.freedesktop.FileManager1", "/org/freedesktop/FileManager1",
                         "org.freedesktop.FileManager1", "ShowItems",
                         g_variant_new("(^ass)", items, ""), nullptr, G_DBUS_CALL_FLAGS_NONE, -1,
                         nullptr, &onCalled, request.release());
  g_object_unref(bus);
}

}  // namespace

void showInFolder(const std::string& path, std::shared_ptr<Workspace> workspace) {
  g_bus_get(G_BUS_TYPE_SESSION, nullptr, &onBus, new Request{path, workspace});
}

}  // namespace wd
