#pragma once
// Base fixture of the network tests that talk to HTTPS servers inside the network sandbox:
// `server` (trusted certificate, ports 443 and 8443) and `untrusted` (a certificate nobody
// trusts, port 9443). Skips the test when the sandbox is unavailable; forgets certificate
// exceptions afterwards. Derived SetUp() functions call this one first and return when
// serversReady() is false.
#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "NetworkSandbox.h"
#include "TestHttpsServer.h"
#include "core/CertificateExceptions.h"

namespace wd::test {

class HttpsServersTest : public ::testing::Test {
 protected:
  void SetUp() override {
    WD_REQUIRE_NETWORK_SANDBOX();
    auto& sandbox = NetworkSandbox::shared();
    server = std::make_unique<TestHttpsServer>(sandbox.certificateFile(), sandbox.keyFile(),
                                               std::vector<int>{443, 8443});
    ASSERT_TRUE(server->ok()) << server->error();
    untrusted = std::make_unique<TestHttpsServer>(
        sandbox.untrustedCertificateFile(), sandbox.untrustedKeyFile(), std::vector<int>{9443});
    ASSERT_TRUE(untrusted->ok()) << untrusted->error();
  }
  void TearDown() override { CertificateExceptions::shared().clear(); }

  // False when SetUp() skipped the test or failed to start the servers.
  bool serversReady() const { return !IsSkipped() && !HasFatalFailure(); }

  std::unique_ptr<TestHttpsServer> server;
  std::unique_ptr<TestHttpsServer> untrusted;
};

}  // namespace wd::test
