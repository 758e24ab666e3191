#pragma once
// The application's attachment downloads: a service of the running application (ShellContext)
// that owns every download in progress and every save dialog on screen. Two ways in:
//
// - downloadWithRequest: an attachment link of a page. A save dialog on the page's window
//   ("Save Attachment", transient for it, modal) opens in the folder of the setting
//   "MacGap_destinationDownload" (else the desktop's download folder, else the home folder)
//   with the URL's last path component as the name; when the user
//   confirms, the chosen folder becomes that setting and the file is downloaded to the chosen
//   path. Cancelling starts nothing and stores nothing. While a window shows such a dialog,
//   further attachment links of its page are refused (logged).
// - downloadFrom: a download to a fixed path, without asking (the page's openInApp); the
//   caller hears of the finished file.
//
// Each window shows its downloads in one bar (DownloadBar): the running ones, then the last
// outcome. A file saved where the user chose offers Open (the workspace's default application)
// and Show in Folder (ShowInFolder); a failure offers Retry, which starts the same download to
// the same file again; a file opened from the page leaves no outcome. Failures are logged
// (info). Every request goes through the "prepare request" hook (the application's cookie store
// adds its cookies for the URL). Destroying the service cancels what is running (no partial
// file is left) and closes its dialogs.
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "shell/downloads/AttachmentDownload.h"
#include "shell/downloads/DownloadBar.h"

namespace wd {

class UserDefaults;
class WebWindow;
class Workspace;

class Downloads {
 public:
  explicit Downloads(UserDefaults& defaults, PrepareRequest prepare = {},
                     std::shared_ptr<Workspace> workspace = nullptr);
  ~Downloads();
  Downloads(const Downloads&) = delete;
  Downloads& operator=(const Downloads&) = delete;

  // Asks where to save `url` on `window` and downloads it there. Returns at once.
  void downloadWithRequest(const std::string& url, const std::shared_ptr<WebWindow>& window);

  // Downloads `url` to `destination` (replacing a file there once the new one is complete);
  // `didFinish` gets the destination then. A failed download calls nothing. The progress shows
  // in `window` when one is given.
  void downloadFrom(const std::string& url, const std::string& destination,
                    std::function<void(const std::string& path)> didFinish,
                    const std::shared_ptr<WebWindow>& window = nullptr);

  // How long a download may receive nothing before it fails (a minute unless changed).
  void setStallTimeout(unsigned milliseconds) { stallMilliseconds_ = milliseconds; }

  // The folder a save dialog starts in: the remembered one, else the desktop's download
  // folder, else the home folder (each only when it is a folder).
  std::string startingFolder() const;

  // How many downloads are in progress.
  std::size_t running() const { return running_.size(); }

  // The file name a URL proposes: its last path component, percent-decoded, made safe as one
  // file name (valid UTF-8, no "/" or control characters, no leading dots, at most 255 bytes);
  // "download" when nothing is left.
  static std::string proposedFileName(const std::string& url);

  // The user's private folder for files opened from the page: "wendrel-desktop-<user id>" in
  // the temporary directory, created with mode 0700. None (logged) when it cannot be made or is
  // not a folder of this user's that only this user can reach.
  static std::optional<std::string> temporaryDirectory();

 private:
  struct Running;
  struct SaveChooser;
  struct WindowBar;

  void start(Running from);
  void chosen(SaveChooser* chooser, int response);
  void finished(Running* running, const std::optional<std::string>& failure);
  WindowBar* barOf(const std::shared_ptr<WebWindow>& window, bool create);
  void refresh(const std::shared_ptr<WebWindow>& window);
  void closeBar(WindowBar* bar);
  void act(WindowBar* bar, DownloadBar::Action action);

  UserDefaults& defaults_;
  PrepareRequest prepare_;
  std::shared_ptr<Workspace> workspace_;
  unsigned stallMilliseconds_ = AttachmentDownload::kStallMilliseconds;
  std::vector<std::unique_ptr<WindowBar>> bars_;
  std::vector<std::unique_ptr<SaveChooser>> choosers_;
  std::vector<std::unique_ptr<Running>> running_;
};

}  // namespace wd
