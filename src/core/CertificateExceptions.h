#pragma once
// Process-wide registry of hosts whose server certificates are accepted even when they do not
// validate. HTTP sessions consult it when a certificate fails; web views use it to allow the
// failing certificate of an excepted host.
#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <utility>
#include <vector>

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

  // Called with the (normalized) host after every change of its exception, on the thread that
  // made it and outside the lock. Returns an id for removeObserver.
  using Observer = std::function<void(const std::string& host, bool allowed)>;
  int addObserver(Observer observer);
  void removeObserver(int id);

 private:
  void notify(const std::string& host, bool allowed);

  mutable std::mutex mutex_;
  std::set<std::string> hosts_;
  std::vector<std::pair<int, std::shared_ptr<Observer>>> observers_;
  int nextObserver_ = 1;
};

}  // namespace wd
