#pragma once
// A download's progress in its web window: an info bar above the page with the file's name,
// a progress bar (the share received, or a pulse when the server gave no length) with the
// amounts, and a Cancel button. When the download fails the bar turns into an error message
// with the reason, which stays until the user closes it; otherwise it goes away with this
// object.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

typedef struct _GtkWindow GtkWindow;
typedef struct _GtkWidget GtkWidget;

namespace wd {

class DownloadBar {
 public:
  // Adds a bar for the file `name` at the top of `window`'s content box; none when the window
  // has no such box. `cancel` runs when the user presses Cancel (it may destroy the bar).
  static std::unique_ptr<DownloadBar> attach(GtkWindow* window, const std::string& name,
                                             std::function<void()> cancel);
  ~DownloadBar();
  DownloadBar(const DownloadBar&) = delete;
  DownloadBar& operator=(const DownloadBar&) = delete;

  void progress(std::int64_t received, std::int64_t total);
  // Shows why the download failed; the message outlives this object until the user closes it.
  void failed(const std::string& reason);

  GtkWidget* widget() const { return bar_; }

 private:
  DownloadBar(GtkWidget* bar, std::string name, std::function<void()> cancel);
  static void onResponse(GtkWidget* bar, int response, void* self);

  GtkWidget* bar_;  // a reference of our own
  GtkWidget* cancelButton_ = nullptr;
  GtkWidget* label_ = nullptr;
  GtkWidget* progress_ = nullptr;
  std::string name_;
  std::function<void()> cancel_;
  unsigned long handler_ = 0;
  bool failed_ = false;
};

}  // namespace wd
