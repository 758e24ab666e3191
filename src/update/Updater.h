#pragma once
// The updater of one checking run: asks the update service at once when told to and then
// periodically, downloads and verifies newer releases (UpdateCheck), reports each ready update,
// and installs the last one on request. Dropping the updater ends its checks (a check in
// flight is cancelled and reports nothing).
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "update/UpdateCheck.h"

namespace wd::update {

class Installer;

class Updater {
 public:
  // `url` is the full service address with its query (none: every check fails).
  Updater(std::optional<std::string> url, UpdaterConfiguration config);
  ~Updater();
  Updater(const Updater&) = delete;
  Updater& operator=(const Updater&) = delete;

  // Called for every update that is downloaded, verified and ready to install, whichever check
  // found it; a version already reported by this updater is not reported again.
  void setUpdateHandler(std::function<void(const DownloadedUpdate&)> handler) {
    onUpdate_ = std::move(handler);
  }
  // Checks every `seconds` (at least one second) from now on, while the updater lives. A check
  // that is due while another runs is skipped.
  void startAutomaticChecksWithInterval(double seconds);
  // One check now. `done` gets this check's result (after the update handler, for an update).
  // While a check runs, `done` waits for that one.
  void checkForUpdates(std::function<void(const CheckResult&)> done);

  // The last update reported, when any.
  const std::optional<DownloadedUpdate>& downloadedUpdate() const { return downloaded_; }

  // Hands the last update to `installer`; `failed` gets a reason when nothing can be installed.
  void relaunchToInstallUpdate(Installer& installer,
                               const std::function<void(const std::string&)>& failed);

 private:
  void runCheck();
  void checkEnded(const CheckResult& result);

  std::optional<std::string> url_;
  UpdaterConfiguration config_;
  SoupSession* session_;
  std::function<void(const DownloadedUpdate&)> onUpdate_;
  std::vector<std::function<void(const CheckResult&)>> waiting_;
  std::shared_ptr<UpdateCheck> check_;
  std::optional<DownloadedUpdate> downloaded_;
  guint timer_ = 0;
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

}  // namespace wd::update
