#include "core/CertificateExceptions.h"

#include <algorithm>
#include <cctype>

namespace wd {

namespace {
std::string normalized(std::string host) {
  std::transform(host.begin(), host.end(), host.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  while (!host.empty() && host.back() == '.') host.pop_back();
  return host;
}
}  // namespace

CertificateExceptions& CertificateExceptions::shared() {
  static CertificateExceptions registry;
  return registry;
}

void CertificateExceptions::setAllowsAnyCertificate(bool allow, const std::string& host) {
  auto key = normalized(host);
  if (key.empty()) return;
  std::lock_guard lock(mutex_);
  if (allow)
    hosts_.insert(key);
  else
    hosts_.erase(key);
}

bool CertificateExceptions::allowsAnyCertificate(const std::string& host) const {
  auto key = normalized(host);
  std::lock_guard lock(mutex_);
  return hosts_.count(key) != 0;
}

std::set<std::string> CertificateExceptions::hosts() const {
  std::lock_guard lock(mutex_);
  return hosts_;
}

void CertificateExceptions::clear() {
  std::lock_guard lock(mutex_);
  hosts_.clear();
}

}  // namespace wd
