#pragma once
// Certificate exceptions as the web engine takes them. The engine accepts an untrusted server
// certificate only when told that exact certificate for a host
// (webkit_web_context_allow_tls_certificate_for_host), so this keeps the last certificate that
// failed for each host. When a host is (or later becomes) excepted in the process-wide
// CertificateExceptions registry, its remembered certificate is allowed for that host only.
// One per web context; main loop only.
#include <map>
#include <memory>
#include <string>

typedef struct _WebKitWebContext WebKitWebContext;
typedef struct _GTlsCertificate GTlsCertificate;

namespace wd {

class CertificateExceptions;

class CertificateTrust {
 public:
  CertificateTrust(WebKitWebContext* context, CertificateExceptions& exceptions);
  ~CertificateTrust();
  CertificateTrust(const CertificateTrust&) = delete;
  CertificateTrust& operator=(const CertificateTrust&) = delete;

  // A load from `host` failed on `certificate`. Remembers it; when the host is excepted already
  // the certificate is allowed at once and the answer is true (a retry will succeed).
  bool certificateFailed(const std::string& host, GTlsCertificate* certificate);
  // Whether a certificate was allowed for `host` by this object.
  bool allowed(const std::string& host) const;

 private:
  struct Entry {
    std::shared_ptr<GTlsCertificate> certificate;
    bool allowed = false;
  };
  void exceptionChanged(const std::string& host, bool allowed);
  void allow(const std::string& host, Entry& entry);

  WebKitWebContext* context_;  // not owned; outlives this object
  CertificateExceptions& exceptions_;
  int observer_ = 0;
  std::map<std::string, Entry> hosts_;  // by normalized host name
};

// The host of the `MacGap_server` setting ("host", "host:port" or a URL), lower case; empty
// when it names none.
std::string serverHost(const std::string& serverSetting);

}  // namespace wd
