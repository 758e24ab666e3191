#include "autodiscover/Autodiscover.h"

#include <cmath>
#include <utility>

#include "autodiscover/DnsRecordParser.h"
#include "autodiscover/XMLParser.h"

namespace wd {

namespace {

// A host must be a plain host name before it becomes the host of a URL: letters, digits, "-",
// "_" and "." only (and, for internationalised domain names, bytes of non-ASCII UTF-8 text, which
// the HTTP layer converts). Anything else (the root ".", which means "no service", or bytes such
// as "/", "@" or ":" that would change the URL's meaning) is treated like a failed lookup.
bool isPlainHostName(const std::string& host) {
  if (host.empty() || host.size() > 253 || host.front() == '.') return false;
  for (unsigned char c : host) {
    const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                    c == '-' || c == '_' || c == '.' || c >= 0x80;
    if (!ok) return false;
  }
  return host.find("..") == std::string::npos;
}

}  // namespace

std::string autodiscoverURL(const std::string& host, long long port) {
  return "https://" + host + ":" + std::to_string(port) + "/autodiscover/autodiscover.xml";
}

// ---------------------------------------------------------------------------------------------
// DNSAutodiscover

std::shared_ptr<DNSAutodiscover> DNSAutodiscover::create(
    std::weak_ptr<DNSAutodiscoverDelegate> delegate) {
  return std::shared_ptr<DNSAutodiscover>(new DNSAutodiscover(std::move(delegate)));
}

DNSAutodiscover::DNSAutodiscover(std::weak_ptr<DNSAutodiscoverDelegate> delegate)
    : delegate_(std::move(delegate)) {}

DNSAutodiscover::~DNSAutodiscover() {
  cancel();
}

void DNSAutodiscover::startWithRecord(const DNSRecord& record) {
  record_ = record;
  srvResolver_ = SRVResolver::create(record.name, record.type);
  srvResolver_->setDelegate(weak_from_this());
  auto resolver = srvResolver_;  // start may report, and the report may drop this job
  resolver->start();
}

void DNSAutodiscover::startWithEndpoint(const EndPoint& endPoint) {
  // The direct attempt's host is the domain as given. Unless it is a plain host name, the URL
  // built from it would name another host, path or user ("a.test/#", "u:p@a.test"): such a
  // request is made with no URL at all, which fails like an unreachable server (from the loop).
  const std::string host = endPoint.host().value_or(std::string());
  startRequest(isPlainHostName(host) ? autodiscoverURL(host, endPoint.port()) : std::string());
}

void DNSAutodiscover::startRequest(const std::string& url) {
  xmlSource_ = XMLSource::create(url, weak_from_this());
  auto source = xmlSource_;
  source->start();
}

void DNSAutodiscover::cancel() {
  if (srvResolver_) srvResolver_->stop();
  if (xmlSource_) xmlSource_->cancel();
}

void DNSAutodiscover::srvResolverDidReceiveResult(SRVResolver& resolver, const SRVResult& result) {
  if (&resolver != srvResolver_.get() || srvFinished_) return;
  if (!isPlainHostName(result.target)) {
    finishedInSrvResolver(std::nullopt, std::string("the answer names no host"));
    return;
  }
  const long long port = result.port == 0 ? 443 : result.port;
  finishedInSrvResolver(autodiscoverURL(result.target, port), std::nullopt);
}

void DNSAutodiscover::srvResolverDidStopWithError(SRVResolver& resolver,
                                                  const std::optional<SRVResolverError>& error) {
  if (&resolver != srvResolver_.get()) return;
  // The resolver's errors carry no description.
  (void)error;
  finishedInSrvResolver(std::nullopt, std::nullopt);
}

void DNSAutodiscover::finishedInSrvResolver(const std::optional<std::string>& url,
                                            const std::optional<std::string>& error) {
  if (srvFinished_) return;
  srvFinished_ = true;
  if (url && !error) {
    startRequest(*url);
    return;
  }
  cancel();
  report(EndPoint::endPointWithError(EndPointErrorNotFound));
}

void DNSAutodiscover::xmlSourceDidFinished(XMLSource& source, const std::string& content) {
  if (&source != xmlSource_.get()) return;
  finishedInXmlSource(content);
}

void DNSAutodiscover::finishedInXmlSource(const std::string& body) {
  if (body.empty()) {
    report(EndPoint::endPointWithError(EndPointErrorBadResponse));
    return;
  }
  report(XMLParser().parse(body));
}

void DNSAutodiscover::invalidCredentials(XMLSource& source) {
  if (&source != xmlSource_.get()) return;
  report(EndPoint::endPointWithError(EndPointErrorInvalidCredentials));
}

std::optional<Credential> DNSAutodiscover::credentials() {
  if (auto delegate = delegate_.lock()) return delegate->credentials();
  return std::nullopt;
}

void DNSAutodiscover::report(const EndPoint& endPoint) {
  if (reported_) return;
  reported_ = true;
  auto self = shared_from_this();
  if (auto delegate = delegate_.lock()) delegate->autodiscoverJobFinished(*this, endPoint);
  // Nothing of this job is touched after the report: the owner may have dropped it.
}

// ---------------------------------------------------------------------------------------------
// Autodiscover

std::shared_ptr<Autodiscover> Autodiscover::createWithSRV(const std::string& domain) {
  return std::shared_ptr<Autodiscover>(new Autodiscover(domain));
}

Autodiscover::Autodiscover(const std::string& domain) {
  attempts_.emplace_back(DNSRecord(dns::kTypeSRV, "_autodiscover._tcp." + domain));
  attempts_.emplace_back(DNSRecord(dns::kTypeMX, domain));
  attempts_.emplace_back(EndPoint::endPointWithHost(domain, 443));
}

Autodiscover::~Autodiscover() {
  stop();
}

void Autodiscover::resolveWithTimeout(int totalSeconds,
                                      std::weak_ptr<AutodiscoverDelegate> delegate) {
  auto self = shared_from_this();
  delegate_ = std::move(delegate);
  if (attempts_.empty()) {  // nothing left to try (a used search): not found, at once
    finishWith(EndPoint::endPointWithError(EndPointErrorNotFound));
    return;
  }
  timeout_ = static_cast<double>(totalSeconds / static_cast<int>(attempts_.size()));
  nextAttempt();
}

bool Autodiscover::nextAttempt() {
  if (attempts_.empty()) return false;
  auto self = shared_from_this();
  auto job = DNSAutodiscover::create(weak_from_this());
  // Dropping the former attempt cancels it (at once, or when its own report returns).
  if (auto previous = std::exchange(dnsAutodiscover_, job)) previous->cancel();
  const Attempt attempt = attempts_.front();
  // The entry leaves the list and the timer runs before the attempt starts: an attempt that
  // fails at once reports from inside its start, and the search must already have moved past it.
  attempts_.pop_front();
  cancelTimer();
  const double ms = std::max(0.0, std::floor(timeout_ * 1000.0));
  timer_ = g_timeout_add_full(
      G_PRIORITY_DEFAULT, static_cast<guint>(std::min(ms, 4.0e9)), &Autodiscover::timerFired,
      new std::weak_ptr<Autodiscover>(weak_from_this()),
      [](gpointer p) { delete static_cast<std::weak_ptr<Autodiscover>*>(p); });
  if (const auto* record = std::get_if<DNSRecord>(&attempt))
    job->startWithRecord(*record);
  else
    job->startWithEndpoint(std::get<EndPoint>(attempt));
  return true;
}

gboolean Autodiscover::timerFired(gpointer data) {
  if (auto self = static_cast<std::weak_ptr<Autodiscover>*>(data)->lock()) {
    self->timer_ = 0;
    self->autodiscoverTimeout();
  }
  return G_SOURCE_REMOVE;
}

void Autodiscover::autodiscoverTimeout() {
  auto self = shared_from_this();
  if (!nextAttempt()) finishWith(EndPoint::endPointWithError(EndPointErrorTimeout));
}

void Autodiscover::autodiscoverJobFinished(DNSAutodiscover& job, const EndPoint& endPoint) {
  if (&job != dnsAutodiscover_.get()) return;  // a dropped attempt
  auto self = shared_from_this();
  cancelTimer();
  if (endPoint.isPartialSuccess()) {
    finishWith(endPoint);
    return;
  }
  if (!nextAttempt()) finishWith(EndPoint::endPointWithError(EndPointErrorNotFound));
}

void Autodiscover::finishWith(const EndPoint& endPoint) {
  auto self = shared_from_this();
  cancelTimer();
  if (auto delegate = delegate_.lock()) delegate->autodiscoverFinished(*this, endPoint);
  stop();
}

void Autodiscover::stop() {
  cancelTimer();
  if (auto job = std::move(dnsAutodiscover_)) job->cancel();
  delegate_.reset();
}

void Autodiscover::cancelTimer() {
  if (timer_ != 0) g_source_remove(timer_);
  timer_ = 0;
}

std::optional<Credential> Autodiscover::credentials() {
  if (auto delegate = delegate_.lock()) return delegate->credentials();
  return std::nullopt;
}

}  // namespace wd
