#pragma once
// The application's periodic update check: made by the application delegate with the service
// URL, the mail server's name (given by the page) and the period; each run (`start`) makes a new
// Updater that checks at once and then every `seconds`. What the user sees goes through an
// UpdateUserInterface: the "Check for Update..." menu item is disabled while a run's first check
// is under way, a ready update is announced by a desktop notification and a fresh update window,
// a check the user asked for that found nothing is answered by the no-update window, and one
// that failed by a message with its reason. Failed automatic checks are only logged (info).
#include <memory>
#include <optional>
#include <string>

#include "update/Updater.h"

namespace wd::update {

class UpdateUserInterface {
 public:
  virtual ~UpdateUserInterface() = default;
  // Enables or disables the application menu's "Check for Update..." item.
  virtual void enableManualStartForUpdate(bool enabled) = 0;
  // A desktop notification without identifier or user data (a click only shows the main
  // window).
  virtual void postNotification(const std::string& title, const std::string& informativeText) = 0;
  // A new update window for `update`, replacing the previous one, in front.
  virtual void showUpdateWindow(const DownloadedUpdate& update) = 0;
  // The no-update window (made once, shown again), in front.
  virtual void showNoUpdateWindow() = 0;
  // The user's check failed: says so, with the reason, in front.
  virtual void showUpdateCheckFailed(const std::string& reason) = 0;
};

class UpdateChecker {
 public:
  // `channel` is the stored update channel, when one is stored ("beta" otherwise).
  UpdateChecker(const std::string& url, const std::string& server, long long period,
                const std::optional<std::string>& channel, UpdaterConfiguration configuration,
                UpdateUserInterface& ui);
  ~UpdateChecker();
  UpdateChecker(const UpdateChecker&) = delete;
  UpdateChecker& operator=(const UpdateChecker&) = delete;

  // A new run; `manual`: the user asked for it. A period of 0 or less makes no automatic checks.
  void start(bool manual);
  void stop();

  void enableManualStartForUpdate(bool enabled) { ui_.enableManualStartForUpdate(enabled); }
  void showUpdateAvailable(const DownloadedUpdate& update);
  // Ends a check that found nothing to install.
  void showNoUpdateAvailable(bool manual);
  // Ends a check that failed.
  void showUpdateCheckFailed(bool manual, const std::string& reason);

  // The updater of the current run; none when stopped.
  Updater* updater() const { return updater_.get(); }
  // The service URL with its query; none when the configured URL is not an http(s) URL.
  const std::optional<std::string>& updateServer() const { return updateServer_; }
  long long seconds() const { return seconds_; }

 private:
  std::unique_ptr<Updater> updater_;
  std::optional<std::string> updateServer_;
  long long seconds_;
  UpdaterConfiguration configuration_;
  UpdateUserInterface& ui_;
};

}  // namespace wd::update
