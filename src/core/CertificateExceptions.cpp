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
  {
    std::lock_guard lock(mutex_);
    if (allow)
      hosts_.insert(key);
    else
      hosts_.erase(key);
  }
  notify(key, allow);
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
  std::set<std::string> removed;
  {
    std::lock_guard lock(mutex_);
    removed.swap(hosts_);
  }
  for (const auto& host : removed) notify(host, false);
}

int CertificateExceptions::addObserver(Observer observer) {
  std::lock_guard lock(mutex_);
  const int id = nextObserver_++;
  observers_.emplace_back(id, std::make_shared<Observer>(std::move(observer)));
  return id;
}

void CertificateExceptions::removeObserver(int id) {
  std::lock_guard lock(mutex_);
  std::erase_if(observers_, [id](const auto& entry) { return entry.first == id; });
}

void CertificateExceptions::notify(const std::string& host, bool allowed) {
  // A copy: an observer may add or remove observers.
  std::vector<std::shared_ptr<Observer>> observers;
  {
    std::lock_guard lock(mutex_);
    for (const auto& entry : observers_) observers.push_back(entry.second);
  }
  for (const auto& observer : observers) (*observer)(host, allowed);
}

}  // namespace wd
