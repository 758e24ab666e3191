// The page's account object: searches for the page, the Account pane on request, certificate
// trust, and the relay of the account notifications into the page.
#include "shell/commands/AccountCommand.h"

#include "autodiscover/AutodiscoverWebController.h"
#include "bridge/Exports.h"
#include "core/CertificateExceptions.h"
#include "core/Settings.h"
#include "core/UserDefaults.h"
#include "shell/ShellContext.h"
#include "shell/window/CertificateTrust.h"
#include "shell/window/WebWindow.h"

namespace wd {

AccountCommand::AccountCommand(std::weak_ptr<bridge::WindowHandle> window, ShellContext& context)
    : bridge::Command(std::move(window)), context_(context) {
  auto& center = context_.center();
  // An empty object, as every event without data of its own: the page may read members of it.
  changed_ = center.addObserver(
      kAccountChanged, [this](const Notification&) { raise(kAccountChanged, Json::object()); });
  discovered_ = center.addObserver(kAccountWebDiscoveryNotification, [this](const Notification& n) {
    raise(kAccountWebDiscoveryNotification, n.object);
  });
  // Nothing to do for a verification request: the page that asked for it does the work.
  verifyRequest_ = center.addObserver(kAccountVerifyRequest, [](const Notification&) {});
}

AccountCommand::~AccountCommand() {
  if (auto search = std::move(autodiscover_)) search->stop();
}

const bridge::ClassInfo& AccountCommand::scriptClass() const {
  static const bridge::ClassInfo& info =
      bridge::ClassBuilder<AccountCommand>("AccountCommand")
          .method("verificationResult:", &AccountCommand::verificationResult)
          .method("showPreferences", &AccountCommand::showPreferences)
          .method("autodiscovery:password:server:", &AccountCommand::autodiscovery)
          .method("accountWebDiscovery:", &AccountCommand::accountWebDiscovery)
          .method("makeCertificateTrusted:", &AccountCommand::makeCertificateTrusted)
          .build();
  return info;
}

void AccountCommand::verificationResult(bridge::Value) {
  context_.center().post(kAccountVerificationResult);
}

void AccountCommand::showPreferences() {
  context_.openPreferences("Accounts");
}

void AccountCommand::autodiscovery(std::optional<std::string> username,
                                   std::optional<std::string> password,
                                   std::optional<std::string> domain) {
  if (auto former = std::move(autodiscover_)) former->stop();
  auto search = AutodiscoverWebController::create(username.value_or(""), password.value_or(""),
                                                  domain.value_or(""));
  autodiscover_ = search;
  search->startWithTimeout(kSearchSeconds);
}

void AccountCommand::accountWebDiscovery(bridge::Value) {}

void AccountCommand::makeCertificateTrusted(std::optional<std::string> host) {
  const std::string trusted = host ? serverHost(*host) : std::string();
  if (trusted.empty()) return;
  UserDefaults& defaults = context_.defaults();
  auto& exceptions = CertificateExceptions::shared();
  if (auto stored = defaults.stringForKey(Settings::kServer)) {
    const std::string storedHost = serverHost(*stored);
    if (!storedHost.empty()) exceptions.setAllowsAnyCertificate(false, storedHost);
  }
  exceptions.setAllowsAnyCertificate(true, trusted);
  defaults.setBool(Settings::kAllowUntrustedCertificates, true);
}

void AccountCommand::raise(const std::string& name, const Json& data) {
  if (auto window = std::dynamic_pointer_cast<WebWindow>(windowController()))
    window->pageEvents().raise(name, data.is_null() ? std::nullopt : std::optional<Json>(data));
}

}  // namespace wd
