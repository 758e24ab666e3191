// Certificate exceptions handed to the web engine per host (see CertificateTrust.h).
#include "shell/window/CertificateTrust.h"

#include <webkit2/webkit2.h>

#include <algorithm>

#include "core/CertificateExceptions.h"
#include "core/Log.h"

namespace wd {

namespace {
std::string normalized(std::string host) {
  std::transform(host.begin(), host.end(), host.begin(),
                 [](unsigned char c) { return static_cast<char>(g_ascii_tolower(c)); });
  while (!host.empty() && host.back() == '.') host.pop_back();
  return host;
}
}  // namespace

std::string serverHost(const std::string& serverSetting) {
  std::string text = serverSetting;
  text.erase(0, text.find_first_not_of(" \t\r\n"));
  text.erase(text.find_last_not_of(" \t\r\n") + 1);
  if (text.empty()) return {};
  if (text.find("://") == std::string::npos) text = "https://" + text;
  GUri* uri = g_uri_parse(text.c_str(), G_URI_FLAGS_NONE, nullptr);
  if (!uri) return {};
  std::string host = g_uri_get_host(uri) ? g_uri_get_host(uri) : "";
  g_uri_unref(uri);
  return normalized(host);
}

CertificateTrust::CertificateTrust(WebKitWebContext* context, CertificateExceptions& exceptions)
    : context_(context), exceptions_(exceptions) {
  observer_ = exceptions_.addObserver(
      [this](const std::string& host, bool allowed) { exceptionChanged(host, allowed); });
}

CertificateTrust::~CertificateTrust() {
  exceptions_.removeObserver(observer_);
}

bool CertificateTrust::certificateFailed(const std::string& rawHost, GTlsCertificate* certificate) {
  const std::string host = normalized(rawHost);
  if (host.empty() || !certificate) return false;
  Entry& entry = hosts_[host];
  entry.certificate.reset(G_TLS_CERTIFICATE(g_object_ref(certificate)), g_object_unref);
  entry.allowed = false;
  if (!exceptions_.allowsAnyCertificate(host)) return false;
  allow(host, entry);
  return true;
}

bool CertificateTrust::allowed(const std::string& host) const {
  auto it = hosts_.find(normalized(host));
  return it != hosts_.end() && it->second.allowed;
}

void CertificateTrust::exceptionChanged(const std::string& host, bool allowed) {
  auto it = hosts_.find(host);
  if (it == hosts_.end()) return;
  // The engine has no call to withdraw a certificate once allowed: a withdrawn exception takes
  // effect for the next web context (the next start of the application).
  if (allowed && !it->second.allowed) allow(host, it->second);
}

void CertificateTrust::allow(const std::string& host, Entry& entry) {
  if (!context_ || !entry.certificate) return;
  webkit_web_context_allow_tls_certificate_for_host(context_, entry.certificate.get(),
                                                    host.c_str());
  entry.allowed = true;
  WD_LOG_INFO("Accepting the untrusted certificate of {} (certificate exception)", host);
}

}  // namespace wd
