#pragma once
// MacGap.AccountCommand: the page's part in account set-up. The page runs an autodiscovery with
// the user's address and password (its outcome arrives as the event "accountWebDiscovery"),
// opens the Account pane of the Preferences window, declares a server's certificate trusted
// and reports the outcome of its own account verification. The object also relays the
// application's account notifications into its page: "accountChanged" (the Account pane saved)
// and "accountWebDiscovery" (any window's search ended), so every window's page hears them.
#include <memory>
#include <optional>
#include <string>

#include "bridge/Command.h"
#include "bridge/Value.h"
#include "core/NotificationCenter.h"

namespace wd {

class AutodiscoverWebController;
class ShellContext;

class AccountCommand : public bridge::Command {
 public:
  static constexpr const char* kAccountChanged = "accountChanged";
  static constexpr const char* kAccountVerifyRequest = "accountVerifyRequest";
  static constexpr const char* kAccountVerificationResult = "accountVerificationResult";
  static constexpr int kSearchSeconds = 30;

  AccountCommand(std::weak_ptr<bridge::WindowHandle> window, ShellContext& context);
  ~AccountCommand() override;
  const bridge::ClassInfo& scriptClass() const override;
  // The exports table, reachable without an object (the page API generator reads it).
  static const bridge::ClassInfo& exports();

  // Posts "accountVerificationResult"; the argument is not used.
  void verificationResult(bridge::Value ignored);
  // The Preferences window comes up on the Account pane.
  void showPreferences();
  // Starts a search for the page; a search this object started before is stopped first and
  // never reports. Missing texts count as empty (an empty domain fails like an unknown one).
  void autodiscovery(std::optional<std::string> username, std::optional<std::string> password,
                     std::optional<std::string> domain);
  // Script-visible for the page's sake only: the event comes from the notification, so a page
  // calling it directly changes nothing.
  void accountWebDiscovery(bridge::Value ignored);
  // Moves the certificate exception from the stored server to `host` (a host name, "host:port"
  // or a URL) and remembers the choice for the next start. A value without a host does nothing.
  void makeCertificateTrusted(std::optional<std::string> host);

  // The search started by this object's page, if one runs.
  const std::shared_ptr<AutodiscoverWebController>& autodiscover() const { return autodiscover_; }

 private:
  void raise(const std::string& name, const Json& data);

  ShellContext& context_;
  std::shared_ptr<AutodiscoverWebController> autodiscover_;
  NotificationCenter::Token changed_, discovered_, verifyRequest_;
};

}  // namespace wd
