#pragma once
// Private network and mount namespaces entered before main: own hosts, resolv.conf (dnsmasq on
// 127.0.0.1:53) and the test server's certificate as the system bundle. WD_AUTODISCOVER_NO_NETNS=1
// skips the tests.
#include <string>

namespace wd::test {

class NetworkSandbox {
 public:
  static NetworkSandbox& shared();
  const std::string& reason() const { return reason_; }  // why it cannot be used, empty if it can
  // PEM files: the server certificate (the only trusted one) and its key, or (untrusted) a pair
  // for "untrusted.test".
  std::string certificateFile(bool untrusted = false) const { return file(untrusted, ".pem"); }
  std::string keyFile(bool untrusted = false) const { return file(untrusted, ".key"); }
  // Whether dnsmasq logged a query of `type` ("SRV", "MX", "A") for `name`.
  bool dnsQueried(const std::string& type, const std::string& name) const;
  ~NetworkSandbox();

 private:
  NetworkSandbox();
  std::string setUp();  // why the sandbox cannot be used, empty when it can
  std::string file(bool untrusted, const char* ext) const {
    return dir_ + (untrusted ? "/untrusted" : "/server") + ext;
  }
  std::string reason_, dir_;
  int dnsmasqPid_ = -1;
};

}  // namespace wd::test
