#pragma once
// The application's attachment downloads: a service of the running application (ShellContext)
// that owns every download in progress and every save dialog on screen. Two ways in:
//
// - downloadWithRequest: an attachment link of a page. A save dialog on the page's window
//   (transient for it, modal) opens in the folder of the setting "MacGap_destinationDownload"
//   (else the home folder) with the URL's last path component as the name; when the user
//   confirms, the chosen folder becomes that setting and the file is downloaded to the chosen
//   path. Cancelling starts nothing and stores nothing. While a window shows such a dialog,
//   further attachment links of its page are refused (logged).
// - downloadFrom: a download to a fixed path, without asking (the page's openInApp); the
//   caller hears of the finished file.
//
// Each download shows its progress in the window it was started for (DownloadBar), and a
// failure there; failures are logged (info). Every request goes through the "prepare request"
// hook (the application's cookie store adds its cookies for the URL). Destroying the service
// cancels what is running (no partial file is left) and closes its dialogs.
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "shell/downloads/AttachmentDownload.h"

namespace wd {

class UserDefaults;
class WebWindow;

class Downloads {
 public:
  explicit Downloads(UserDefaults& defaults, PrepareRequest prepare = {});
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

  void start(const std::string& url, const std::string& destination,
             std::function<void(const std::string& path)> didFinish,
             const std::shared_ptr<WebWindow>& window);
  void chosen(SaveChooser* chooser, int response);
  void remove(const Running* running);

  UserDefaults& defaults_;
  PrepareRequest prepare_;
  std::vector<std::unique_ptr<SaveChooser>> choosers_;
  std::vector<std::unique_ptr<Running>> running_;
};

}  // namespace wd
