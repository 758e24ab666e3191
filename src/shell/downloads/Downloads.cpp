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
#include "core/I18n.h"
#include "core/Log.h"
#include "core/Settings.h"
#include "core/UserDefaults.h"
#include "shell/downloads/ShowInFolder.h"
#include "shell/system/Workspace.h"
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
  std::string url;
  std::string destination;
  std::function<void(const std::string& path)> didFinish;
  std::weak_ptr<WebWindow> window;
  bool chosen = false;  // saved where the user chose (not a file opened from the page)
  std::shared_ptr<AttachmentDownload> download;
  std::int64_t received = 0, total = -1;
};

// The download message of one window and the last outcome it shows once nothing runs.
struct Downloads::WindowBar {
  std::weak_ptr<WebWindow> window;
  std::unique_ptr<DownloadBar> view;
  std::string name, path, failure;  // the last outcome: a saved path or a failure
  std::unique_ptr<Running> retry;   // what Retry starts again
};
struct Downloads::SaveChooser {
  Downloads* owner;
  std::string url;
  std::weak_ptr<WebWindow> window;
  GObjectRef<GtkFileChooserNative> native;
  gulong handler = 0;
};

Downloads::Downloads(UserDefaults& defaults, PrepareRequest prepare,
                     std::shared_ptr<Workspace> workspace)
    : defaults_(defaults), prepare_(std::move(prepare)), workspace_(std::move(workspace)) {}

Downloads::~Downloads() {
  for (auto& chooser : choosers_) {
    g_signal_handler_disconnect(chooser->native.get(), chooser->handler);
    gtk_native_dialog_destroy(GTK_NATIVE_DIALOG(chooser->native.get()));
  }
  for (auto& running : running_) running->download->cancel();
  bars_.clear();
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
  chooser->native.reset(gtk_file_chooser_native_new(
      _("Save Attachment"), parent, GTK_FILE_CHOOSER_ACTION_SAVE, _("_Save"), _("_Cancel")));
  auto* dialog = GTK_NATIVE_DIALOG(chooser->native.get());
  auto* fc = GTK_FILE_CHOOSER(chooser->native.get());
  gtk_native_dialog_set_modal(dialog, TRUE);
  gtk_file_chooser_set_local_only(fc, TRUE);
  gtk_file_chooser_set_do_overwrite_confirmation(fc, TRUE);
  gtk_file_chooser_set_current_folder(fc, startingFolder().c_str());
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
  start(Running{.url = done->url, .destination = path, .window = done->window, .chosen = true});
}

std::string Downloads::startingFolder() const {
  // The remembered folder, else the desktop's download folder, else home; a folder that has
  // gone since (or never was one) is passed over.
  const std::string stored = defaults_.stringForKey(Settings::kDestinationDownload).value_or("");
  if (!stored.empty() && g_file_test(stored.c_str(), G_FILE_TEST_IS_DIR)) return stored;
  const char* downloads = g_get_user_special_dir(G_USER_DIRECTORY_DOWNLOAD);
  if (downloads && g_file_test(downloads, G_FILE_TEST_IS_DIR)) return downloads;
  return g_get_home_dir();
}

void Downloads::downloadFrom(const std::string& url, const std::string& destination,
                             std::function<void(const std::string& path)> didFinish,
                             const std::shared_ptr<WebWindow>& window) {
  start(Running{
      .url = url, .destination = destination, .didFinish = std::move(didFinish), .window = window});
}

void Downloads::start(Running from) {
  auto running = std::make_unique<Running>(std::move(from));
  Running* raw = running.get();
  AttachmentDownload::Callbacks callbacks;
  callbacks.progress = [this, raw](std::int64_t received, std::int64_t total) {
    raw->received = received;
    raw->total = total;
    refresh(raw->window.lock());
  };
  callbacks.finished = [this, raw](const std::optional<std::string>& failure) {
    finished(raw, failure);
  };
  running_.push_back(std::move(running));
  raw->download = AttachmentDownload::start(raw->url, raw->destination, prepare_,
                                            std::move(callbacks), stallMilliseconds_);
  refresh(raw->window.lock());
}

void Downloads::finished(Running* raw, const std::optional<std::string>& failure) {
  auto it = std::find_if(running_.begin(), running_.end(),
                         [raw](const auto& r) { return r.get() == raw; });
  if (it == running_.end()) return;
  // Kept until this returns: the download may be the one calling.
  std::unique_ptr<Running> done = std::move(*it);
  running_.erase(it);
  const auto window = done->window.lock();
  const std::string name = std::filesystem::path(done->destination).filename().string();
  if (WindowBar* bar = window ? barOf(window, failure || done->chosen) : nullptr) {
    bar->name = name;
    bar->path = !failure && done->chosen ? done->destination : std::string();
    bar->failure = failure.value_or("");
    bar->retry.reset();
    if (failure)
      bar->retry.reset(
          new Running{done->url, done->destination, done->didFinish, done->window, done->chosen});
  }
  refresh(window);
  if (!failure && done->didFinish) {
    auto finish = done->didFinish;
    finish(done->destination);
  }
}

Downloads::WindowBar* Downloads::barOf(const std::shared_ptr<WebWindow>& window, bool create) {
  // The bars of closed windows go.
  std::erase_if(bars_, [](const auto& bar) { return bar->window.expired(); });
  for (auto& bar : bars_)
    if (bar->window.lock() == window) return bar.get();
  GtkWindow* native = window && create ? window->gtkWindow() : nullptr;
  if (!native) return nullptr;
  auto bar = std::make_unique<WindowBar>();
  WindowBar* raw = bar.get();
  raw->window = window;
  raw->view =
      DownloadBar::attach(native, [this, raw](DownloadBar::Action action) { act(raw, action); });
  if (!raw->view) return nullptr;
  bars_.push_back(std::move(bar));
  return raw;
}

void Downloads::refresh(const std::shared_ptr<WebWindow>& window) {
  if (!window) return;
  const Running* latest = nullptr;
  std::size_t count = 0;
  for (const auto& r : running_)
    if (r->window.lock() == window) {
      latest = r.get();
      ++count;
    }
  WindowBar* bar = barOf(window, latest != nullptr);
  if (!bar) return;
  if (latest)
    bar->view->showRunning(std::filesystem::path(latest->destination).filename().string(),
                           count - 1, latest->received, latest->total);
  else if (!bar->failure.empty())
    bar->view->showFailed(bar->name, bar->failure);
  else if (!bar->path.empty())
    bar->view->showSaved(bar->name);
  else
    closeBar(bar);
}

void Downloads::closeBar(WindowBar* bar) {
  auto it =
      std::find_if(bars_.begin(), bars_.end(), [bar](const auto& b) { return b.get() == bar; });
  if (it == bars_.end()) return;
  // Dropped from the loop: the bar's button may be the one calling.
  auto* gone = it->release();
  bars_.erase(it);
  gtk_widget_hide(gone->view->widget());
  g_idle_add(
      +[](gpointer data) -> gboolean {
        delete static_cast<WindowBar*>(data);
        return G_SOURCE_REMOVE;
      },
      gone);
}

void Downloads::act(WindowBar* bar, DownloadBar::Action action) {
  const auto window = bar->window.lock();
  switch (action) {
    case DownloadBar::Action::Cancel: {
      std::vector<std::unique_ptr<Running>> cancelled;
      for (auto it = running_.begin(); it != running_.end();)
        if ((*it)->window.lock() == window) {
          (*it)->download->cancel();
          cancelled.push_back(std::move(*it));
          it = running_.erase(it);
        } else {
          ++it;
        }
      refresh(window);
      return;
    }
    case DownloadBar::Action::Open:
      if (workspace_ && !bar->path.empty()) workspace_->openFile(bar->path);
      return;
    case DownloadBar::Action::ShowInFolder:
      if (!bar->path.empty()) showInFolder(bar->path, workspace_);
      return;
    case DownloadBar::Action::Retry:
      if (bar->retry) {
        Running again = std::move(*bar->retry);
        bar->retry.reset();
        bar->failure.clear();
        start(std::move(again));
      }
      return;
    case DownloadBar::Action::Close:
      closeBar(bar);
      return;
  }
}

}  // namespace wd
