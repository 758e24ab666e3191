#include "update/Updater.h"

#include <libsoup/soup.h>

#include <algorithm>
#include <cmath>

#include "core/Log.h"
#include "update/Installer.h"

namespace wd::update {

Updater::Updater(std::optional<std::string> url, UpdaterConfiguration config)
    : url_(std::move(url)), config_(std::move(config)), session_(soup_session_new()) {
  // A server that stops answering ends the check after a minute of silence (a slow download
  // that keeps arriving is not cut off), so the next check can run.
  soup_session_set_timeout(session_, 60);
  soup_session_set_idle_timeout(session_, 60);
}

Updater::~Updater() {
  *alive_ = false;
  if (timer_) g_source_remove(timer_);
  if (check_) check_->cancel();
  check_.reset();
  soup_session_abort(session_);
  g_object_unref(session_);
}

void Updater::startAutomaticChecksWithInterval(double seconds) {
  if (timer_) g_source_remove(timer_);
  // GLib counts whole seconds in an unsigned int; a year is far beyond any sensible period.
  const double clamped = std::clamp(std::isfinite(seconds) ? seconds : 1.0, 1.0, 365.0 * 86400);
  timer_ = g_timeout_add_seconds(
      static_cast<guint>(clamped),
      +[](gpointer data) -> gboolean {
        static_cast<Updater*>(data)->runCheck();
        return G_SOURCE_CONTINUE;
      },
      this);
}

void Updater::checkForUpdates(std::function<void(const CheckResult&)> done) {
  if (done) waiting_.push_back(std::move(done));
  runCheck();
}

void Updater::runCheck() {
  if (check_) return;  // one at a time; whoever waits gets the running one's result
  auto base = url_.value_or(std::string());
  check_ = UpdateCheck::create(session_, base, config_,
                               [this](CheckResult result) { checkEnded(result); });
  check_->start();
}

void Updater::checkEnded(const CheckResult& result) {
  auto alive = alive_;
  auto finished = std::move(check_);  // kept until its report returns
  auto waiting = std::move(waiting_);
  waiting_.clear();
  if (result.kind == CheckResult::Kind::Failed)
    WD_LOG_INFO("Update check failed: {}", result.failureReason);
  // A release already announced by this updater is not announced again at every period.
  if (result.kind == CheckResult::Kind::UpdateReady && result.update &&
      !(downloaded_ && downloaded_->update.version == result.update->update.version)) {
    downloaded_ = result.update;
    if (onUpdate_) onUpdate_(*result.update);
    if (!*alive) return;  // the handler dropped this updater
  }
  for (auto& done : waiting) {
    done(result);
    if (!*alive) return;
  }
}

void Updater::relaunchToInstallUpdate(Installer& installer,
                                      const std::function<void(const std::string&)>& failed) {
  if (!downloaded_) {
    if (failed) failed("no update has been downloaded");
    return;
  }
  installer.install(*downloaded_, failed);
}

}  // namespace wd::update
