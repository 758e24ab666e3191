#pragma once
// Shared fixture of the `--discover` tests: HTTPS servers with the command-line scenarios.
#include <gtest/gtest.h>

#include <iostream>
#include <memory>
#include <sstream>
#include <string>

#include "HttpsServersFixture.h"
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
  std::string err;  // standard error (the executable's runs only)
};

class DiscoverCli : public test::HttpsServersTest {
 protected:
  void SetUp() override {
    HttpsServersTest::SetUp();
    if (!serversReady()) return;
    server->route("h.cli.test", 8443,
                  Behaviour::challenge("user@cli.test", "pass word",
                                       autodiscoverDocument("s.cli.test:8443")));
    server->route("h.srv.test", 8443, Behaviour::document(autodiscoverDocument("s.srv.test")));
    untrusted->route("untrusted.test", 9443,
                     Behaviour::document(autodiscoverDocument("s.untrusted.test")));
  }

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
};

inline Json parseLine(const std::string& out) {
  EXPECT_FALSE(out.empty());
  EXPECT_EQ(out.back(), '\n');
  EXPECT_EQ(out.find('\n'), out.size() - 1) << "one line";
  return Json::parse(out, nullptr, false);
}

}  // namespace wd
