#include "shell/system/Workspace.h"

#include <gio/gdesktopappinfo.h>
#include <gio/gio.h>

#include "core/Log.h"

namespace wd {

namespace {
void onLaunched(GObject*, GAsyncResult* result, gpointer data) {
  std::unique_ptr<std::string> what(static_cast<std::string*>(data));
  GError* error = nullptr;
  if (!g_app_info_launch_default_for_uri_finish(result, &error)) {
    WD_LOG_INFO("Opening {} failed: {}", *what, error ? error->message : "unknown error");
    g_clear_error(&error);
  }
}

bool openURI(const std::string& uri) {
  g_app_info_launch_default_for_uri_async(uri.c_str(), nullptr, nullptr, onLaunched,
                                          new std::string(uri));
  return true;
}

bool equalsIgnoringCase(const char* a, const std::string& b) {
  return a && g_ascii_strcasecmp(a, b.c_str()) == 0;
}
}  // namespace

bool GioWorkspace::openURL(const std::string& url) {
  if (url.empty() || url.find('\0') != std::string::npos) return false;
  GUri* parsed = g_uri_parse(url.c_str(), G_URI_FLAGS_NONE, nullptr);
  if (!parsed) return false;
  g_uri_unref(parsed);
  return openURI(url);
}

bool GioWorkspace::openFile(const std::string& path) {
  if (path.empty() || path.find('\0') != std::string::npos) return false;
  GFile* file = g_file_new_for_path(path.c_str());
  gchar* uri = g_file_get_uri(file);
  bool ok = openURI(uri);
  g_free(uri);
  g_object_unref(file);
  return ok;
}

std::optional<std::string> GioWorkspace::findApplication(const std::string& name) {
  if (name.empty() || name.find('\0') != std::string::npos) return std::nullopt;
  std::optional<std::string> found;
  GList* all = g_app_info_get_all();
  for (GList* l = all; l && !found; l = l->next) {
    GAppInfo* info = G_APP_INFO(l->data);
    const char* id = g_app_info_get_id(info);
    std::string bareId = id ? id : "";
    if (bareId.size() > 8 && bareId.ends_with(".desktop")) bareId.resize(bareId.size() - 8);
    const char* exe = g_app_info_get_executable(info);
    gchar* exeBase = exe ? g_path_get_basename(exe) : nullptr;
    if (equalsIgnoringCase(id, name) || equalsIgnoringCase(bareId.c_str(), name) ||
        equalsIgnoringCase(g_app_info_get_name(info), name) ||
        equalsIgnoringCase(g_app_info_get_display_name(info), name) ||
        equalsIgnoringCase(exeBase, name))
      found = id ? std::optional<std::string>(id) : std::nullopt;
    g_free(exeBase);
  }
  g_list_free_full(all, g_object_unref);
  return found;
}

bool GioWorkspace::launchApplication(const std::string& name) {
  auto id = findApplication(name);
  if (!id) return false;
  GDesktopAppInfo* info = g_desktop_app_info_new(id->c_str());
  if (!info) return false;
  // Asynchronous: an application started over D-Bus (DBusActivatable) is not waited for.
  g_app_info_launch_uris_async(
      G_APP_INFO(info), nullptr, nullptr, nullptr,
      +[](GObject* source, GAsyncResult* result, gpointer data) {
        std::unique_ptr<std::string> what(static_cast<std::string*>(data));
        GError* error = nullptr;
        if (!g_app_info_launch_uris_finish(G_APP_INFO(source), result, &error)) {
          WD_LOG_INFO("Launching {} failed: {}", *what, error ? error->message : "unknown error");
          g_clear_error(&error);
        }
      },
      new std::string(name));
  g_object_unref(info);
  return true;
}

}  // namespace wd
