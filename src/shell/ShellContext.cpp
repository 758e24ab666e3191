#include "shell/ShellContext.h"

#include "bridge/BridgeHost.h"
#include "bridge/ScriptObjectRegistry.h"
#include "core/Bundle.h"
#include "keychain/PDKeychainBindingsController.h"
#include "shell/app/ApplicationControl.h"
#include "shell/cookies/BSHTTPCookieStorage.h"
#include "shell/downloads/Downloads.h"
#include "shell/media/TextClipboard.h"
#include "shell/notifications/NotificationService.h"
#include "shell/system/LauncherBadge.h"
#include "shell/system/Workspace.h"

namespace wd {

ShellContext::ShellContext(Services services)
    : services_(std::move(services)),
      scriptClasses_(std::make_unique<bridge::ScriptObjectRegistry>()),
      bridgeHost_(std::make_unique<bridge::BridgeHost>()) {
  if (!services_.badge) services_.badge = std::make_shared<LauncherBadge>();
  if (!services_.keychain)
    services_.keychain =
        std::make_shared<PDKeychainBindingsController>(Bundle::main().identifier(), nullptr);
  if (!services_.cookies) services_.cookies = std::make_shared<BSHTTPCookieStorage>();
  // Downloads carry the application's own cookies for their URL.
  if (!services_.downloads) {
    std::weak_ptr<BSHTTPCookieStorage> cookies = services_.cookies;
    services_.downloads = std::make_shared<Downloads>(
        *services_.defaults,
        [cookies](SoupMessage* request) {
          if (auto store = cookies.lock()) store->handleCookiesInRequest(request);
        },
        services_.workspace);
  }
}

ShellContext::~ShellContext() {
  bridgeHost_.reset();
}

}  // namespace wd
