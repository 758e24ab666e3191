#include "shell/app/MainWindowController.h"

#include <glib.h>

#include "bridge/Event.h"

namespace wd {

MainWindowController::MainWindowController(std::shared_ptr<WebWindow> window,
                                           NotificationHandler deliverNotification)
    : window_(std::move(window)), deliverNotification_(std::move(deliverNotification)) {
  appReadyObservation_ = NotificationCenter::defaultCenter().addObserver(
      "appReady", [this](const Notification&) { appReady(); });
}

void MainWindowController::dispatch(const std::string& name, const std::optional<Json>& data) {
  bridge::ScriptPage* page = window_ ? window_->scriptPage() : nullptr;
  if (!page) return;
  bridge::Event::triggerEvent(name, data, page);
}

void MainWindowController::postNotification(const std::string& name,
                                            const std::optional<Json>& data) {
  if (appInitialized_) {
    dispatch(name, data);
    return;
  }
  eventCache_[name] = data;
}

std::optional<std::string> MainWindowController::mailtoResourceSpecifier(
    const std::string& urlText) {
  static constexpr std::string_view kScheme = "mailto:";
  if (urlText.compare(0, kScheme.size(), kScheme) != 0) return std::nullopt;
  if (urlText.find('\0') != std::string::npos) return std::nullopt;
  if (!g_uri_is_valid(urlText.c_str(), G_URI_FLAGS_NONE, nullptr)) return std::nullopt;
  return urlText.substr(kScheme.size());
}

void MainWindowController::handleMailtoEvent(const std::string& urlText) {
  auto specifier = mailtoResourceSpecifier(urlText);
  if (!specifier) return;
  postNotification("newEmailRequest", Json{{"url", *specifier}});
}

void MainWindowController::handleFilesEvent(const std::vector<std::string>& files) {
  if (files.empty()) return;
  postNotification("shareFileRequest", Json{{"files", files}});
}

void MainWindowController::handleMessageAction(const std::string& action) {
  postNotification("messageAction", Json{{"action", action}});
}

void MainWindowController::handleGotoModule(const std::string& module) {
  postNotification("gotoModule", Json{{"module", module}});
}

void MainWindowController::handleNewItem(const std::string& item) {
  postNotification("newItem", Json{{"item", item}});
}

void MainWindowController::handleFulltextSearch() {
  postNotification("fulltextSearch", {});
}

void MainWindowController::handleShowFeedback() {
  postNotification("showFeedback", {});
}

void MainWindowController::handleWebAssist(const std::string& enabled) {
  postNotification("setWebAssist", Json{{"enabled", enabled}});
}

void MainWindowController::handleOutOfOffice(const std::string& enabled) {
  postNotification("setOutOfOffice", Json{{"enabled", enabled}});
}

void MainWindowController::handleUserNotification(const UserNotification& notification) {
  if (!appInitialized_) {
    userNotification_ = notification;
    return;
  }
  if (deliverNotification_) deliverNotification_(notification);
}

void MainWindowController::appReady() {
  appInitialized_ = true;
  // Take the held events first: a listener may raise new events while they are dispatched.
  auto cached = std::move(eventCache_);
  eventCache_.clear();
  for (const auto& [name, data] : cached) dispatch(name, data);
  if (userNotification_) {
    auto held = std::move(*userNotification_);
    userNotification_.reset();
    if (deliverNotification_) deliverNotification_(held);
  }
}

}  // namespace wd
