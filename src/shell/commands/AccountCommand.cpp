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
  return exports();
}

const bridge::ClassInfo& AccountCommand::exports() {
  static const bridge::ClassInfo& info =
      bridge::ClassBuilder<AccountCommand>("AccountCommand")
          .summary("The page's part in setting up the mail account.")
          .event({"accountChanged", "Record<string, never>", "The Account pane saved the account."})
          .event({"accountWebDiscovery",
                  "{ result: \"success\"; server: string; port: string } | { result: "
                  "\"invalidCredentials\" | \"autodiscoverFailed\" }",
                  "A window's account search ended."})
          .method("verificationResult:", &AccountCommand::verificationResult)
          .doc({.summary =
                    "Reports that the page finished verifying the account (to the Account pane).",
                .params = {"ignored?: unknown"}})
          .method("showPreferences", &AccountCommand::showPreferences)
          .doc({.summary = "Opens the Preferences window on the Account pane."})
          .method("autodiscovery:password:server:", &AccountCommand::autodiscovery)
          .doc({.summary = "Searches for the account's server; the outcome comes as "
                           "\"accountWebDiscovery\".",
                .params = {"username", "password", "server"},
                .refused = "\"\" (an empty domain fails like an unknown one)"})
          .method("accountWebDiscovery:", &AccountCommand::accountWebDiscovery)
          .doc({.summary = "Does nothing: the event comes from the search itself.",
                .params = {"ignored?: unknown"}})
          .method("makeCertificateTrusted:", &AccountCommand::makeCertificateTrusted)
          .doc({.summary = "Trusts the server's certificate for this host (a host name, host:port "
                           "or URL) from now on.",
                .params = {"host"},
                .refused = "nothing happens"})
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
