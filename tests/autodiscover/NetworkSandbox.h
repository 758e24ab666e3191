#pragma once
// A private network and mount namespace for the autodiscovery integration tests.
//
// At process start (before main, while the process is single-threaded) the test binary moves
// itself into new network and mount namespaces (as root: unshare(CLONE_NEWNET|CLONE_NEWNS); as
// another user: inside a new user namespace that maps the user to root). There, loopback is
// brought up and, before the first test, the sandbox
//  - bind-mounts its own /etc/resolv.conf (nameserver 127.0.0.1), /etc/hosts and
//    /etc/nsswitch.conf ("hosts: files dns"), so the code under test resolves names through the
//    unchanged system resolver configuration;
//  - generates a test CA and a server certificate for every test host with the openssl CLI and
//    bind-mounts the CA over the system CA bundle: only this process (and its children) trust it;
//  - starts dnsmasq on 127.0.0.1:53 with the records of every scenario (killed with the test
//    process: PR_SET_PDEATHSIG, and explicitly at the end).
// Nothing of this is visible outside the process: the host's files and network are untouched.
//
// Fallback: where namespaces cannot be created (a container without CAP_SYS_ADMIN and without
// user namespaces), `available()` is false and the network tests skip with the reason. Set
// WD_AUTODISCOVER_NO_NETNS=1 to force that path.
#include <string>
#include <vector>

namespace wd::test {

class NetworkSandbox {
 public:
  // The one sandbox of this process; set up on first use (dnsmasq, certificates, mounts).
  static NetworkSandbox& shared();

  bool available() const { return available_; }
  const std::string& reason() const { return reason_; }

  // PEM files of the server certificate (trusted via the test CA) and of a self-signed one that
  // nothing trusts (for "untrusted.test").
  const std::string& certificateFile() const { return certFile_; }
  const std::string& keyFile() const { return keyFile_; }
  const std::string& untrustedCertificateFile() const { return untrustedCertFile_; }
  const std::string& untrustedKeyFile() const { return untrustedKeyFile_; }
  const std::string& directory() const { return dir_; }

  // Lines of dnsmasq's query log ("query[SRV] name from 127.0.0.1", ...).
  std::vector<std::string> dnsQueries() const;
  // Whether dnsmasq logged a query of `type` ("SRV", "MX", "A") for `name`.
  bool dnsQueried(const std::string& type, const std::string& name) const;

  ~NetworkSandbox();

 private:
  NetworkSandbox();
  bool setUp();
  bool startDnsmasq();
  void stopDnsmasq();

  bool available_ = false;
  std::string reason_;
  std::string dir_;
  std::string certFile_, keyFile_, untrustedCertFile_, untrustedKeyFile_;
  int dnsmasqPid_ = -1;
};

// Skips the current test when the sandbox is not available.
#define WD_REQUIRE_NETWORK_SANDBOX()                                                     \
  do {                                                                                   \
    auto& sandbox_ = ::wd::test::NetworkSandbox::shared();                               \
    if (!sandbox_.available()) GTEST_SKIP() << "network sandbox: " << sandbox_.reason(); \
  } while (0)

}  // namespace wd::test
