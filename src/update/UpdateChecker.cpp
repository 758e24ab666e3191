#include "update/UpdateChecker.h"

#include "core/GLibPtr.h"
#include "core/I18n.h"
#include "core/Log.h"
#include "update/UpdateQuery.h"

namespace wd::update {

UpdateChecker::UpdateChecker(const std::string& url, const std::string& server, long long period,
                             const std::optional<std::string>& channel,
                             UpdaterConfiguration configuration, UpdateUserInterface& ui)
    : updateServer_(createComponentsFrom(url, server, configuration.clientVersion,
                                         channel.value_or("beta"), updateTarget())),
      seconds_(period),
      configuration_(std::move(configuration)),
      ui_(ui) {}

UpdateChecker::~UpdateChecker() = default;

void UpdateChecker::stop() {
  updater_.reset();
}

void UpdateChecker::start(bool manual) {
  stop();
  enableManualStartForUpdate(false);
  updater_ = std::make_unique<Updater>(updateServer_, configuration_);
  updater_->setUpdateHandler([this](const DownloadedUpdate& update) {
    WD_LOG_WARN("Checking new app version successfull, update is ready to install: {}",
                describe(update));
    showUpdateAvailable(update);
  });
  if (seconds_ > 0) updater_->startAutomaticChecksWithInterval(static_cast<double>(seconds_));
  updater_->checkForUpdates([this, manual](const CheckResult& result) {
    switch (result.kind) {
      case CheckResult::Kind::Failed:
        // The updater logged it (info): an offline laptop fails every period, which is no
        // warning. Only the user who asked hears of it.
        showUpdateCheckFailed(manual, result.failureReason);
        break;
      case CheckResult::Kind::NoUpdate:
        // The service knows no newer release: the user may ask again, and an answer to the
        // user's own request is shown.
        showNoUpdateAvailable(manual);
        break;
      case CheckResult::Kind::UpdateReady:
        break;  // announced by the update handler; the menu item stays disabled
    }
  });
}

void UpdateChecker::showUpdateAvailable(const DownloadedUpdate& update) {
  // Translators: %s is the release's name, as in "Wendrel Desktop 0.2.0".
  GCharPtr title(g_strdup_printf(_("New version %s"), update.update.releaseName.c_str()));
  ui_.postNotification(title.get(), _("An update is ready to install."));
  ui_.showUpdateWindow(update);
}

void UpdateChecker::showNoUpdateAvailable(bool manual) {
  enableManualStartForUpdate(true);
  if (manual) ui_.showNoUpdateWindow();
}

void UpdateChecker::showUpdateCheckFailed(bool manual, const std::string& reason) {
  enableManualStartForUpdate(true);
  if (manual) ui_.showUpdateCheckFailed(reason);
}

}  // namespace wd::update
