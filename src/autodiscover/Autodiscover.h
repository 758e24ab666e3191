#pragma once
// Autodiscovery: given an e-mail domain, find the mail server by three attempts made strictly one
// after another, each under its own time limit (the total divided by the number of attempts,
// integer division):
//   1. SRV lookup of "_autodiscover._tcp.<domain>", then a request to the first answer's target
//      and port (port 0 means 443);
//   2. MX lookup of <domain>, then a request to the first answer's exchange on port 443;
//   3. a request to <domain> on port 443 (none when the domain is not a plain host name: the
//      attempt then fails like an unreachable server).
// Each request is "https://<host>:<port>/autodiscover/autodiscover.xml". The first attempt that
// finds a server, or reaches one that refuses the credentials (HTTP 401), ends the search; other
// failures move on; when all fail the outcome is code 2 (code 1 when the last one timed out).
//
// Ownership: every object here is held by std::shared_ptr and refers to its delegate weakly.
// An object keeps itself alive while it calls out, so a delegate may stop and drop the object
// from inside any report; after a report the reporter touches only what stop/cancel left.
#include <glib.h>

#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <variant>

#include "autodiscover/EndPoint.h"
#include "autodiscover/SRVResolver.h"
#include "autodiscover/XMLSource.h"

namespace wd {

class DNSAutodiscover;
class Autodiscover;

class DNSAutodiscoverDelegate : public AutodiscoverCredentials {
 public:
  virtual void autodiscoverJobFinished(DNSAutodiscover& job, const EndPoint& endPoint) = 0;
};

class AutodiscoverDelegate : public AutodiscoverCredentials {
 public:
  virtual void autodiscoverFinished(Autodiscover& autodiscover, const EndPoint& endPoint) = 0;
};

// The request URL for a host and port.
std::string autodiscoverURL(const std::string& host, long long port);

// One attempt: a DNS lookup followed by one autodiscover request, or the request alone.
// Reports once to its delegate (or never, when cancelled or dropped first).
class DNSAutodiscover : public SRVResolverDelegate,
                        public XMLSourceDelegate,
                        public std::enable_shared_from_this<DNSAutodiscover> {
 public:
  static std::shared_ptr<DNSAutodiscover> create(std::weak_ptr<DNSAutodiscoverDelegate> delegate);
  ~DNSAutodiscover() override;
  DNSAutodiscover(const DNSAutodiscover&) = delete;
  DNSAutodiscover& operator=(const DNSAutodiscover&) = delete;

  void startWithRecord(const DNSRecord& record);
  void startWithEndpoint(const EndPoint& endPoint);
  // Stops the lookup and the request; nothing is reported afterwards.
  void cancel();

  const std::optional<DNSRecord>& record() const { return record_; }

  // SRVResolverDelegate
  void srvResolverDidReceiveResult(SRVResolver& resolver, const SRVResult& result) override;
  void srvResolverDidStopWithError(SRVResolver& resolver,
                                   const std::optional<SRVResolverError>& error) override;
  // Acts on its first call only: a URL starts the request, anything else ends with code 2.
  void finishedInSrvResolver(const std::optional<std::string>& url,
                             const std::optional<std::string>& error);

  // XMLSourceDelegate
  void xmlSourceDidFinished(XMLSource& source, const std::string& content) override;
  void invalidCredentials(XMLSource& source) override;
  std::optional<Credential> credentials() override;
  void finishedInXmlSource(const std::string& body);

 private:
  explicit DNSAutodiscover(std::weak_ptr<DNSAutodiscoverDelegate> delegate);
  void startRequest(const std::string& url);
  void report(const EndPoint& endPoint);

  std::optional<DNSRecord> record_;
  std::weak_ptr<DNSAutodiscoverDelegate> delegate_;
  std::shared_ptr<SRVResolver> srvResolver_;
  bool srvFinished_ = false;
  std::shared_ptr<XMLSource> xmlSource_;
  bool reported_ = false;
};

class Autodiscover : public DNSAutodiscoverDelegate,
                     public std::enable_shared_from_this<Autodiscover> {
 public:
  using Attempt = std::variant<DNSRecord, EndPoint>;

  // The three attempts for `domain` (used unchanged).
  static std::shared_ptr<Autodiscover> createWithSRV(const std::string& domain);
  ~Autodiscover() override;
  Autodiscover(const Autodiscover&) = delete;
  Autodiscover& operator=(const Autodiscover&) = delete;

  // Per-attempt limit = totalSeconds / number of attempts (integer division); starts the first.
  void resolveWithTimeout(int totalSeconds, std::weak_ptr<AutodiscoverDelegate> delegate);
  // Starts the next attempt (dropping, and so cancelling, the running one); false if none left.
  bool nextAttempt();
  // The running attempt's time is up.
  void autodiscoverTimeout();
  // Ends the search at once: no timer, no attempt, no delegate; nothing is reported.
  void stop();

  const std::deque<Attempt>& attempts() const { return attempts_; }
  double timeout() const { return timeout_; }
  bool isRunning() const { return dnsAutodiscover_ != nullptr; }

  // DNSAutodiscoverDelegate
  void autodiscoverJobFinished(DNSAutodiscover& job, const EndPoint& endPoint) override;
  std::optional<Credential> credentials() override;

 private:
  explicit Autodiscover(const std::string& domain);
  void finishWith(const EndPoint& endPoint);
  void cancelTimer();
  static gboolean timerFired(gpointer data);

  std::deque<Attempt> attempts_;
  double timeout_ = 0;
  guint timer_ = 0;
  std::shared_ptr<DNSAutodiscover> dnsAutodiscover_;
  std::weak_ptr<AutodiscoverDelegate> delegate_;
};

}  // namespace wd
