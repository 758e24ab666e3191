// The application's attachment downloads and their save dialogs (see Downloads.h).
#include "shell/downloads/Downloads.h"

#include <gtk/gtk.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>

#include "core/GLibPtr.h"
#include "core/Log.h"
#include "core/Settings.h"
#include "core/UserDefaults.h"
#include "shell/downloads/DownloadBar.h"
#include "shell/window/WebWindow.h"

namespace wd {

namespace {

constexpr std::size_t kMaxName = 255;

std::string pathOf(GFile* file) {
  GCharPtr path(file ? g_file_get_path(file) : nullptr);
  return path ? std::string(path.get()) : std::string();
}

}  // namespace

struct Downloads::Running {
  std::shared_ptr<AttachmentDownload> download;
  std::unique_ptr<DownloadBar> bar;
};

struct Downloads::SaveChooser {
  Downloads* owner;
  std::string url;
  std::weak_ptr<WebWindow> window;
  GObjectRef<GtkFileChooserNative> native;
  gulong handler = 0;
};

Downloads::Downloads(UserDefaults& defaults, PrepareRequest prepare)
    : defaults_(defaults), prepare_(std::move(prepare)) {}

Downloads::~Downloads() {
  for (auto& chooser : choosers_) {
    g_signal_handler_disconnect(chooser->native.get(), chooser->handler);
    gtk_native_dialog_destroy(GTK_NATIVE_DIALOG(chooser->native.get()));
  }
  for (auto& running : running_) running->download->cancel();
}

std::string Downloads::proposedFileName(const std::string& url) {
  // The last component as written, then decoded: an escaped "/" stays inside the name.
  std::string name;
  if (url.find('\0') == std::string::npos)
    if (GUri* uri =
            g_uri_parse(url.c_str(),
                        GUriFlags(G_URI_FLAGS_PARSE_RELAXED | G_URI_FLAGS_ENCODED_PATH), nullptr)) {
      std::string path = g_uri_get_path(uri);
      g_uri_unref(uri);
      while (!path.empty() && path.back() == '/') path.pop_back();
      name = path.substr(path.find_last_of('/') + 1);
      if (GBytes* decoded = g_uri_unescape_bytes(name.c_str(), static_cast<gssize>(name.size()),
                                                 nullptr, nullptr)) {
        gsize size = 0;
        const auto* data = static_cast<const char*>(g_bytes_get_data(decoded, &size));
        name.assign(data ? data : "", size);
        g_bytes_unref(decoded);
      }
    }
  std::replace(name.begin(), name.end(), '\0', '_');
  GCharPtr valid(g_utf8_make_valid(name.c_str(), static_cast<gssize>(name.size())));
  std::string safe;
  for (const char* p = valid.get(); *p; p = g_utf8_next_char(p)) {
    const gunichar c = g_utf8_get_char(p);
    if (c == '/' || g_unichar_iscntrl(c)) {
      safe += '_';
      continue;
    }
    if (c == '.' && safe.empty()) continue;  // no hidden file, no "." or ".."
    const char* next = g_utf8_next_char(p);
    if (safe.size() + static_cast<std::size_t>(next - p) > kMaxName) break;
    safe.append(p, next);
  }
  return safe.empty() ? "download" : safe;
}

std::optional<std::string> Downloads::temporaryDirectory() {
  const std::string dir =
      (std::filesystem::path(g_get_tmp_dir()) / ("wendrel-desktop-" + std::to_string(::getuid())))
          .string();
  if (::mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) {
    WD_LOG_INFO("The folder {} cannot be made: {}", dir, std::strerror(errno));
    return std::nullopt;
  }
  struct stat st {};
  if (::lstat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != ::getuid() ||
      (st.st_mode & 077) != 0) {
    WD_LOG_INFO("The folder {} is not a private folder of this user; not used", dir);
    return std::nullopt;
  }
  return dir;
}

void Downloads::downloadWithRequest(const std::string& url,
                                    const std::shared_ptr<WebWindow>& window) {
  if (!gdk_display_get_default()) {
    WD_LOG_INFO("No display for the save dialog; {} is not downloaded", url);
    return;
  }
  // One save dialog per window: a page cannot flood the desktop with dialogs.
  for (const auto& open : choosers_)
    if (open->window.lock() == window) {
      WD_LOG_INFO("A save dialog is open on the window already; {} is not downloaded", url);
      return;
    }
  GtkWindow* parent = window ? window->gtkWindow() : nullptr;
  auto chooser = std::make_unique<SaveChooser>(SaveChooser{this, url, window, {}, 0});
  chooser->native.reset(gtk_file_chooser_native_new(nullptr, parent, GTK_FILE_CHOOSER_ACTION_SAVE,
                                                    "_Save", "_Cancel"));
  auto* dialog = GTK_NATIVE_DIALOG(chooser->native.get());
  auto* fc = GTK_FILE_CHOOSER(chooser->native.get());
  gtk_native_dialog_set_modal(dialog, TRUE);
  gtk_file_chooser_set_local_only(fc, TRUE);
  gtk_file_chooser_set_do_overwrite_confirmation(fc, TRUE);
  const std::string stored = defaults_.stringForKey(Settings::kDestinationDownload).value_or("");
  // A folder that has gone since (or never was one) gives the home folder.
  const bool usable = !stored.empty() && g_file_test(stored.c_str(), G_FILE_TEST_IS_DIR);
  gtk_file_chooser_set_current_folder(fc, usable ? stored.c_str() : g_get_home_dir());
  gtk_file_chooser_set_current_name(fc, proposedFileName(url).c_str());
  chooser->handler = g_signal_connect(
      dialog, "response", G_CALLBACK(+[](GtkNativeDialog*, gint response, gpointer data) {
        auto* c = static_cast<SaveChooser*>(data);
        c->owner->chosen(c, response);
      }),
      chooser.get());
  choosers_.push_back(std::move(chooser));
  gtk_native_dialog_show(dialog);
}

void Downloads::chosen(SaveChooser* chooser, int response) {
  auto it = std::find_if(choosers_.begin(), choosers_.end(),
                         [chooser](const auto& c) { return c.get() == chooser; });
  if (it == choosers_.end()) return;
  std::unique_ptr<SaveChooser> done = std::move(*it);
  choosers_.erase(it);
  g_signal_handler_disconnect(done->native.get(), done->handler);
  // The dialog is still emitting this answer: it is released from the loop.
  GtkFileChooserNative* native = done->native.release();
  g_idle_add_full(
      G_PRIORITY_DEFAULT_IDLE,
      +[](gpointer object) -> gboolean {
        g_object_unref(object);
        return G_SOURCE_REMOVE;
      },
      native, nullptr);
  if (response != GTK_RESPONSE_ACCEPT) return;
  GObjectRef<GFile> file(gtk_file_chooser_get_file(GTK_FILE_CHOOSER(native)));
  const std::string path = pathOf(file.get());
  if (path.empty()) {
    WD_LOG_INFO("The chosen location has no local path; {} is not downloaded", done->url);
    return;
  }
  GObjectRef<GFile> folder(g_file_get_parent(file.get()));
  defaults_.setString(Settings::kDestinationDownload, folder ? pathOf(folder.get()) : "/");
  start(done->url, path, nullptr, done->window.lock());
}

void Downloads::downloadFrom(const std::string& url, const std::string& destination,
                             std::function<void(const std::string& path)> didFinish,
                             const std::shared_ptr<WebWindow>& window) {
  start(url, destination, std::move(didFinish), window);
}

void Downloads::start(const std::string& url, const std::string& destination,
                      std::function<void(const std::string& path)> didFinish,
                      const std::shared_ptr<WebWindow>& window) {
  auto running = std::make_unique<Running>();
  Running* raw = running.get();
  const std::string name = std::filesystem::path(destination).filename().string();
  if (GtkWindow* native = window ? window->gtkWindow() : nullptr)
    running->bar = DownloadBar::attach(native, name, [this, raw] {
      raw->download->cancel();
      remove(raw);
    });
  AttachmentDownload::Callbacks callbacks;
  callbacks.progress = [raw](std::int64_t received, std::int64_t total) {
    if (raw->bar) raw->bar->progress(received, total);
  };
  callbacks.finished =
      [this, raw, didFinish = std::move(didFinish)](const std::optional<std::string>& failure) {
        if (failure && raw->bar) raw->bar->failed(*failure);
        const std::string path = raw->download->destination();
        auto finish = didFinish;
        remove(raw);
        if (!failure && finish) finish(path);
      };
  running_.push_back(std::move(running));
  raw->download = AttachmentDownload::start(url, destination, prepare_, std::move(callbacks));
}

void Downloads::remove(const Running* running) {
  auto it = std::find_if(running_.begin(), running_.end(),
                         [running](const auto& r) { return r.get() == running; });
  if (it == running_.end()) return;
  // Dropped after the erase: the download may be the one calling.
  std::unique_ptr<Running> gone = std::move(*it);
  running_.erase(it);
}

}  // namespace wd
