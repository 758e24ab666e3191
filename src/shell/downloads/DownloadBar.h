#pragma once
// The one download message of a web window: an info bar above the page that shows, in turn,
// - the downloads running in the window: the latest one's name (and how many more run), its
//   progress (the share received, or a pulse when the server gave no length) and Cancel, which
//   stops every download of the window;
// - once nothing runs, the last outcome: a saved file with Open, Show in Folder and Close, or a
//   failure in the error style with the file's name, the reason once, Retry and Close.
// A later outcome replaces an earlier one, so failures never stack. Every button has a text
// label, which is its accessible name; the progress bar has an accessible name of its own.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

typedef struct _GtkWindow GtkWindow;
typedef struct _GtkWidget GtkWidget;

namespace wd {

class DownloadBar {
 public:
  enum class Action { Cancel, Open, ShowInFolder, Retry, Close };

  // Adds a bar at the top of `window`'s content box; none when the window has no such box.
  // `act` runs for each button the user presses (it may destroy the bar).
  static std::unique_ptr<DownloadBar> attach(GtkWindow* window, std::function<void(Action)> act);
  ~DownloadBar();  // removes the bar from its window
  DownloadBar(const DownloadBar&) = delete;
  DownloadBar& operator=(const DownloadBar&) = delete;

  void showRunning(const std::string& name, std::size_t others, std::int64_t received,
                   std::int64_t total);
  void showSaved(const std::string& name);
  void showFailed(const std::string& name, const std::string& reason);

  GtkWidget* widget() const { return bar_; }

 private:
  explicit DownloadBar(GtkWidget* bar, std::function<void(Action)> act);
  void showButtons(bool cancel, bool saved, bool retry);

  GtkWidget* bar_;  // a reference of our own
  GtkWidget* label_ = nullptr;
  GtkWidget* progress_ = nullptr;
  GtkWidget* cancel_ = nullptr;
  GtkWidget* open_ = nullptr;
  GtkWidget* show_ = nullptr;
  GtkWidget* retry_ = nullptr;
  GtkWidget* close_ = nullptr;
  std::function<void(Action)> act_;
  unsigned long handler_ = 0;
};

}  // namespace wd
