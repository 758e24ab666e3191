#pragma once
// Process-wide registry of hosts whose server certificates are accepted even when they do not
// validate. HTTP sessions consult it when a certificate fails; web views use it to allow the
// failing certificate of an excepted host.
#include <functional>
#include <mutex>
#include <set>
#include <string>

namespace wd {

class CertificateExceptions {
 public:
  static CertificateExceptions& shared();

  // Accept (or stop accepting) any certificate from `host`. Host names compare
  // case-insensitively; an empty host is ignored.
  void setAllowsAnyCertificate(bool allow, const std::string& host);
  bool allowsAnyCertificate(const std::string& host) const;
  std::set<std::string> hosts() const;
  void clear();

 private:
  mutable std::mutex mutex_;
  std::set<std::string> hosts_;
};

}  // namespace wd
