#pragma once
// The running application's services, made once at start-up and handed down by constructor to
// everything in the shell that needs them: application control, desktop notifications, the
// workspace (URLs, applications), the launcher badge, the settings store, the application's
// menus, the text clipboard, the named-notification centre, the keychain store (secure values),
// the application's cookie store, the attachment downloads, the script-class registry and the
// script bridge's host. Tests make a context over doubles instead of replacing process-wide
// objects.
//
// The context owns the bridge host and the class registry; the other services are shared with
// their creator. Destroying the context drops the bridge host first, so the script objects the
// pages still hold are released while every service they use is alive.
#include <functional>
#include <memory>
#include <string>

namespace wd {

class ApplicationControl;
class ApplicationMenu;
class Badge;
class BSHTTPCookieStorage;
class Downloads;
class NotificationCenter;
class NotificationService;
class TextClipboard;
class PDKeychainBindingsController;
class UserDefaults;
class Workspace;
namespace bridge {
class BridgeHost;
class ScriptObjectRegistry;
}  // namespace bridge

class ShellContext {
 public:
  // Every service is required, except `badge` (none: the desktop's launcher badge),
  // `keychain` (none: a store without a keyring, values kept for this run only), `cookies`
  // (none: an empty cookie store of its own) and `downloads`.
  struct Services {
    std::shared_ptr<ApplicationControl> application;
    std::shared_ptr<NotificationService> notifications;
    std::shared_ptr<Workspace> workspace;
    UserDefaults* defaults = nullptr;      // not owned
    NotificationCenter* center = nullptr;  // not owned
    // The application's menus; none in contexts without menus (MacGap.Menu is then absent).
    std::shared_ptr<ApplicationMenu> menus = nullptr;
    std::shared_ptr<TextClipboard> clipboard;
    std::shared_ptr<Badge> badge;
    // The keychain store; none gives a store without a keyring (values kept for this run only).
    std::shared_ptr<PDKeychainBindingsController> keychain;
    // The application's own cookie store (one per application).
    std::shared_ptr<BSHTTPCookieStorage> cookies;
    // The attachment downloads; none gives downloads whose requests carry the cookie store's
    // cookies.
    std::shared_ptr<Downloads> downloads;
  };

  explicit ShellContext(Services services);
  ~ShellContext();
  ShellContext(const ShellContext&) = delete;
  ShellContext& operator=(const ShellContext&) = delete;

  ApplicationControl& application() const { return *services_.application; }
  NotificationService& notifications() const { return *services_.notifications; }
  Workspace& workspace() const { return *services_.workspace; }
  Badge& badge() const { return *services_.badge; }
  UserDefaults& defaults() const { return *services_.defaults; }
  NotificationCenter& center() const { return *services_.center; }
  ApplicationMenu* menus() const { return services_.menus.get(); }
  TextClipboard& clipboard() const { return *services_.clipboard; }
  PDKeychainBindingsController& keychain() const { return *services_.keychain; }
  const std::shared_ptr<BSHTTPCookieStorage>& cookies() const { return services_.cookies; }
  Downloads& downloads() const { return *services_.downloads; }
  bridge::ScriptObjectRegistry& scriptClasses() const { return *scriptClasses_; }
  bridge::BridgeHost& bridgeHost() const { return *bridgeHost_; }

  // The Preferences window on a pane ("General", "Accounts"), through whoever owns the window
  // (the application delegate sets it while it lives); without one nothing happens.
  using PreferencesOpener = std::function<void(const std::string& pane)>;
  void setPreferencesOpener(PreferencesOpener opener) { preferencesOpener_ = std::move(opener); }
  void openPreferences(const std::string& pane) const {
    if (preferencesOpener_) preferencesOpener_(pane);
  }

 private:
  Services services_;
  PreferencesOpener preferencesOpener_;
  std::unique_ptr<bridge::ScriptObjectRegistry> scriptClasses_;
  std::unique_ptr<bridge::BridgeHost> bridgeHost_;  // last: destroyed first
};

}  // namespace wd
