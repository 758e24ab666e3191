#pragma once
// A private network and mount namespace for the autodiscovery integration tests, entered before
// main: its own /etc/hosts, resolv.conf (dnsmasq on 127.0.0.1:53 with every scenario's records)
// and nsswitch.conf, a test CA over the system bundle, seen by the unchanged system resolver and
// TLS code and by nothing outside the process. Without namespaces (or with
// WD_AUTODISCOVER_NO_NETNS=1) `available()` is false and the network tests skip with the reason.
#include <string>

namespace wd::test {

class NetworkSandbox {
 public:
  // The one sandbox of this process; set up on first use.
  static NetworkSandbox& shared();

  bool available() const { return available_; }
  const std::string& reason() const { return reason_; }
  // PEM files: the server certificate (trusted through the test CA) and its key; "untrusted"
  // names a self-signed pair for "untrusted.test" that nothing trusts.
  std::string certificateFile(bool untrusted = false) const { return file(untrusted, ".pem"); }
  std::string keyFile(bool untrusted = false) const { return file(untrusted, ".key"); }
  // Whether dnsmasq logged a query of `type` ("SRV", "MX", "A") for `name`.
  bool dnsQueried(const std::string& type, const std::string& name) const;

  ~NetworkSandbox();

 private:
  NetworkSandbox();
  bool setUp();
  std::string file(bool untrusted, const char* ext) const {
    return dir_ + (untrusted ? "/untrusted" : "/server") + ext;
  }

  bool available_ = false;
  std::string reason_;
  std::string dir_;
  int dnsmasqPid_ = -1;
};

// Skips the current test when the sandbox is not available.
#define WD_REQUIRE_NETWORK_SANDBOX()                                                     \
  do {                                                                                   \
    auto& sandbox_ = ::wd::test::NetworkSandbox::shared();                               \
    if (!sandbox_.available()) GTEST_SKIP() << "network sandbox: " << sandbox_.reason(); \
  } while (0)

}  // namespace wd::test
