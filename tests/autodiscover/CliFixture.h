#pragma once
// Shared fixture of the `--discover` tests: HTTPS servers with the command-line scenarios.
#include <gtest/gtest.h>

#include <iostream>
#include <memory>
#include <sstream>
#include <string>

#include "NetworkSandbox.h"
#include "TestHttpsServer.h"
#include "autodiscover/DiscoverCli.h"
#include "core/CertificateExceptions.h"
#include "core/Json.h"

namespace wd {

using test::autodiscoverDocument;
using test::Behaviour;

struct CliResult {
  int status = -1;
  std::string out;
};

class DiscoverCli : public ::testing::Test {
 protected:
  void SetUp() override {
    WD_REQUIRE_NETWORK_SANDBOX();
    auto& sandbox = test::NetworkSandbox::shared();
    server = std::make_unique<test::TestHttpsServer>(sandbox.certificateFile(), sandbox.keyFile(),
                                                     std::vector<int>{443, 8443});
    ASSERT_TRUE(server->ok()) << server->error();
    untrusted = std::make_unique<test::TestHttpsServer>(
        sandbox.untrustedCertificateFile(), sandbox.untrustedKeyFile(), std::vector<int>{9443});
    ASSERT_TRUE(untrusted->ok()) << untrusted->error();
    server->route("h.cli.test", 8443,
                  Behaviour::challenge("user@cli.test", "pass word",
                                       autodiscoverDocument("s.cli.test:8443")));
    server->route("h.srv.test", 8443, Behaviour::document(autodiscoverDocument("s.srv.test")));
    untrusted->route("untrusted.test", 9443,
                     Behaviour::document(autodiscoverDocument("s.untrusted.test")));
  }
  void TearDown() override { CertificateExceptions::shared().clear(); }

  // Runs the command function with `input` as standard input, capturing standard output.
  static CliResult runInProcess(const DiscoverOptions& options, const std::string& input) {
    std::istringstream in(input);
    auto* saved = std::cin.rdbuf(in.rdbuf());
    ::testing::internal::CaptureStdout();
    CliResult r;
    r.status = runDiscoverCommand(options);
    r.out = ::testing::internal::GetCapturedStdout();
    std::cin.rdbuf(saved);
    std::cin.clear();
    return r;
  }

  std::unique_ptr<test::TestHttpsServer> server;
  std::unique_ptr<test::TestHttpsServer> untrusted;
};

inline Json parseLine(const std::string& out) {
  EXPECT_FALSE(out.empty());
  EXPECT_EQ(out.back(), '\n');
  EXPECT_EQ(out.find('\n'), out.size() - 1) << "one line";
  return Json::parse(out, nullptr, false);
}

}  // namespace wd
