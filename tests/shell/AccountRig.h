#pragma once
// The account tests' rig: an empty settings store, a keychain over an in-memory (or the session's)
// keyring, the account notifications posted in order and, on request, autodiscovery's servers.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "autodiscover/NetworkSandbox.h"
#include "autodiscover/TestHttpsServer.h"
#include "core/CertificateExceptions.h"
#include "core/Settings.h"
#include "keychain/KeychainTestSupport.h"
#include "keychain/LibsecretBackend.h"
#include "keychain/testing/MemorySecretBackend.h"
#include "shell/ShellFakes.h"

namespace wd::test {

class AccountRig : public ::testing::Test {
 protected:
  void SetUp() override {
    const Json all = store().dictionaryRepresentation();
    for (const auto& item : all.items()) store().removeObjectForKey(item.key());
    Settings::registerDefaults();
    CertificateExceptions::shared().clear();
    for (const char* name : {"accountChanged", "accountVerifyRequest", "accountVerificationResult",
                             "accountWebDiscovery"})
      tokens.push_back(NotificationCenter::defaultCenter().addObserver(
          name, [this](const Notification& n) { posted.push_back(n.name); }));
  }
  void TearDown() override { CertificateExceptions::shared().clear(); }

  // The trusted server of the autodiscovery rig (ports 443 and 8443) in the network sandbox.
  void startServers() {
    const auto& sandbox = NetworkSandbox::shared();
    server = std::make_unique<TestHttpsServer>(sandbox.certificateFile(), sandbox.keyFile(),
                                               std::vector<int>{443, 8443});
    ASSERT_EQ(server->error(), "");
  }
  // The context's keychain store over the test session's gnome-keyring, from a clean item.
  void useRealKeyring() {
    secretTool({"clear", "service", kService, "account", "MacGap_password"});
    keychain = std::make_shared<PDKeychainBindingsController>(
        kService, std::make_shared<keychain::LibsecretBackend>());
    context = makeContext();
  }
  std::unique_ptr<ShellContext> makeContext() {
    return std::make_unique<ShellContext>(
        ShellContext::Services{.application = std::make_shared<FakeApplicationControl>(),
                               .notifications = std::make_shared<FakeNotificationService>(),
                               .workspace = std::make_shared<FakeWorkspace>(),
                               .defaults = &UserDefaults::standard(),
                               .center = &NotificationCenter::defaultCenter(),
                               .clipboard = std::make_shared<MemoryClipboard>(),
                               .keychain = keychain});
  }
  static UserDefaults& store() { return UserDefaults::standard(); }

  std::shared_ptr<keychain::testing::MemorySecretBackend> secrets =
      std::make_shared<keychain::testing::MemorySecretBackend>();
  std::shared_ptr<PDKeychainBindingsController> keychain =
      std::make_shared<PDKeychainBindingsController>(kService, secrets);
  std::unique_ptr<ShellContext> context = makeContext();
  std::unique_ptr<TestHttpsServer> server;
  std::vector<std::string> posted;
  std::vector<NotificationCenter::Token> tokens;
};

#define WD_REQUIRE_SERVERS()                                                   \
  do {                                                                         \
    if (auto& sandbox_ = NetworkSandbox::shared(); !sandbox_.reason().empty()) \
      GTEST_SKIP() << "network sandbox: " << sandbox_.reason();                \
    startServers();                                                            \
    if (HasFatalFailure()) return;                                             \
  } while (0)

}  // namespace wd::test
